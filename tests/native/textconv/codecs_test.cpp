// CompUnicode and UTF-8 codecs: the documented byte forms, every 16-bit value, malformed input.
#include "codecs.h"
#include "table_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace kvo::textconv;

namespace {

std::string compOf(uint16_t u) {
    unsigned char b[3];
    const int n = encodeCompUnicode(u, b);
    return std::string(reinterpret_cast<char*>(b), n);
}

// Decodes a NUL-terminated byte text into units (U+FFFD for malformed) with either decoder.
std::u16string decodeAll(const std::string& bytes, bool utf8) {
    std::vector<unsigned char> buf(bytes.begin(), bytes.end());
    buf.push_back(0);  // exactly sized: an over-read is caught by AddressSanitizer
    std::u16string out;
    const unsigned char* p = buf.data();
    while (*p) {
        uint16_t u = 0;
        bool bad = false;
        const int n = utf8 ? decodeUtf8(p, &u, &bad) : decodeCompUnicode(p, &u, &bad);
        EXPECT_GE(n, 1);
        EXPECT_LE(p + n, buf.data() + buf.size() - 1) << "consumed the terminator";
        p += n;
        out.push_back(bad ? kReplacementUnit : u);
    }
    return out;
}

TEST(CompUnicode, DocumentedByteForms) {
    const struct {
        uint16_t unit;
        std::string bytes;
    } cases[] = {
        {0x0041, "\x44"},         {0x0061, "\x64"},         {0x0062, "\x68"},     {0x0063, "\x6C"},
        {0x0080, "\x80\x04"},     {0x00E9, "\xE6\x04"},     {0x3FFF, "\xFF\x7F"}, {0x4000, "\x80\x80\x04"},
        {0x4E2D, "\xA7\x93\x04"}, {0xFFFF, "\xFF\xFF\x0C"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compOf(c.unit), c.bytes) << std::hex << c.unit;
        EXPECT_EQ(decodeAll(c.bytes, false), std::u16string(1, static_cast<char16_t>(c.unit)))
            << std::hex << c.unit;
    }
}

TEST(CompUnicode, EveryUnitRoundTripsWithoutZeroBytes) {
    for (unsigned u = 1; u <= 0xFFFF; ++u) {
        unsigned char b[4] = {0, 0, 0, 0};
        const int n = encodeCompUnicode(static_cast<uint16_t>(u), b);
        ASSERT_EQ(n, compUnicodeLength(static_cast<uint16_t>(u)));
        for (int i = 0; i < n; ++i) {
            ASSERT_NE(b[i], 0) << std::hex << u;
            ASSERT_EQ((b[i] & 0x80) != 0, i < n - 1) << std::hex << u;
        }
        uint16_t back = 0;
        bool bad = true;
        ASSERT_EQ(decodeCompUnicode(b, &back, &bad), n);
        ASSERT_FALSE(bad);
        ASSERT_EQ(back, u);
    }
}

TEST(CompUnicode, MalformedUnitsNeverConsumeTheTerminator) {
    const struct {
        std::string bytes;
        std::u16string units;
    } cases[] = {
        {"\x80", u"\xFFFD"},           // continuation bit right before the terminator
        {"\x44\xFF\xFF", u"A\xFFFD"},  // three-byte unit cut after two bytes
        {"\x80\x80\x80", u"\xFFFD"},   // decodes to 0: would end the text
        {"\xE6\x04\x80", u"\x00E9\xFFFD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeAll(c.bytes, false), c.units);
}

TEST(Utf8, EncodesOneToThreeBytesPerUnit) {
    const struct {
        uint16_t unit;
        std::string bytes;
    } cases[] = {
        {0x41, "A"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0xE9, "\xC3\xA9"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0x4E2D, "\xE4\xB8\xAD"},
        {0xD83D, "\xED\xA0\xBD"},
        {0xFFFF, "\xEF\xBF\xBF"},
    };
    for (const auto& c : cases) {
        unsigned char b[3];
        const int n = encodeUtf8(c.unit, b);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(b), n), c.bytes);
        EXPECT_EQ(n, utf8Length(c.unit));
        EXPECT_EQ(decodeAll(c.bytes, true), std::u16string(1, static_cast<char16_t>(c.unit)));
    }
}

TEST(Utf8, SurrogatePairBecomesTwoThreeByteSequences) {
    const char16_t pair[] = {0xD83D, 0xDE00, 0};
    unsigned char out[8];
    EXPECT_EQ(utf8SizeOf(pair), 7u);
    encodeUtf8Text(pair, out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "\xED\xA0\xBD\xED\xB8\x80");
}

TEST(Utf8, MalformedSequencesBecomeOneReplacementEach) {
    const struct {
        const char* what;
        std::string bytes;
        std::u16string units;
    } cases[] = {
        {"cut two-byte", "a\xC3", u"a\xFFFD"},
        {"cut three-byte after one", "\xE4", u"\xFFFD"},
        {"cut three-byte after two", "\xE4\xB8", u"\xFFFD"},
        {"stray continuation", "\xA9z", u"\xFFFDz"},
        {"lead without continuation", "\xC3z", u"\xFFFDz"},
        {"four-byte sequence", "\xF0\x9F\x98\x80!", u"\xFFFD!"},
        {"lead byte F8 and up", "\xF8\xFF", u"\xFFFD\xFFFD"},
        {"overlong zero", "\xC0\x80x", u"\xFFFDx"},
        {"three-byte zero", "\xE0\x80\x80", u"\xFFFD"},
        // Overlong forms of ASCII characters would smuggle a look-alike past a check of the bytes.
        {"overlong slash",
         "a\xC0\xAF"
         "b",
         u"a\xFFFD"
         u"b"},
        {"overlong backslash", "\xC1\x9C", u"\xFFFD"},
        {"overlong U+007F", "\xC1\xBF", u"\xFFFD"},
        {"three-byte slash", "\xE0\x80\xAF.", u"\xFFFD."},
        {"three-byte U+07FF", "\xE0\x9F\xBF", u"\xFFFD"},
        {"overlong cut after two", "\xE0\x80", u"\xFFFD"},
        {"overlong lead without continuation", "\xC0/", u"\xFFFD/"},
        {"well-formed", "a\xC3\xA9", u"a\xE9"},
        {"shortest two-byte forms", "\xC2\x80\xDF\xBF", u"\x0080\x07FF"},
        {"shortest three-byte form", "\xE0\xA0\x80", u"\x0800"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeAll(c.bytes, true), c.units) << c.what;
        std::vector<unsigned char> buf(c.bytes.begin(), c.bytes.end());
        buf.push_back(0);
        EXPECT_EQ(utf8UnitCount(buf.data()), c.units.size()) << c.what;
    }
}

// Encoded surrogates are single units: the JVM writes a supplementary character as two of them.
TEST(Utf8, EncodedSurrogatesAreUnitsOfTheirOwn) {
    const struct {
        std::string bytes;
        std::u16string units;
    } cases[] = {
        {"\xED\xA0\x80", u"\xD800"},
        {"\xED\xBF\xBF", u"\xDFFF"},
        {"\xED\xA0\xBD\xED\xB8\x80", std::u16string{0xD83D, 0xDE00}},
        {"\xED\xB8\x80x", std::u16string{0xDE00, u'x'}},  // alone, in the wrong order: still a unit
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeAll(c.bytes, true), c.units);
}

}  // namespace
