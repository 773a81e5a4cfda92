#include "modified_utf8.h"

#include <gtest/gtest.h>

namespace {

using kvojni::fromModifiedUtf8;
using kvojni::toModifiedUtf8;
using kvojni::toStandardUtf8;

struct RoundTrip {
    const char* what;
    std::u16string units;
    std::string bytes;
};

TEST(ModifiedUtf8, RoundTripsEveryUnitOnItsOwn) {
    const RoundTrip cases[] = {
        {"empty", u"", ""},
        {"ASCII", u"Ab~", "Ab~"},
        {"U+0000 as C0 80", std::u16string(u"a\0b", 3),
         "a\xC0\x80"
         "b"},
        {"two-byte", u"\u00E9\u07FF", "\xC3\xA9\xDF\xBF"},
        {"three-byte", u"\u0800\u20AC\uFFFF", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
        {"surrogate pair as two three-byte sequences", u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80"},
        {"lone surrogate", std::u16string(1, char16_t(0xDC00)), "\xED\xB0\x80"},
    };
    for (const RoundTrip& c : cases) {
        EXPECT_EQ(toModifiedUtf8(c.units), c.bytes) << c.what;
        std::u16string decoded;
        EXPECT_TRUE(fromModifiedUtf8(c.bytes, decoded)) << c.what;
        EXPECT_EQ(decoded, c.units) << c.what;
    }
}

TEST(ModifiedUtf8, MalformedInputIsReportedAndReplaced) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"four-byte sequence", "\xF0\x9F\x98\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"stray continuation byte",
         "a\x80"
         "b",
         u"a\uFFFD"
         "b"},
        {"cut three-byte sequence", "\xE2\x82", u"\uFFFD\uFFFD"},
        {"over-long two-byte form of 'A'", "\xC1\x81", u"\uFFFD\uFFFD"},
        {"over-long three-byte form", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"raw zero byte", std::string("a\0", 2), u"a\uFFFD"},
    };
    for (const Case& c : cases) {
        std::u16string decoded;
        EXPECT_FALSE(fromModifiedUtf8(c.bytes, decoded)) << c.what;
        EXPECT_EQ(decoded, c.expected) << c.what;
    }
}

TEST(ModifiedUtf8, StandardUtf8CombinesPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(toStandardUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(toStandardUtf8(u"\u00E9"), "\xC3\xA9");
    EXPECT_EQ(toStandardUtf8(std::u16string(1, char16_t(0xD83D)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(toStandardUtf8(std::u16string(u"\0", 1)), std::string("\0", 1));
}

}  // namespace
