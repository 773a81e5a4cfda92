// A Java path on its way to a Windows "A" call: a yen sign or an overline that has no exact local
// equivalent becomes the default character, never the path separator 0x5C or the tilde 0x7E of
// short names (under ANSI code page 932 both are one-way look-alikes in the published definition).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "str.h"

using kvo::Str;
using kvo::UnicodeStr;

namespace {

// C:\dir\a¥b‾.txt, with U+00A5 YEN SIGN and U+203E OVERLINE.
constexpr char kUtf8Path[] =
    "C:\\dir\\a\xC2\xA5"
    "b\xE2\x80\xBE.txt";
constexpr wchar_t kWidePath[] =
    L"C:\\dir\\a\x00A5"
    L"b\x203E.txt";

size_t count(const std::string& s, char c) {
    size_t n = 0;
    for (char x : s)
        n += x == c ? 1 : 0;
    return n;
}

TEST(StrPath, YenSignAndOverlineBecomeNoSeparatorAndNoTilde) {
    Str fromUtf8(kUtf8Path);
    ASSERT_EQ(fromUtf8.utf8ToLocal(), 1);
    UnicodeStr fromJava(kWidePath);
    ASSERT_EQ(fromJava.compUnicodeToLocal(), 1);
    for (const std::string& local : {std::string(fromUtf8.c_str()), std::string(fromJava.c_str())}) {
        EXPECT_EQ(count(local, '\\'), 2u) << local;
        EXPECT_EQ(count(local, '~'), 0u) << local;
        if (GetACP() == 932) {
            EXPECT_EQ(local, "C:\\dir\\a*b*.txt");
        }
    }
}

}  // namespace
