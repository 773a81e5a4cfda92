// make_cp_uni: writes the code-page mapping files "CP<number>.UNI" that ship beside kvoucd32.dll,
// from the code-page definitions that the build machine's C library publishes through iconv(3).
//
//   make_cp_uni OUTDIR        write every file of the table below into OUTDIR
//   make_cp_uni --list        print which published definition each number is made from
//
// Every file is checked before it is kept: it must be at most 262,144 bytes (the shared section the
// library loads it into), the library's own reader must accept it, and every code that the source
// defines must map both ways as the source says, while every code it leaves undefined must have no
// mapping. A failed check ends the tool with status 1 and leaves no file behind.
//
// Host tool: built with the machine's own compiler from this one file (plus the library's header-only
// image reader), never cross-compiled.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <map>
#include <string>
#include <vector>

#include "cp_image.h"

namespace {

using kvo::textconv::CpRecords;
using kvo::textconv::kNoMapping;

struct CodePageSource {
    unsigned number;
    const char* iconvName;
    const char* definition;
};

// The published definition behind each number.
const CodePageSource kSources[] = {
    {37, "IBM037", "EBCDIC code page 37 (US/Canada), as IBM037"},
    {819, "ISO-8859-1", "ISO 8859-1 (IBM code page 819)"},
    {850, "IBM850", "the multilingual Latin-1 DOS code page, as IBM850"},
    {1252, "CP1252", "the Windows Latin-1 code page, as CP1252 (0x81, 0x8D, 0x8F, 0x90, 0x9D undefined)"},
    {942, "CP932",
     "vendor variant (IBM Japanese PC, Shift-JIS based); closest published definition: Windows-31J (CP932), "
     "the Shift-JIS set of systems whose ANSI code page is 932, with 0x5C and 0x7E as in ASCII"},
    {946, "CP936", "the number that an explicitly requested 936 uses: GBK as Windows code page 936 (CP936)"},
    {949, "CP949", "Unified Hangul Code, Windows code page 949 (CP949)"},
    {950, "CP950", "Big5 as Windows code page 950 (CP950)"},
    {1381, "EUC-CN",
     "vendor variant (IBM Simplified Chinese PC, GB 2312 based); closest published definition: GB 2312 in "
     "its EUC-CN form (ASCII plus the two-byte GB 2312 set in 0xA1-0xFE)"},
};
// Not made: 944 and 948 (the renumbered 934 and 938); no published definition on the machine fits.

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of in; returns 0, or errno (EILSEQ, EINVAL) when it can't.
    int run(const std::string& in, std::string* out) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buffer[64];
        char* inPtr = const_cast<char*>(in.data());
        size_t inLeft = in.size();
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
            return errno;
        if (iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1))
            return errno;
        out->assign(buffer, outPtr);
        return 0;
    }

private:
    iconv_t cd_;
};

// What the source defines: code-page code -> unit and unit -> code (kNoMapping where undefined).
struct SourceMapping {
    std::vector<uint16_t> toUnicode = std::vector<uint16_t>(0x10000, kNoMapping);    // by code
    std::vector<uint16_t> fromUnicode = std::vector<uint16_t>(0x10000, kNoMapping);  // by unit
    bool leadByte[256] = {};
};

// One 16-bit unit from UTF-16LE bytes, or false for anything else (several units, a pair).
bool singleUnit(const std::string& utf16, uint16_t* unit) {
    if (utf16.size() != 2)
        return false;
    *unit = static_cast<uint16_t>(static_cast<unsigned char>(utf16[0]) |
                                  (static_cast<unsigned char>(utf16[1]) << 8));
    return *unit != 0 && !(*unit >= 0xD800 && *unit <= 0xDFFF);
}

bool readSource(const CodePageSource& source, SourceMapping* m) {
    Converter decode("UTF-16LE", source.iconvName);
    Converter encode(source.iconvName, "UTF-16LE");
    if (!decode.ok() || !encode.ok()) {
        std::fprintf(stderr, "make_cp_uni: iconv does not know %s\n", source.iconvName);
        return false;
    }
    std::string out;
    for (unsigned b = 1; b < 256; ++b) {
        const int rc = decode.run(std::string(1, static_cast<char>(b)), &out);
        uint16_t unit;
        if (rc == 0 && singleUnit(out, &unit))
            m->toUnicode[b] = unit;
        else if (rc == EINVAL)
            m->leadByte[b] = true;  // an incomplete character: the first byte of two
    }
    for (unsigned lead = 1; lead < 256; ++lead) {
        if (!m->leadByte[lead])
            continue;
        for (unsigned trail = 1; trail < 256; ++trail) {
            std::string in{static_cast<char>(lead), static_cast<char>(trail)};
            uint16_t unit;
            if (decode.run(in, &out) == 0 && singleUnit(out, &unit))
                m->toUnicode[(lead << 8) | trail] = unit;
        }
    }
    for (unsigned u = 1; u < 0x10000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF)
            continue;
        std::string in{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        if (encode.run(in, &out) != 0)
            continue;
        if (out.size() == 1 && out[0] != 0)
            m->fromUnicode[u] = static_cast<unsigned char>(out[0]);
        else if (out.size() == 2 && out[0] != 0 && out[1] != 0)
            m->fromUnicode[u] = static_cast<uint16_t>((static_cast<unsigned char>(out[0]) << 8) |
                                                      static_cast<unsigned char>(out[1]));
    }
    return true;
}

// --- Record encoding ---------------------------------------------------------------------------

struct Range {
    unsigned lo, hi;  // lo <= hi
    bool run;
};

bool isRun(const uint16_t* values, unsigned lo, unsigned hi) {
    if (hi == lo)
        return false;  // one value is a table of one: the same size
    for (unsigned x = lo; x <= hi; ++x) {
        if (values[x] == kNoMapping ||
            static_cast<uint16_t>(values[x] - x) != static_cast<uint16_t>(values[lo] - lo))
            return false;
    }
    return true;
}

unsigned rangeCost(const Range& r) {
    return r.run ? 1 : r.hi - r.lo + 1;
}

void appendLe16(std::vector<unsigned char>* out, uint16_t v) {
    out->push_back(static_cast<unsigned char>(v & 0xFF));
    out->push_back(static_cast<unsigned char>(v >> 8));
}

// The smallest record for values[0..255] (kNoMapping where unmapped): one range, or two. Only the
// first range may start at 0 (b2 = 0 means that there is no second range).
std::vector<unsigned char> encodeRecord(const uint16_t* values) {
    std::vector<unsigned> mapped;
    for (unsigned x = 0; x < 256; ++x) {
        if (values[x] != kNoMapping)
            mapped.push_back(x);
    }
    std::vector<unsigned char> record;
    if (mapped.empty()) {
        // A lead byte whose every pair is undefined: one unmapped value.
        record = {1, 1, 0, 0};
        appendLe16(&record, kNoMapping);
        return record;
    }
    auto makeRange = [&](unsigned lo, unsigned hi) { return Range{lo, hi, isRun(values, lo, hi)}; };
    Range first = makeRange(mapped.front(), mapped.back());
    bool haveSecond = false;
    Range second{};
    unsigned best = rangeCost(first);
    for (size_t i = 0; i + 1 < mapped.size(); ++i) {
        const Range a = makeRange(mapped.front(), mapped[i]);
        const Range b = makeRange(mapped[i + 1], mapped.back());
        if (rangeCost(a) + rangeCost(b) < best) {
            best = rangeCost(a) + rangeCost(b);
            first = a;
            second = b;
            haveSecond = true;
        }
    }
    auto bounds = [](const Range& r) {
        return r.run ? std::make_pair(r.hi, r.lo) : std::make_pair(r.lo, r.hi);
    };
    record.push_back(static_cast<unsigned char>(bounds(first).first));
    record.push_back(static_cast<unsigned char>(bounds(first).second));
    record.push_back(haveSecond ? static_cast<unsigned char>(bounds(second).first) : 0);
    record.push_back(haveSecond ? static_cast<unsigned char>(bounds(second).second) : 0);
    for (const Range* r : {&first, haveSecond ? &second : nullptr}) {
        if (r == nullptr)
            continue;
        if (r->run)
            appendLe16(&record, values[r->lo]);
        else
            for (unsigned x = r->lo; x <= r->hi; ++x)
                appendLe16(&record, values[x]);
    }
    return record;
}

std::vector<unsigned char> buildImage(const SourceMapping& m) {
    std::vector<unsigned char> image(kvo::textconv::kCpImageHeaderSize, 0);
    auto setBit = [&](size_t bitmapOffset, unsigned i) { image[bitmapOffset + i / 8] |= 1u << (i % 8); };
    auto putLe32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            image[at + k] = static_cast<unsigned char>(v >> (8 * k));
    };
    uint16_t values[256];
    putLe32(8, static_cast<uint32_t>(image.size()));
    for (unsigned lead = 0; lead < 256; ++lead) {
        if (lead != 0 && !m.leadByte[lead])
            continue;
        bool any = m.leadByte[lead];
        values[0] = kNoMapping;
        for (unsigned x = 1; x < 256; ++x) {
            values[x] = m.toUnicode[lead == 0 ? x : (lead << 8) | x];
            any = any || values[x] != kNoMapping;
        }
        if (!any)
            continue;
        setBit(16, lead);
        const std::vector<unsigned char> record = encodeRecord(values);
        image.insert(image.end(), record.begin(), record.end());
    }
    putLe32(12, static_cast<uint32_t>(image.size()));
    for (unsigned high = 0; high < 256; ++high) {
        bool any = false;
        for (unsigned x = 0; x < 256; ++x) {
            values[x] = (high == 0 && x == 0) ? kNoMapping : m.fromUnicode[(high << 8) | x];
            any = any || values[x] != kNoMapping;
        }
        if (!any)
            continue;
        setBit(48, high);
        const std::vector<unsigned char> record = encodeRecord(values);
        image.insert(image.end(), record.begin(), record.end());
    }
    putLe32(0, static_cast<uint32_t>(image.size()));
    return image;
}

// --- The check ---------------------------------------------------------------------------------

bool checkImage(const CodePageSource& source, const SourceMapping& m,
                const std::vector<unsigned char>& image) {
    const char* name = source.iconvName;
    if (image.size() > kvo::textconv::kCpImageMaxSize) {
        std::fprintf(stderr, "make_cp_uni: CP%u.UNI would be %zu bytes, more than %zu\n", source.number,
                     image.size(), kvo::textconv::kCpImageMaxSize);
        return false;
    }
    CpRecords records;
    if (!kvo::textconv::parseCpImage(image.data(), image.size(), &records)) {
        std::fprintf(stderr, "make_cp_uni: CP%u.UNI is rejected by the image reader\n", source.number);
        return false;
    }
    unsigned errors = 0;
    for (unsigned b = 1; b < 256; ++b) {
        if (kvo::textconv::cpIsLeadByte(records, static_cast<unsigned char>(b)) != m.leadByte[b]) {
            std::fprintf(stderr, "make_cp_uni: %s lead byte %02X differs\n", name, b);
            ++errors;
        }
    }
    for (unsigned code = 1; code < 0x10000; ++code) {
        const unsigned lead = code >> 8;
        if (lead != 0 && !m.leadByte[lead])
            continue;
        if (lead == 0 && m.leadByte[code])
            continue;
        if (lead != 0 && (code & 0xFF) == 0)
            continue;
        unsigned char bytes[3] = {0, 0, 0};
        if (lead != 0) {
            bytes[0] = static_cast<unsigned char>(lead);
            bytes[1] = static_cast<unsigned char>(code & 0xFF);
        } else {
            bytes[0] = static_cast<unsigned char>(code);
        }
        int doubleByte = 0;
        const uint16_t got = kvo::textconv::cpToUnicode(records, bytes, &doubleByte);
        if (got != m.toUnicode[code] || doubleByte != (lead != 0 ? 1 : 0)) {
            if (errors++ < 10)
                std::fprintf(stderr, "make_cp_uni: %s code %04X gives U+%04X, the source says U+%04X\n", name,
                             code, got, m.toUnicode[code]);
        }
    }
    for (unsigned u = 1; u < 0x10000; ++u) {
        const uint16_t got = kvo::textconv::cpUnicodeToCp(records, static_cast<uint16_t>(u));
        if (got != m.fromUnicode[u]) {
            if (errors++ < 20)
                std::fprintf(stderr, "make_cp_uni: %s U+%04X gives %04X, the source says %04X\n", name, u,
                             got, m.fromUnicode[u]);
        }
    }
    return errors == 0;
}

bool writeFile(const std::string& path, const std::vector<unsigned char>& image) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "make_cp_uni: can't create %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const CodePageSource& s : kSources)
            std::printf("CP%u.UNI\t%s: %s\n", s.number, s.iconvName, s.definition);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_cp_uni OUTDIR | --list\n");
        return 2;
    }
    const std::string outDir = argv[1];
    bool ok = true;
    for (const CodePageSource& source : kSources) {
        const std::string path = outDir + "/CP" + std::to_string(source.number) + ".UNI";
        std::remove(path.c_str());
        SourceMapping mapping;
        if (!readSource(source, &mapping)) {
            ok = false;
            continue;
        }
        const std::vector<unsigned char> image = buildImage(mapping);
        if (!checkImage(source, mapping, image) || !writeFile(path, image)) {
            std::remove(path.c_str());
            ok = false;
            continue;
        }
        std::printf("make_cp_uni: CP%u.UNI from %s, %zu bytes\n", source.number, source.iconvName,
                    image.size());
    }
    return ok ? 0 : 1;
}
