// Builds small mapping images for tests, and reads the generated mapping files of the build tree.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifndef KVO_CODEPAGE_DIR
#define KVO_CODEPAGE_DIR "."
#endif

namespace kvotest {

class ImageBuilder {
public:
    using Record = std::vector<unsigned char>;

    // A table for lo..hi with consecutive values from first.
    static Record table(unsigned lo, unsigned hi, uint16_t first) {
        Record r = {static_cast<unsigned char>(lo), static_cast<unsigned char>(hi), 0, 0};
        for (unsigned x = lo; x <= hi; ++x)
            put16(r, static_cast<uint16_t>(first + (x - lo)));
        return r;
    }
    // A run for lo..hi (lo < hi) whose first value is first.
    static Record run(unsigned lo, unsigned hi, uint16_t first) {
        Record r = {static_cast<unsigned char>(hi), static_cast<unsigned char>(lo), 0, 0};
        put16(r, first);
        return r;
    }

    void toUnicode(unsigned lead, Record r) { to_[lead] = std::move(r); }
    void fromUnicode(unsigned high, Record r) { from_[high] = std::move(r); }

    std::vector<unsigned char> build() const {
        std::vector<unsigned char> image(80, 0);
        put32(image, 8, static_cast<uint32_t>(image.size()));
        for (const auto& [i, r] : to_) {
            image[16 + i / 8] |= static_cast<unsigned char>(1u << (i % 8));
            image.insert(image.end(), r.begin(), r.end());
        }
        put32(image, 12, static_cast<uint32_t>(image.size()));
        for (const auto& [i, r] : from_) {
            image[48 + i / 8] |= static_cast<unsigned char>(1u << (i % 8));
            image.insert(image.end(), r.begin(), r.end());
        }
        put32(image, 0, static_cast<uint32_t>(image.size()));
        return image;
    }

private:
    static void put16(Record& r, uint16_t v) {
        r.push_back(static_cast<unsigned char>(v & 0xFF));
        r.push_back(static_cast<unsigned char>(v >> 8));
    }
    static void put32(std::vector<unsigned char>& v, size_t at, uint32_t x) {
        for (int k = 0; k < 4; ++k)
            v[at + k] = static_cast<unsigned char>(x >> (8 * k));
    }

    std::map<unsigned, Record> to_, from_;
};

inline std::vector<unsigned char> readMappingFile(unsigned codePage) {
    std::ifstream in(std::string(KVO_CODEPAGE_DIR) + "/CP" + std::to_string(codePage) + ".UNI",
                     std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kvotest
