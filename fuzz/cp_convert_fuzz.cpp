// Whole-text conversions on the nine shipped mapping images (written into the build tree's codepages/
// folder by tools/make_cp_uni), from hostile text. Input: byte 0 picks the image, byte 1 the text's
// alignment and the default character, bytes 2 and 3 a 16-bit default; the rest is the text, read as
// local text, as CompUnicode, as UTF-8 and as little-endian 16-bit units. What is checked:
// common/conversion_checks.h (reference against fast conversions at every output size).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "conversion_checks.h"

using namespace kvo::textconv;
using kvofuzz::Image;

#ifndef KVO_CODEPAGE_DIR
#define KVO_CODEPAGE_DIR "."
#endif

namespace {

// The shipped code pages (the corpus's first byte picks one by its place in this list).
const unsigned kCodePages[] = {KVO_CODEPAGE_NUMBERS};
constexpr size_t kImageCount = sizeof(kCodePages) / sizeof(kCodePages[0]);

struct Table : Image {
    std::vector<unsigned char> bytes;
};

Table* tables = nullptr;

std::vector<unsigned char> readFile(const std::string& path) {
    std::vector<unsigned char> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = std::getenv("KVO_CODEPAGE_DIR");
    if (dir == nullptr)
        dir = KVO_CODEPAGE_DIR;
    tables = new Table[kImageCount];
    for (size_t i = 0; i < kImageCount; ++i) {
        Table& t = tables[i];
        t.codePage = kCodePages[i];
        const std::string path = std::string(dir) + "/CP" + std::to_string(t.codePage) + ".UNI";
        t.bytes = readFile(path);
        if (!parseCpImage(t.bytes.data(), t.bytes.size(), &t.records)) {
            std::fprintf(stderr, "cp_convert_fuzz: no valid mapping image %s (set KVO_CODEPAGE_DIR)\n",
                         path.c_str());
            std::exit(2);
        }
        buildFastTables(t.records, &t.fast);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    const Table& table = tables[data[0] % kImageCount];
    const size_t shift = data[1] & 15;
    const int def = (data[1] & 0x80) ? static_cast<int>(data[2] | (data[3] << 8)) : '*';
    kvofuzz::checkConversions(table, data + 4, size - 4, shift, def);
    return 0;
}
