#include "prop_stream.h"

namespace kvo {

int file_prop_stream::read() {
    const int c = std::fgetc(stream_);
    return c == EOF ? -1 : (c & 0xFF);
}

void file_prop_stream::write(int c) {
    std::fputc(c & 0xFF, stream_);
    ++written_;
}

int buf_prop_stream::read() {
    if (position_ >= size_)
        return -1;
    return buffer_[position_++];
}

void buf_prop_stream::write(int c) {
    if (position_ < size_)
        buffer_[position_] = static_cast<unsigned char>(c & 0xFF);
    ++position_;
}

}  // namespace kvo
