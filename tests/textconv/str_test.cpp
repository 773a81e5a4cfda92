// Str and UnicodeStr: value semantics, growth rules, sub-strings, comparison and the conversions.
#include "str.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

using namespace kvo;

namespace {

TEST(Str, ConstructionAndAccess) {
    Str none;
    EXPECT_EQ(none.c_str(), nullptr);
    EXPECT_EQ(none.length(), 0);
    EXPECT_EQ(none.getCapacity(), 0);
    Str fromNull(static_cast<const char*>(nullptr));
    EXPECT_STREQ(fromNull.c_str(), "");
    EXPECT_EQ(fromNull.getCapacity(), 1);
    Str abc("abc");
    EXPECT_EQ(abc.length(), 3);
    EXPECT_EQ(abc.getCapacity(), 4);
    Str copy(abc);
    EXPECT_STREQ(copy.c_str(), "abc");
    EXPECT_NE(copy.c_str(), abc.c_str());
    Str copyOfNone(none);
    EXPECT_EQ(copyOfNone.c_str(), nullptr);
    EXPECT_EQ(copyOfNone.getCapacity(), 0);
    // at: the index capacity is the scratch byte, never a byte of the text.
    EXPECT_EQ(abc.at(1), 'b');
    abc.at(4) = 'X';
    EXPECT_STREQ(abc.c_str(), "abc");
    EXPECT_NE(&abc.at(4), abc.buffer() + 4);
    EXPECT_EQ(&none.at(0), &abc.at(100));
}

TEST(Str, ResourceStringAbsentGivesNullText) {
    Str missing(54321u, nullptr);
    EXPECT_EQ(missing.c_str(), nullptr);
}

TEST(Str, AssignReallocatesByTheGrowthRule) {
    Str s("123456789");  // capacity 10
    s = "abc";           // need 4, 2 * 4 < 10: new buffer of 4 * 3 / 2
    EXPECT_EQ(s.getCapacity(), 6);
    EXPECT_STREQ(s.c_str(), "abc");
    Str t("1234567");  // capacity 8
    const char* before = t.c_str();
    t = "abc";  // need 4, 2 * 4 == 8: reused
    EXPECT_EQ(t.getCapacity(), 8);
    EXPECT_EQ(t.c_str(), before);
    t = nullptr;
    EXPECT_STREQ(t.c_str(), "");
    // Assigning a part of its own text.
    Str self("hello world");
    self = self.c_str() + 6;
    EXPECT_STREQ(self.c_str(), "world");
    Str other("x");
    other = self;
    EXPECT_STREQ(other.c_str(), "world");
    other = other;
    EXPECT_STREQ(other.c_str(), "world");
}

TEST(Str, AppendAndConcat) {
    Str s("ab");
    s += "cd";
    EXPECT_STREQ(s.c_str(), "abcd");
    EXPECT_EQ(s.getCapacity(), 7);  // need 5 -> 5 * 3 / 2
    s += nullptr;
    EXPECT_STREQ(s.c_str(), "abcd");
    s += s.c_str();  // its own text, while it grows
    EXPECT_STREQ(s.c_str(), "abcdabcd");
    Str none;
    none += "x";
    EXPECT_STREQ(none.c_str(), "x");
    Str joined = Str("left-") + Str("right");
    EXPECT_STREQ(joined.c_str(), "left-right");
    EXPECT_EQ(joined.getCapacity(), 11);
    EXPECT_STREQ((Str() + Str()).c_str(), "");
}

TEST(Str, Substr) {
    Str abc("abc");
    EXPECT_STREQ(abc.substr(10, 5).c_str(), "");
    EXPECT_STREQ(abc.substr(1, 100).c_str(), "bc");
    EXPECT_STREQ(abc.substr(0, 2).c_str(), "ab");
    EXPECT_STREQ(abc.c_str(), "abc");
    EXPECT_EQ(Str().substr(0, 1).c_str(), nullptr);
}

TEST(Str, CompareAndUpper) {
    Str s("apple");
    EXPECT_TRUE(s == "apple");
    EXPECT_TRUE(s != "Apple");
    EXPECT_TRUE(s < "banana");
    EXPECT_TRUE(s > "aardvark");
    EXPECT_TRUE(s <= "apple");
    EXPECT_TRUE(s >= "apple");
    EXPECT_EQ(Str().compare(""), 0);
    EXPECT_EQ(s.compare(nullptr), 1);
    s.toUpper();
    EXPECT_STREQ(s.c_str(), "APPLE");
    Str none;
    none.toUpper();
    EXPECT_EQ(none.c_str(), nullptr);
}

// Text in the local code page and its UTF-8 form, for the code page this program runs with.
struct LocalText {
    const char* local;
    const char* utf8;
};

LocalText localText() {
    switch (GetACP()) {
        case 932:
            return {"a\x82\xA0\x5C", "a\xE3\x81\x82\\"};
        case 936:
            return {"a\xD6\xD0", "a\xE4\xB8\xAD"};
        default:
            return {"caf\xE9", "caf\xC3\xA9"};
    }
}

TEST(Str, LocalToUtf8AndBack) {
    const LocalText t = localText();
    Str s(t.local);
    ASSERT_EQ(s.localToUTF8(), 1);
    EXPECT_STREQ(s.c_str(), t.utf8);
    EXPECT_EQ(s.getCapacity(), static_cast<int>(std::strlen(t.utf8)) + 1);
    ASSERT_EQ(s.utf8ToLocal(), 1);
    EXPECT_STREQ(s.c_str(), t.local);
    // A character outside the local code page arrives as "*".
    Str thai("\xE0\xB8\x81x");
    ASSERT_EQ(thai.utf8ToLocal(), 1);
    EXPECT_STREQ(thai.c_str(), "*x");
    // Malformed UTF-8: one "*" per bad sequence, nothing read past the terminator.
    Str bad("a\xC3");
    ASSERT_EQ(bad.utf8ToLocal(), 1);
    EXPECT_STREQ(bad.c_str(), "a*");
}

TEST(Str, Utf8ToUtf16MeasuresAndFills) {
    Str s("a\xC3\xA9");
    EXPECT_EQ(s.utf8ToUTF16(static_cast<wchar_t*>(nullptr), 0), 3u);
    wchar_t out[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(s.utf8ToUTF16(out, 4), 3u);
    EXPECT_EQ(std::wstring(out), L"a\x00E9");
    wchar_t small[2] = {L'x', L'x'};
    EXPECT_EQ(s.utf8ToUTF16(small, 1), 3u);
    EXPECT_EQ(small[0], L'a');
    EXPECT_EQ(small[1], L'x');
    Str stray("\xA9\xF0\x9F\x98\x80");
    wchar_t units[4];
    EXPECT_EQ(stray.utf8ToUTF16(units, 4), 3u);
    EXPECT_EQ(std::wstring(units), L"\xFFFD\xFFFD");
}

TEST(Str, CompUnicodeConversions) {
    Str s("abc");
    ASSERT_EQ(s.localToCompUnicode(), 1);
    EXPECT_STREQ(s.c_str(), "\x64\x68\x6C");
    EXPECT_EQ(s.getCapacity(), 4);
    ASSERT_EQ(s.compUnicodeToLocal(), 1);
    EXPECT_STREQ(s.c_str(), "abc");
    Str builtIn("\xE9");
    ASSERT_EQ(builtIn.builtInToCompUnicode(), 1);
    EXPECT_STREQ(builtIn.c_str(), "\xE6\x04");
}

TEST(UnicodeStr, EncodesAndDecodes) {
    EXPECT_STREQ(UnicodeStr(L"A").c_str(), "\x44");
    EXPECT_STREQ(UnicodeStr(L"\x00E9").c_str(), "\xE6\x04");
    UnicodeStr zhong(L"\x4E2D");
    EXPECT_STREQ(zhong.c_str(), "\xA7\x93\x04");
    EXPECT_EQ(zhong.getCapacity(), 4);
    const unsigned short jchars[] = {0x41, 0x4E2D, 0};
    UnicodeStr fromJchars(jchars);
    EXPECT_STREQ(fromJchars.c_str(), "\x44\xA7\x93\x04");
    EXPECT_EQ(fromJchars.getUnicode(static_cast<wchar_t*>(nullptr), 0), 3u);
    wchar_t out[3];
    EXPECT_EQ(fromJchars.getUnicode(out, 3), 3u);
    EXPECT_EQ(std::wstring(out), L"A\x4E2D");
    UnicodeStr copy = fromJchars;
    EXPECT_STREQ(copy.c_str(), fromJchars.c_str());
    // Through the local code page and back where it can hold the text.
    UnicodeStr local(L"plain");
    ASSERT_EQ(local.compUnicodeToLocal(), 1);
    EXPECT_STREQ(local.c_str(), "plain");
}

}  // namespace
