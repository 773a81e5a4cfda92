// The table way answers as the system way does, without exceptions. Which of the two a local
// conversion takes depends only on whether the mapping file is installed, so for every mapping file
// that corresponds to a Windows code page, each byte, byte pair and unit goes through the table (by a
// mapping handle) and through the library's system way for that code page (named explicitly, so that
// the ANSI code page of the test does not matter): both give the same unit or code, or both none.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kvoucd32.h"
#include "system_convert.h"

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

// The system way: kNone where the character has no exact form.
unsigned systemToUnicode(UINT cp, const char* bytes, int n) {
    wchar_t units[2];
    int count = 0;
    const int length = kvo::textconv::SystemCodePage(cp).decodeChar(
        reinterpret_cast<const unsigned char*>(bytes), units, &count);
    return length == n && count == 1 ? units[0] : kNone;
}

unsigned systemFromUnicode(UINT cp, unsigned unit) {
    const wchar_t wide = static_cast<wchar_t>(unit);
    char bytes[kvo::kMaxExactCharBytes];
    const int n = kvo::textconv::SystemCodePage(cp).encodeChar(&wide, 1, bytes);
    if (n < 1 || n > 2)
        return kNone;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
    return n == 2 ? (b[0] << 8) | b[1] : b[0];
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
    for (const Correspondence& c : kCorrespondences) {
        ASSERT_TRUE(IsValidCodePage(c.system)) << c.system;
        Table table(c.table);
        ASSERT_TRUE(table.ok()) << "mapping file of " << c.table;
        unsigned agreed = 0;
        const std::vector<Difference> found = differences(table, c.system, &agreed);
        // Reported as runs: one line for a first difference, one for the last of its run.
        for (size_t i = 0; i < found.size(); ++i) {
            const Difference& d = found[i];
            size_t last = i;
            while (last + 1 < found.size() && found[last + 1].kind == d.kind &&
                   found[last + 1].code == found[last].code + 1 &&
                   (found[last + 1].table == kNone) == (d.table == kNone) &&
                   (found[last + 1].system == kNone) == (d.system == kNone))
                ++last;
            ADD_FAILURE() << c.table << " / " << c.system << ": " << describe(d)
                          << (last > i ? " ... " + describe(found[last]) : std::string());
            i = last;
        }
        // Both sides converted something: calls that always failed would agree on "no mapping".
        EXPECT_GT(agreed, 256u) << c.table << " / " << c.system;
    }
}

}  // namespace
