// What the fuzz targets share: a check that stops the run with a message (libFuzzer then keeps the
// input as a crash file), and exactly sized heap buffers, so that AddressSanitizer reports any read or
// write one element past what a function was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#define KVO_FUZZ_CHECK(condition, ...)                                                           \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                                   \
            std::fprintf(stderr, "\n");                                                          \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

namespace kvofuzz {

// count elements on the heap and not one more (count 0 gives a valid pointer to no element), each
// set to fill.
template <class T>
class ExactBuffer {
public:
    ExactBuffer(size_t count, T fill) : data_(new T[count]), count_(count) {
        for (size_t i = 0; i < count; ++i)
            data_[i] = fill;
    }
    T* get() const { return data_.get(); }
    size_t size() const { return count_; }
    T& operator[](size_t i) const { return data_[i]; }

private:
    std::unique_ptr<T[]> data_;
    size_t count_;
};

// The input as a terminated text of exactly its own bytes plus the terminator, starting `shift`
// bytes into its allocation (to move the text across alignments); NUL bytes in the input end it early.
class Text {
public:
    Text(const unsigned char* data, size_t size, size_t shift = 0)
        : storage_(shift + size + 1, 0), text_(storage_.get() + shift) {
        if (size != 0)
            std::memcpy(text_, data, size);
        text_[size] = 0;
    }
    unsigned char* get() const { return text_; }
    const char* chars() const { return reinterpret_cast<const char*>(text_); }
    size_t length() const { return std::strlen(chars()); }

private:
    ExactBuffer<unsigned char> storage_;
    unsigned char* text_;
};

// The input's bytes as little-endian 16-bit units, up to the first zero unit.
inline std::vector<uint16_t> unitsBeforeZero(const uint8_t* data, size_t size) {
    std::vector<uint16_t> units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const uint16_t u = static_cast<uint16_t>(data[i] | (data[i + 1] << 8));
        if (u == 0)
            break;
        units.push_back(u);
    }
    return units;
}

}  // namespace kvofuzz
