// Whole-text conversions on the generated tables: the buffer contract of every family (size query,
// exact buffer, too-small buffer), the used-default flag, and malformed input at the terminator.
#include "table_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "codepage_numbers.h"
#include "cp_image_builder.h"

using namespace kvo::textconv;

namespace {

class TableConvert : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (unsigned cp : {1252u, 942u, 37u}) {
            images_[cp] = kvotest::readMappingFile(cp);
            ASSERT_TRUE(parseCpImage(images_[cp].data(), images_[cp].size(), &tables_[cp])) << cp;
        }
    }
    static const CpRecords& table(unsigned cp) { return tables_[cp]; }

    // Exactly sized copies, so that an over-read shows under AddressSanitizer.
    static std::vector<unsigned char> bytes(const std::string& s) {
        std::vector<unsigned char> v(s.begin(), s.end());
        v.push_back(0);
        return v;
    }
    static std::vector<char16_t> units(const std::u16string& s) {
        std::vector<char16_t> v(s.begin(), s.end());
        v.push_back(0);
        return v;
    }

    static std::map<unsigned, std::vector<unsigned char>> images_;
    static std::map<unsigned, CpRecords> tables_;
};

std::map<unsigned, std::vector<unsigned char>> TableConvert::images_;
std::map<unsigned, CpRecords> TableConvert::tables_;

constexpr unsigned char kSentinel = 0xEE;

TEST_F(TableConvert, CompUnicodeOfAbcAndBack) {
    auto src = bytes("abc");
    unsigned char out[4];
    int used = -1;
    ASSERT_EQ(tableCpToCompUnicode(table(1252), src.data(), out, 4, '*', &used), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), std::string("\x64\x68\x6C\x00", 4));
    EXPECT_EQ(used, 0);
    unsigned char back[4];
    ASSERT_EQ(tableCompUnicodeToCp(table(1252), out, back, 4, '*', &used), 4);
    EXPECT_STREQ(reinterpret_cast<char*>(back), "abc");
}

// One row per family: the same source text converted with no buffer, an exact buffer and one byte
// or unit less.
TEST_F(TableConvert, BufferContractPerFamily) {
    struct Family {
        const char* name;
        unsigned cp;
        std::function<int(void* dst, int len, int* used)> convert;
        int unitSize;
        std::string expected;  // complete output with terminator, as bytes
    };
    static auto western = bytes("caf\xE9 \x80");
    static auto japanese = bytes("a\x82\xA0\x93\xFA");
    static auto wide = units(u"caf\xE9\x20AC");
    static auto comp = bytes("\x64\xE6\x04\xA7\x93\x04");  // a, U+00E9, U+4E2D
    const Family families[] = {
        {"1252 to Unicode", 1252,
         [](void* d, int n, int* u) {
             return tableCpToUnicode(table(1252), western.data(), (char16_t*)d, n, '*', u);
         },
         2, std::string("c\0a\0f\0\xE9\0 \0\xAC\x20\0\0", 14)},
        {"942 to Unicode", 942,
         [](void* d, int n, int* u) {
             return tableCpToUnicode(table(942), japanese.data(), (char16_t*)d, n, '*', u);
         },
         2, std::string("a\0\x42\x30\xE5\x65\0\0", 8)},
        {"Unicode to 1252", 1252,
         [](void* d, int n, int* u) {
             return tableUnicodeToCp(table(1252), wide.data(), (unsigned char*)d, n, '*', u);
         },
         1, std::string("caf\xE9\x80\0", 6)},
        {"CompUnicode to 942", 942,
         [](void* d, int n, int* u) {
             return tableCompUnicodeToCp(table(942), comp.data(), (unsigned char*)d, n, '*', u);
         },
         1, std::string("a*\x92\x86\0", 5)},
        {"942 to CompUnicode", 942,
         [](void* d, int n, int* u) {
             return tableCpToCompUnicode(table(942), japanese.data(), (unsigned char*)d, n, '*', u);
         },
         1, std::string("\x64\xC8\x60\xE5\xCE\x04\0", 7)},
    };
    for (const Family& f : families) {
        const int units = static_cast<int>(f.expected.size()) / f.unitSize;
        int used = -1;
        EXPECT_EQ(f.convert(nullptr, 0, &used), units) << f.name << ": size query";

        std::vector<unsigned char> exact(f.expected.size(), kSentinel);
        EXPECT_EQ(f.convert(exact.data(), units, &used), units) << f.name;
        EXPECT_EQ(std::string(exact.begin(), exact.end()), f.expected) << f.name << ": exact buffer";

        // One unit less: whole characters only, never past the buffer; the result is still the full size.
        std::vector<unsigned char> small((units - 1) * f.unitSize, kSentinel);
        small.push_back(kSentinel);  // guard byte(s) just past the declared size
        small.push_back(kSentinel);
        EXPECT_EQ(f.convert(small.data(), units - 1, &used), units) << f.name << ": too small";
        EXPECT_EQ(small[small.size() - 1], kSentinel) << f.name;
        EXPECT_EQ(small[small.size() - 2], kSentinel) << f.name;
        EXPECT_EQ(std::memcmp(small.data(), f.expected.data(), (units - 1) * f.unitSize - f.unitSize), 0)
            << f.name << ": the characters that fit";
    }
}

TEST_F(TableConvert, UsedDefaultFlagAndDefaultCharacter) {
    auto unmappable = units(u"a\x4E2Dz");
    unsigned char out[8];
    int used = -1;
    EXPECT_EQ(tableUnicodeToCp(table(1252), unmappable.data(), out, 8, '*', &used), 4);
    EXPECT_STREQ(reinterpret_cast<char*>(out), "a*z");
    EXPECT_EQ(used, 1);
    auto fine = units(u"az");
    EXPECT_EQ(tableUnicodeToCp(table(1252), fine.data(), out, 8, '*', &used), 3);
    EXPECT_EQ(used, 0);
    // 0xA0 is undefined in 942: the default unit, flagged.
    auto undefinedByte = bytes("x\xA0");
    char16_t wide[4];
    EXPECT_EQ(tableCpToUnicode(table(942), undefinedByte.data(), wide, 4, 0x3F, &used), 3);
    EXPECT_EQ(wide[1], u'?');
    EXPECT_EQ(used, 1);
    // A zero default would end the text early: U+FFFD / '?' instead.
    EXPECT_EQ(tableCpToUnicode(table(942), undefinedByte.data(), wide, 4, 0, &used), 3);
    EXPECT_EQ(wide[1], 0xFFFD);
    EXPECT_EQ(tableUnicodeToCp(table(1252), unmappable.data(), out, 8, 0, &used), 4);
    EXPECT_STREQ(reinterpret_cast<char*>(out), "a?z");
}

TEST_F(TableConvert, MalformedInputAtTheTerminator) {
    int used = -1;
    // A lead byte directly before the terminator: one default character, the terminator kept.
    auto cutLead = bytes("ab\x82");
    char16_t wide[8];
    EXPECT_EQ(tableCpToUnicode(table(942), cutLead.data(), wide, 8, '*', &used), 4);
    EXPECT_EQ(std::u16string(wide), u"ab*");
    EXPECT_EQ(used, 1);
    unsigned char comp[8];
    EXPECT_EQ(tableCpToCompUnicode(table(942), cutLead.data(), comp, 8, '*', &used), 4);
    EXPECT_EQ(tableEncodedLength(table(942), cutLead.data()), 4);
    // A CompUnicode continuation byte directly before the terminator.
    auto cutComp = bytes("\x64\x80");
    unsigned char out[8];
    EXPECT_EQ(tableCompUnicodeToCp(table(1252), cutComp.data(), out, 8, '*', &used), 3);
    EXPECT_STREQ(reinterpret_cast<char*>(out), "a*");
    EXPECT_EQ(used, 1);
}

TEST_F(TableConvert, EbcdicAndEncodedLength) {
    auto ascii = bytes("\xC1\xC2\x40\xF1");  // "AB 1" in code page 37
    unsigned char comp[8];
    ASSERT_EQ(tableCpToCompUnicode(table(37), ascii.data(), comp, 8, '*', nullptr), 5);
    unsigned char latin[8];
    ASSERT_EQ(tableCompUnicodeToCp(table(1252), comp, latin, 8, '*', nullptr), 5);
    EXPECT_STREQ(reinterpret_cast<char*>(latin), "AB 1");
    auto mixed = bytes("a\x82\xA0\xA0");  // 1 + 2 (U+3042) + 1 (unmapped counts 1) + terminator
    EXPECT_EQ(tableEncodedLength(table(942), mixed.data()), 5);
}

TEST(IsAllAscii, Rules) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"", 1},     {"Abc123", 1}, {"a\\b", 0}, {"a~", 0},   {"\x7F", 0},
        {"\x7D", 1}, {"\x1A", 0},   {"\x1C", 0}, {"\x1B", 1}, {"\xE9", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isAllAscii(reinterpret_cast<const unsigned char*>(c.text)), c.expected) << c.text;
    EXPECT_EQ(isAllAscii(nullptr), 1);
}

}  // namespace

namespace {

TEST(CodePageNumbers, LocalNumberingAndMappingFiles) {
    const struct {
        unsigned ansi, local;
    } local[] = {{932, 942}, {934, 944}, {936, 1381}, {938, 948}, {946, 1381}, {1252, 1252}, {949, 949}, {950, 950}};
    for (const auto& c : local)
        EXPECT_EQ(kvo::textconv::productCodePageOfAnsi(c.ansi), c.local) << c.ansi;
    // An explicitly requested 936 is 946, unlike the local numbering; product numbers stay.
    const struct {
        unsigned requested, file;
    } files[] = {{932, 942}, {934, 944}, {936, 946}, {938, 948}, {942, 942}, {1381, 1381}, {37, 37}};
    for (const auto& c : files)
        EXPECT_EQ(kvo::textconv::mappingCodePageOf(c.requested), c.file) << c.requested;
    EXPECT_TRUE(kvo::textconv::isSystemConvertedCodePage(1381));
    EXPECT_FALSE(kvo::textconv::isSystemConvertedCodePage(942));
    EXPECT_FALSE(kvo::textconv::isSystemConvertedCodePage(0));
}

}  // namespace
