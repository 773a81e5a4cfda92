// The table way answers as the system way does. Which of the two a local conversion takes depends only
// on whether the mapping file is installed, so for every mapping file that corresponds to a Windows
// code page, each byte, byte pair and unit goes through the table (by a mapping handle) and through
// the system (MultiByteToWideChar with MB_ERR_INVALID_CHARS, WideCharToMultiByte with
// WC_NO_BEST_FIT_CHARS), with the code page named explicitly so that the ANSI code page of the test
// does not matter. Every difference must be one of those listed below with its reason, and every
// listed difference must still occur.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kvoucd32.h"

namespace {

constexpr unsigned kNone = 0xFFFFFFFF;

enum class Kind { LeadByte, Bytes, Unit };

// One difference: a code (byte, byte pair as lead * 256 + trail, or unit), what the table gives and
// what the system gives (kNone: no mapping; for lead bytes 1 or 0).
struct Difference {
    Kind kind;
    unsigned code;
    unsigned table;
    unsigned system;
};

enum class Shape { TableOnly, SystemOnly };

// A difference the table keeps on purpose: the codes first..last of one kind where the table maps and
// the system does not (TableOnly), or the system maps and the table does not (SystemOnly).
struct Allowed {
    int table;
    Kind kind;
    unsigned first, last;
    Shape shape;
    const char* reason;
};

// Seven characters that code page 932 codes as 8191, 8192, 81CA, 815C, 8161, 817C and 8160 (its units
// U+FFE0, U+FFE1, U+FFE2, U+2015, U+2225, U+FF0D, U+FF5E) have other units in the JIS mappings: a
// text decoded as Shift_JIS or EUC-JP holds U+00A2, U+00A3, U+00AC, U+2016, U+2212, U+301C for them,
// and U+2014 is the JIS X 0221 unit of 815C. The table keeps such a unit as the double-byte code of
// the same character; the system, without best fit, gives the default character. No ASCII character
// results either way.
constexpr const char* kJisUnits = "JIS-based unit of a double-byte character: kept one way";

// The system gives these private-use units a single byte but refuses that byte under
// MB_ERR_INVALID_CHARS: no round trip even there, so the table leaves both undefined.
constexpr const char* kOneWayPrivateUse = "private-use unit the system does not take back";

const Allowed kAllowed[] = {
    {932, Kind::Unit, 0x00A2, 0x00A3, Shape::TableOnly, kJisUnits},
    {932, Kind::Unit, 0x00AC, 0x00AC, Shape::TableOnly, kJisUnits},
    {932, Kind::Unit, 0x2014, 0x2014, Shape::TableOnly, kJisUnits},
    {932, Kind::Unit, 0x2016, 0x2016, Shape::TableOnly, kJisUnits},
    {932, Kind::Unit, 0x2212, 0x2212, Shape::TableOnly, kJisUnits},
    {932, Kind::Unit, 0x301C, 0x301C, Shape::TableOnly, kJisUnits},
    {932, Kind::Unit, 0xF8F0, 0xF8F3, Shape::SystemOnly, kOneWayPrivateUse},
    {949, Kind::Unit, 0xF8F7, 0xF8F7, Shape::SystemOnly, kOneWayPrivateUse},
    {950, Kind::Unit, 0xF8F8, 0xF8F8, Shape::SystemOnly, kOneWayPrivateUse},
};

struct Correspondence {
    int table;    // number passed to NFLoadCPMapping
    UINT system;  // the Windows code page
};

const Correspondence kCorrespondences[] = {
    {1252, 1252}, {850, 850}, {37, 37}, {819, 28591}, {932, 932}, {949, 949}, {950, 950},
};

class Table {
public:
    explicit Table(int codePage) : mapping_(NFLoadCPMapping(codePage)) {}
    ~Table() { NFFreeCPMapping(mapping_); }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    bool ok() const { return mapping_ != nullptr; }

    bool isLeadByte(unsigned b) const {
        const char text[] = {static_cast<char>(b), 0x40, 0};
        wchar_t unit;
        int used;
        return NFConvertCPCharToUnicode(mapping_, text, &unit, '*', &used) == 2;
    }
    unsigned toUnicode(const char* text) const {
        wchar_t unit = 0;
        int used = -1;
        NFConvertCPCharToUnicode(mapping_, text, &unit, '*', &used);
        return used ? kNone : unit;
    }
    unsigned fromUnicode(unsigned unit) const {
        unsigned char bytes[2];
        int used = -1;
        const int n = NFConvertUnicodeCharToCP(mapping_, static_cast<int>(unit),
                                               reinterpret_cast<char*>(bytes), '*', &used);
        if (used)
            return kNone;
        return n == 2 ? (bytes[0] << 8) | bytes[1] : bytes[0];
    }

private:
    NFCPMapping mapping_;
};

unsigned systemToUnicode(UINT cp, const char* bytes, int n) {
    wchar_t units[2];
    return MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes, n, units, 2) == 1 ? units[0] : kNone;
}

unsigned systemFromUnicode(UINT cp, unsigned unit) {
    const wchar_t wide = static_cast<wchar_t>(unit);
    unsigned char bytes[2];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, &wide, 1, reinterpret_cast<char*>(bytes), 2,
                                      nullptr, &usedDefault);
    if (usedDefault || n < 1)
        return kNone;
    return n == 2 ? (bytes[0] << 8) | bytes[1] : bytes[0];
}

// The differences between table and system; *agreed counts the bytes, pairs and units both map alike.
std::vector<Difference> differences(const Table& table, UINT cp, unsigned* agreed) {
    std::vector<Difference> found;
    *agreed = 0;
    auto compare = [&](Kind kind, unsigned code, unsigned t, unsigned s) {
        if (t != s)
            found.push_back({kind, code, t, s});
        else if (kind != Kind::LeadByte && t != kNone)
            ++*agreed;
    };
    bool lead[256] = {};
    for (unsigned b = 1; b < 256; ++b) {
        const bool inTable = table.isLeadByte(b);
        const bool inSystem = IsDBCSLeadByteEx(cp, static_cast<BYTE>(b)) != FALSE;
        compare(Kind::LeadByte, b, inTable, inSystem);
        lead[b] = inTable && inSystem;
        if (inTable || inSystem)
            continue;
        const char text[] = {static_cast<char>(b), 0};
        compare(Kind::Bytes, b, table.toUnicode(text), systemToUnicode(cp, text, 1));
    }
    for (unsigned b = 1; b < 256; ++b) {
        for (unsigned trail = 1; lead[b] && trail < 256; ++trail) {
            const char text[] = {static_cast<char>(b), static_cast<char>(trail), 0};
            compare(Kind::Bytes, (b << 8) | trail, table.toUnicode(text), systemToUnicode(cp, text, 2));
        }
    }
    for (unsigned unit = 1; unit < 0x10000; ++unit)
        compare(Kind::Unit, unit, table.fromUnicode(unit), systemFromUnicode(cp, unit));
    return found;
}

bool matches(const Allowed& a, int table, const Difference& d) {
    if (a.table != table || a.kind != d.kind || d.code < a.first || d.code > a.last)
        return false;
    switch (a.shape) {
        case Shape::TableOnly:
            return d.table != kNone && d.system == kNone;
        case Shape::SystemOnly:
            return d.table == kNone && d.system != kNone;
    }
    return false;
}

std::string describe(const Difference& d) {
    const char* kinds[] = {"lead byte", "bytes", "unit"};
    auto value = [&](unsigned v) {
        if (v == kNone)
            return std::string("none");
        char text[16];
        std::snprintf(text, sizeof(text), d.kind == Kind::Bytes ? "U+%04X" : "%X", v);
        return std::string(text);
    };
    char code[16];
    std::snprintf(code, sizeof(code), d.kind == Kind::Unit ? "U+%04X" : "%X", d.code);
    return std::string(kinds[static_cast<int>(d.kind)]) + " " + code + ": table " + value(d.table) +
           ", system " + value(d.system);
}

TEST(SystemAgreement, TableWayAnswersAsTheSystemWay) {
    std::vector<bool> used(sizeof(kAllowed) / sizeof(kAllowed[0]), false);
    for (const Correspondence& c : kCorrespondences) {
        ASSERT_TRUE(IsValidCodePage(c.system)) << c.system;
        Table table(c.table);
        ASSERT_TRUE(table.ok()) << "mapping file of " << c.table;
        unsigned agreed = 0;
        std::vector<Difference> unexplained;
        for (const Difference& d : differences(table, c.system, &agreed)) {
            bool allowed = false;
            for (size_t i = 0; i < used.size(); ++i) {
                if (matches(kAllowed[i], c.table, d)) {
                    used[i] = true;
                    allowed = true;
                }
            }
            if (!allowed)
                unexplained.push_back(d);
        }
        // Reported as runs: one line for a first difference, one for the last of its run.
        for (size_t i = 0; i < unexplained.size(); ++i) {
            const Difference& d = unexplained[i];
            size_t last = i;
            while (last + 1 < unexplained.size() && unexplained[last + 1].kind == d.kind &&
                   unexplained[last + 1].code == unexplained[last].code + 1 &&
                   (unexplained[last + 1].table == kNone) == (d.table == kNone) &&
                   (unexplained[last + 1].system == kNone) == (d.system == kNone))
                ++last;
            ADD_FAILURE() << c.table << " / " << c.system << ": " << describe(d)
                          << (last > i ? " ... " + describe(unexplained[last]) : std::string());
            i = last;
        }
        // Both sides converted something: calls that always failed would agree on "no mapping".
        EXPECT_GT(agreed, 256u) << c.table << " / " << c.system;
    }
    for (size_t i = 0; i < used.size(); ++i)
        EXPECT_TRUE(used[i]) << "listed difference no longer occurs: " << kAllowed[i].table << " " << std::hex
                             << kAllowed[i].first << ".." << kAllowed[i].last << " (" << kAllowed[i].reason
                             << ")";
}

}  // namespace
