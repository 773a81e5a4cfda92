// Byte streams behind the properties reader and writer: one over a standard-I/O stream, one over
// a memory buffer. Platform-free.
#pragma once

#include <cstdio>

namespace kvo {

class prop_stream {
public:
    virtual ~prop_stream() = default;
    // Next byte as 0-255, or -1 at the end.
    virtual int read() = 0;
    // Puts the low 8 bits of c.
    virtual void write(int c) = 0;
    // Bytes written (or the position reached).
    virtual int position() = 0;
};

class file_prop_stream : public prop_stream {
public:
    explicit file_prop_stream(FILE* stream) : stream_(stream) {}
    int read() override;
    void write(int c) override;
    int position() override { return written_; }

private:
    FILE* stream_;
    int written_ = 0;
};

class buf_prop_stream : public prop_stream {
public:
    // buffer may be null only when size is 0.
    buf_prop_stream(unsigned char* buffer, int size) : buffer_(buffer), size_(size) {}
    int read() override;
    void write(int c) override;
    int position() override { return position_; }

private:
    unsigned char* buffer_;
    int size_;
    int position_ = 0;
};

}  // namespace kvo
