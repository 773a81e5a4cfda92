// Whole-text conversions on the nine shipped mapping images (written into the build tree's codepages/
// folder by tools/make_cp_uni), from hostile text. Input: byte 0 picks the image, byte 1 the text's
// alignment and the default character, bytes 2 and 3 a 16-bit default; the rest is the text, read as
// local text, as CompUnicode, as UTF-8 and as little-endian 16-bit units. What is checked:
// common/conversion_checks.h (reference against fast conversions at every output size), and that the
// shipped tables are exact: a text that converts without the used-default flag converts back to
// itself, local text and Unicode text alike.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Converts src with the fast loop of convert into a buffer of the size it asks for; *used gets the flag.
template <class Out, class In, class Convert>
std::vector<Out> convertAll(Convert convert, const In* src, int* used) {
    const int needed = convert(src, static_cast<Out*>(nullptr), 0, used);
    std::vector<Out> out(static_cast<size_t>(needed), 0);
    convert(src, out.data(), needed, used);
    return out;
}

// A text that converts without the flag converts back to the same text, both ways.
void checkExact(const Table& table, const uint8_t* data, size_t size) {
    const kvofuzz::Text local(data, size);
    const auto toUnicode = [&](const unsigned char* src, uint16_t* dst, int len, int* used) {
        return fastCpToUnicode(table.fast, src, dst, len, '*', used);
    };
    const auto toLocal = [&](const uint16_t* src, unsigned char* dst, int len, int* used) {
        return fastUnicodeToCp(table.fast, src, dst, len, '*', used);
    };
    int used = -1;
    const std::vector<uint16_t> units = convertAll<uint16_t>(toUnicode, local.get(), &used);
    if (used == 0) {
        int backUsed = -1;
        const std::vector<unsigned char> back = convertAll<unsigned char>(toLocal, units.data(), &backUsed);
        KVO_FUZZ_CHECK(backUsed == 0 && back.size() == local.length() + 1 &&
                           std::memcmp(back.data(), local.get(), back.size()) == 0,
                       "CP%u: local text converted without the flag does not convert back", table.codePage);
    }
    std::vector<uint16_t> wide = kvofuzz::unitsBeforeZero(data, size);
    wide.push_back(0);
    const std::vector<unsigned char> bytes = convertAll<unsigned char>(toLocal, wide.data(), &used);
    if (used == 0) {
        int backUsed = -1;
        const std::vector<uint16_t> back = convertAll<uint16_t>(toUnicode, bytes.data(), &backUsed);
        KVO_FUZZ_CHECK(backUsed == 0 && back == wide,
                       "CP%u: Unicode text converted without the flag does not convert back", table.codePage);
    }
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
    checkExact(table, data + 4, size - 4);
    return 0;
}
