// Malformed input placed so that its terminator is the last readable byte before a PAGE_NOACCESS page:
// a conversion that reads one byte too far faults and ends the test program.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "guard_page.h"
#include "kvoucd32.h"

namespace {

using kvotest::GuardPage;

TEST(GuardPage, MalformedByteInputsStopAtTheTerminator) {
    GuardPage guard;
    ASSERT_TRUE(guard.ok());
    const std::string inputs[] = {
        "\x80",          // CompUnicode continuation before the terminator; stray UTF-8 continuation
        "a\xFF\xFF",     // CompUnicode three-byte unit cut short
        "\xC3",          // UTF-8 two-byte sequence cut
        "\xE4\xB8",      // UTF-8 three-byte sequence cut
        "\xF0\x9F\x98",  // UTF-8 four-byte lead
        "ab\x82",        // a lead byte in 932 and 942 before the terminator
        "\xB0",          // a lead byte in 936, 949, 950
        "\xA4",
    };
    char out[64];
    wchar_t wide[64];
    int used;
    for (const std::string& input : inputs) {
        const char* s = guard.place(input);
        EXPECT_GT(NFConvertCompUnicodeToLocal(s, out, 64, '*', &used), 0);
        EXPECT_GT(NFConvertCompUnicodeToLatin1(s, out, 64, '*', &used), 0);
        EXPECT_GT(NFConvertCompUnicodeToEBCDIC(s, out, 64, '*', &used), 0);
        EXPECT_GT(NFConvertLocalToUnicode(s, wide, 64, '*', &used), 0);
        EXPECT_GT(NFConvertLocalToCompUnicode(s, out, 64, '*', &used), 0);
        EXPECT_GT(NFConvertLocalToUTF8(s, out, 64, 0, 0), 0);
        EXPECT_GT(NFConvertLocalToEBCDIC(s, out, 64, '*', &used), 0);
        EXPECT_GT(NFConvertUTF8ToLocal(s, out, 64, 0, 0), 0);
        EXPECT_GT(NFConvertUTF8ToLatin1(s, out, 64, 0, 0), 0);
        EXPECT_GT(NFConvertUTF8ToCompUnicode(s, out, 64, 0, 0), 0);
        EXPECT_GT(NFGetEncodedLength(s), 0);
        NFIsAllASCII(s);
        for (const char* locale : {"ja", "ko", "zh", "zhTW", "en", ""})
            EXPECT_GT(NFConvertLocaleToCompUnicode(locale, s, out, 64, '*', &used), 0) << locale;
        const char* last = s + input.size() - 1;
        EXPECT_EQ(NFConvertLocalCharToUnicode(last, wide, '*', &used), 1);
        NFCPMapping mapping = NFLoadCPMapping(932);
        ASSERT_NE(mapping, nullptr);
        EXPECT_EQ(NFConvertCPCharToUnicode(mapping, last, wide, '*', &used), 1);
        NFFreeCPMapping(mapping);
    }
}

TEST(GuardPage, UnicodeInputsStopAtTheTerminator) {
    GuardPage guard;
    ASSERT_TRUE(guard.ok());
    char out[64];
    int used;
    for (const std::wstring& input :
         {std::wstring(L"\xD83D"), std::wstring(L"a\x00E9\x4E2D"), std::wstring()}) {
        const wchar_t* s = guard.placeWide(input);
        EXPECT_GT(NFConvertUnicodeToLocal(s, out, 64, '*', &used), 0);
        EXPECT_GT(NFConvertUnicodeToLatin1(s, out, 64, '*', &used), 0);
        EXPECT_GT(NFConvertUnicodeToUTF8(s, out, 64), 0);
    }
}

}  // namespace
