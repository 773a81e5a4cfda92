// make_cp_uni: writes the code-page mapping files "CP<number>.UNI" that ship beside kvoucd32.dll,
// from the code-page definitions that the build machine's C library publishes through iconv(3).
//
//   make_cp_uni OUTDIR        write every file of the table below into OUTDIR
//   make_cp_uni --list        print which published definition each number is made from, and what
//                             each file adds to it, leaves out of it or keeps one way, and why
//
// A table answers as the system's own conversion of the same code page does (MultiByteToWideChar with
// MB_ERR_INVALID_CHARS, WideCharToMultiByte without best fit, each result checked by converting it
// back), because a local conversion takes the table or the system only by whether the file is
// installed. Two rules bring the published definitions there:
// - Where Windows defines more of a code page than the published definition (control bytes, the
//   user-defined areas), the table takes the Windows mapping, both ways (kWindowsAdditions).
// - Every conversion is exact or flagged: a table holds no one-way mapping. A unit whose code converts
//   back to another unit (a JIS variant of a double-byte character, a yen sign that would become the
//   path separator 0x5C) and a code whose unit converts back to another code (the second code of a
//   character that a code page codes twice) are left out, so that they convert to the default
//   character and raise the flag. What stays converts back to the same text, both ways.
//
// Every file is checked before it is kept: it must be at most 262,144 bytes (the shared section the
// library loads it into), the library's own reader must accept it, every code that the source defines
// after those rules must map both ways as it says, every code it leaves undefined must have no
// mapping, every code and every unit that maps must convert back to itself, every ASCII character
// must map to a single byte and back, and no other unit may map to such a byte. A failed check ends
// the tool with status 1 and leaves no file behind.
//
// Host tool: built with the machine's own compiler from this one file (plus the library's header-only
// image reader), never cross-compiled.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <initializer_list>
#include <string>
#include <utility>
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
    {1252, "CP1252", "the Windows Latin-1 code page, as CP1252"},
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

// --- What the tables change in the published definitions --------------------------------------

// A code (a byte, or lead byte * 256 + trail byte) and its unit, mapped both ways.
struct CodeUnit {
    uint16_t code;
    uint16_t unit;
};

// The pairs of the lead bytes firstLead..lastLead whose trail bytes lie in the given ranges, lead by
// lead and trail by trail, as consecutive units from firstUnit.
void addUserDefinedArea(unsigned firstLead, unsigned lastLead,
                        std::initializer_list<std::pair<unsigned, unsigned>> trails, uint16_t firstUnit,
                        std::vector<CodeUnit>* out) {
    uint16_t unit = firstUnit;
    for (unsigned lead = firstLead; lead <= lastLead; ++lead) {
        for (const auto& range : trails) {
            for (unsigned trail = range.first; trail <= range.second; ++trail)
                out->push_back({static_cast<uint16_t>((lead << 8) | trail), unit++});
        }
    }
}

std::vector<CodeUnit> controls1252() {
    return {{0x81, 0x0081}, {0x8D, 0x008D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D}};
}

std::vector<CodeUnit> control80() {
    return {{0x80, 0x0080}};
}

std::vector<CodeUnit> userDefined949() {
    std::vector<CodeUnit> out;
    addUserDefinedArea(0xC9, 0xC9, {{0xA1, 0xFE}}, 0xE000, &out);
    addUserDefinedArea(0xFE, 0xFE, {{0xA1, 0xFE}}, 0xE05E, &out);
    return out;
}

std::vector<CodeUnit> userDefined950() {
    std::vector<CodeUnit> out;
    addUserDefinedArea(0xFA, 0xFE, {{0x40, 0x7E}, {0xA1, 0xFE}}, 0xE000, &out);
    addUserDefinedArea(0x8E, 0xA0, {{0x40, 0x7E}, {0xA1, 0xFE}}, 0xE311, &out);
    addUserDefinedArea(0x81, 0x8D, {{0x40, 0x7E}, {0xA1, 0xFE}}, 0xEEB8, &out);
    return out;
}

std::vector<CodeUnit> boxDrawing950() {
    return {{0xF9F9, 0x2550}, {0xF9E9, 0x255E}, {0xF9EB, 0x2561}, {0xF9EA, 0x256A}};
}

struct WindowsAddition {
    unsigned number;
    const char* what;
    std::vector<CodeUnit> (*entries)();
};

// Where Windows defines more than the published definition. Single bytes that Windows gives a
// private-use unit but refuses under MB_ERR_INVALID_CHARS (0xA0 and 0xFD-0xFF under 932, 0xFF under
// 949 and 950) are no round trip even there and stay undefined.
const WindowsAddition kWindowsAdditions[] = {
    {1252,
     "the bytes 81, 8D, 8F, 90, 9D as the C1 controls U+0081, U+008D, U+008F, U+0090, U+009D, as "
     "Windows code page 1252 maps them (so that every byte of an ANSI file name converts back exactly)",
     controls1252},
    {942, "the byte 80 as the C1 control U+0080, as Windows code page 932 maps it", control80},
    {949, "the byte 80 as the C1 control U+0080, as Windows code page 949 maps it", control80},
    {949, "the user-defined area C9A1-C9FE, FEA1-FEFE as U+E000-U+E0BB, as Windows code page 949 maps it",
     userDefined949},
    {950, "the byte 80 as the C1 control U+0080, as Windows code page 950 maps it", control80},
    {950,
     "the user-defined areas FA40-FEFE, 8E40-A0FE, 8140-8DFE (trail bytes 40-7E, A1-FE) as U+E000-U+F6B0, "
     "as Windows code page 950 maps them",
     userDefined950},
    {950,
     "F9F9, F9E9, F9EB, F9EA as the codes of U+2550, U+255E, U+2561, U+256A, which Windows code page 950 "
     "gives them (A2A4, A2A5, A2A7, A2A6, which decode to the same units, are then one way)",
     boxDrawing950},
};

std::string hex(const char* format, unsigned v) {
    char text[16];
    std::snprintf(text, sizeof(text), format, v);
    return text;
}

std::string codeText(uint16_t code) {
    return hex(code < 0x100 ? "%02X" : "%04X", code);
}

// Applies the additions of one table. An entry may not change what the source defines otherwise: the
// code must be undefined or already the unit's, the unit undefined or mapped to another code of the
// same character, and a new lead byte must be undefined as a single byte.
bool addWindowsMappings(const CodePageSource& source, SourceMapping* m, std::vector<std::string>* notes) {
    for (const WindowsAddition& addition : kWindowsAdditions) {
        if (addition.number != source.number)
            continue;
        const std::vector<CodeUnit> entries = addition.entries();
        for (const CodeUnit& e : entries) {
            const unsigned lead = e.code >> 8;
            const uint16_t unitCode = m->fromUnicode[e.unit];
            const bool clash = (m->toUnicode[e.code] != kNoMapping && m->toUnicode[e.code] != e.unit) ||
                               (unitCode != kNoMapping && m->toUnicode[unitCode] != e.unit) ||
                               (lead == 0 && m->leadByte[e.code]) ||
                               (lead != 0 && !m->leadByte[lead] && m->toUnicode[lead] != kNoMapping);
            if (clash) {
                std::fprintf(stderr, "make_cp_uni: %s already maps %s or U+%04X otherwise\n",
                             source.iconvName, codeText(e.code).c_str(), e.unit);
                return false;
            }
            if (lead != 0)
                m->leadByte[lead] = true;
            m->toUnicode[e.code] = e.unit;
            m->fromUnicode[e.unit] = e.code;
        }
        notes->push_back("added " + std::to_string(entries.size()) +
                         (entries.size() == 1 ? " code: " : " codes: ") + addition.what);
    }
    return true;
}

std::string unitText(uint16_t unit) {
    return unit == kNoMapping ? std::string("none") : hex("U+%04X", unit);
}

// Leaves out every mapping that does not convert back: a unit whose code converts to another unit,
// then a code whose unit converts to another code or to none. What stays maps both ways, one to one.
void leaveOutOneWayMappings(SourceMapping* m, std::vector<std::string>* notes) {
    for (unsigned u = 1; u < 0x10000; ++u) {
        const uint16_t code = m->fromUnicode[u];
        if (code == kNoMapping || m->toUnicode[code] == u)
            continue;
        notes->push_back("left out " + hex("U+%04X -> ", u) + codeText(code) + " (" + codeText(code) +
                         " is " + unitText(m->toUnicode[code]) +
                         "): one way; the unit converts to the default character");
        m->fromUnicode[u] = kNoMapping;
    }
    for (unsigned code = 1; code < 0x10000; ++code) {
        const uint16_t unit = m->toUnicode[code];
        if (unit == kNoMapping || m->fromUnicode[unit] == code)
            continue;
        const uint16_t back = m->fromUnicode[unit];
        notes->push_back("left out " + codeText(static_cast<uint16_t>(code)) + hex(" -> U+%04X (", unit) +
                         hex("U+%04X is ", unit) +
                         (back == kNoMapping ? std::string("no code") : codeText(back)) +
                         "): one way; the code converts to the default character");
        m->toUnicode[code] = kNoMapping;
    }
}

// The source with the additions and without one-way mappings; notes says what changed, for --list.
bool makeMapping(const CodePageSource& source, SourceMapping* m, std::vector<std::string>* notes) {
    if (!readSource(source, m) || !addWindowsMappings(source, m, notes))
        return false;
    leaveOutOneWayMappings(m, notes);
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
    // On the image itself: every unit that maps converts back to itself from its code, and every code
    // that maps converts back to itself from its unit.
    for (unsigned u = 1; u < 0x10000; ++u) {
        const uint16_t code = kvo::textconv::cpUnicodeToCp(records, static_cast<uint16_t>(u));
        if (code == kNoMapping)
            continue;
        const unsigned char text[3] = {static_cast<unsigned char>(code < 0x100 ? code : code >> 8),
                                       static_cast<unsigned char>(code < 0x100 ? 0 : code & 0xFF), 0};
        const uint16_t back = kvo::textconv::cpToUnicode(records, text, nullptr);
        if (back != u) {
            std::fprintf(stderr, "make_cp_uni: %s U+%04X -> %04X -> U+%04X is one way\n", name, u, code,
                         back);
            ++errors;
        }
    }
    for (unsigned code = 1; code < 0x10000; ++code) {
        const uint16_t unit = m.toUnicode[code];
        if (unit != kNoMapping && kvo::textconv::cpUnicodeToCp(records, unit) != code) {
            std::fprintf(stderr, "make_cp_uni: %s %04X -> U+%04X is one way\n", name, code, unit);
            ++errors;
        }
    }
    // Each ASCII character is one byte that converts back to it, and no other unit converts to one of
    // those bytes.
    bool ascii[256] = {};
    for (unsigned a = 1; a < 0x80; ++a) {
        const uint16_t code = kvo::textconv::cpUnicodeToCp(records, static_cast<uint16_t>(a));
        const unsigned char text[2] = {static_cast<unsigned char>(code), 0};
        if (code >= 0x100 || kvo::textconv::cpToUnicode(records, text, nullptr) != a) {
            std::fprintf(stderr, "make_cp_uni: %s U+%04X is no single byte that converts back\n", name, a);
            ++errors;
        } else {
            ascii[code] = true;
        }
    }
    for (unsigned u = 0x80; u < 0x10000; ++u) {
        const uint16_t code = kvo::textconv::cpUnicodeToCp(records, static_cast<uint16_t>(u));
        if (code < 0x100 && ascii[code]) {
            std::fprintf(stderr, "make_cp_uni: %s U+%04X converts to %02X, the code of an ASCII character\n",
                         name, u, code);
            ++errors;
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
    const bool list = argc == 2 && std::strcmp(argv[1], "--list") == 0;
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_cp_uni OUTDIR | --list\n");
        return 2;
    }
    const std::string outDir = argv[1];
    bool ok = true;
    for (const CodePageSource& source : kSources) {
        const std::string file = "CP" + std::to_string(source.number) + ".UNI";
        SourceMapping mapping;
        std::vector<std::string> notes;
        if (list) {
            std::printf("%s\t%s: %s\n", file.c_str(), source.iconvName, source.definition);
            ok = makeMapping(source, &mapping, &notes) && ok;
            for (const std::string& note : notes)
                std::printf("%s\t%s\n", file.c_str(), note.c_str());
            continue;
        }
        const std::string path = outDir + "/" + file;
        std::remove(path.c_str());
        if (!makeMapping(source, &mapping, &notes)) {
            ok = false;
            continue;
        }
        const std::vector<unsigned char> image = buildImage(mapping);
        if (!checkImage(source, mapping, image) || !writeFile(path, image)) {
            std::remove(path.c_str());
            ok = false;
            continue;
        }
        std::printf("make_cp_uni: %s from %s, %zu bytes\n", file.c_str(), source.iconvName, image.size());
    }
    return ok ? 0 : 1;
}
