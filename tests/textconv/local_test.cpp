// The local conversions under the ANSI code page the test program runs with (1252 by default; the
// same program runs again with 932, 936 and 65001). On 932 the local table is CP942 and double-byte
// characters go through every local export; on 936 the local code page is 1381, always the system way;
// on 65001 (UTF-8) no mapping file serves, so the system way reads UTF-8 in whole characters.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "kvoucd32.h"

namespace {

struct LocalSample {
    unsigned ansi;
    int productCodePage;
    std::string local;        // a text in the local code page, with double-byte characters where it has them
    std::wstring wide;        // the same text in UTF-16
    std::string cutLeadByte;  // a lead byte directly before the terminator ("" for single-byte code pages)
};

const LocalSample& sample() {
    static const LocalSample samples[] = {
        {1252, 1252, "caf\xE9 \x80", L"caf\x00E9 \x20AC", ""},
        {932, 942, "a\x82\xA0\x93\xFA\xB1 \x5C", L"a\x3042\x65E5\xFF71 \\", "ab\x82"},
        {936, 1381, "a\xB0\xA1\xD6\xD0 \\", L"a\x554A\x4E2D \\", "ab\xB0"},
        {65001, 65001, "caf\xC3\xA9 x\xE6\x97\xA5\xE6\x9C\xAC \\", L"caf\x00E9 x\x65E5\x672C \\", "ab\xE6"},
    };
    for (const LocalSample& s : samples) {
        if (s.ansi == GetACP())
            return s;
    }
    static const LocalSample ascii = {GetACP(), static_cast<int>(GetACP()), "plain", L"plain", ""};
    return ascii;
}

// Whether the local conversions take the system way (no mapping file serves the local code page).
bool localIsSystemWay() {
    return NFGetCodepage() == 1381 || NFGetCodepage() == 65001;
}

std::wstring toUnicode(const std::string& local, int* used = nullptr) {
    const int n = NFConvertLocalToUnicode(local.c_str(), nullptr, 0, '*', nullptr);
    std::vector<wchar_t> out(n);
    EXPECT_EQ(NFConvertLocalToUnicode(local.c_str(), out.data(), n, '*', used), n);
    return std::wstring(out.data());
}

std::string toLocal(const std::wstring& wide, int* used = nullptr) {
    const int n = NFConvertUnicodeToLocal(wide.c_str(), nullptr, 0, '*', nullptr);
    std::vector<char> out(n);
    EXPECT_EQ(NFConvertUnicodeToLocal(wide.c_str(), out.data(), n, '*', used), n);
    return std::string(out.data());
}

std::string utf8Of(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> out(n);
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr);
    return std::string(out.data());
}

TEST(LocalCodePage, NumberFollowsTheAnsiCodePage) {
    EXPECT_EQ(NFGetCodepage(), sample().productCodePage) << "ANSI code page " << GetACP();
}

TEST(LocalCodePage, LocalAndUnicodeBothWays) {
    const LocalSample& s = sample();
    int used = -1;
    EXPECT_EQ(toUnicode(s.local, &used), s.wide);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(toLocal(s.wide, &used), s.local);
    EXPECT_EQ(used, 0);
    // The system's own conversion agrees.
    wchar_t system[64];
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, s.local.c_str(), -1, system, 64), 0);
    EXPECT_EQ(std::wstring(system), s.wide);
}

TEST(LocalCodePage, CompUnicodeAndUtf8BothWays) {
    const LocalSample& s = sample();
    char comp[64];
    const int n = NFConvertLocalToCompUnicode(s.local.c_str(), comp, sizeof(comp), '*', nullptr);
    ASSERT_GT(n, 0);
    char expected[64];
    EXPECT_EQ(NFConvertUTF8ToCompUnicode(utf8Of(s.wide).c_str(), expected, sizeof(expected), 0, 0), n);
    EXPECT_STREQ(comp, expected);
    // The encoded length is the local table's alone: none serves UTF-8.
    EXPECT_EQ(NFGetEncodedLength(s.local.c_str()), NFGetCodepage() == 65001 ? 0 : n);
    char back[64];
    EXPECT_EQ(NFConvertCompUnicodeToLocal(comp, back, sizeof(back), '*', nullptr),
              static_cast<int>(s.local.size()) + 1);
    EXPECT_EQ(std::string(back), s.local);

    char utf8[64];
    const std::string expectedUtf8 = utf8Of(s.wide);
    EXPECT_EQ(NFConvertLocalToUTF8(s.local.c_str(), utf8, sizeof(utf8), 0, 0),
              static_cast<int>(expectedUtf8.size()) + 1);
    EXPECT_EQ(std::string(utf8), expectedUtf8);
    EXPECT_EQ(NFConvertUTF8ToLocal(utf8, back, sizeof(back), 0, 0), static_cast<int>(s.local.size()) + 1);
    EXPECT_EQ(std::string(back), s.local);

    char ebcdic[64];
    ASSERT_EQ(NFConvertLocalToEBCDIC("Ab1", ebcdic, sizeof(ebcdic), '*', nullptr), 4);
    EXPECT_STREQ(ebcdic, "\xC1\x82\xF1");
    EXPECT_EQ(NFConvertEBCDICToLocal(ebcdic, back, sizeof(back), '*', nullptr), 4);
    EXPECT_STREQ(back, "Ab1");
}

TEST(LocalCodePage, CharacterExports) {
    const LocalSample& s = sample();
    const char* p = s.local.c_str();
    for (size_t i = 0; i < s.wide.size(); ++i) {
        const wchar_t unit = s.wide[i];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF;
        wchar_t got = 0;
        int used = -1;
        const int consumed = NFConvertLocalCharToUnicode(p, &got, '*', &used);
        // One unit of room: a character of two units (UTF-8 beyond the BMP) is the default.
        EXPECT_EQ(got, pair ? L'*' : unit);
        EXPECT_EQ(used, pair ? 1 : 0);
        char bytes[3] = {'x', 'x', 'x'};
        const int written = NFConvertUnicodeCharToLocal(unit, bytes, '*', &used);
        // Two bytes of room: a character of more (UTF-8 from U+0800 up) is the default.
        if (consumed > 2) {
            EXPECT_EQ(std::string(bytes, written), "*") << std::hex << static_cast<int>(unit);
            EXPECT_EQ(used, 1);
        } else {
            EXPECT_EQ(written, consumed) << std::hex << static_cast<int>(unit);
            EXPECT_EQ(std::string(bytes, written), std::string(p, consumed));
        }
        EXPECT_EQ(bytes[written], 'x') << "no terminator";
        p += consumed;
        i += pair ? 1 : 0;
    }
    EXPECT_EQ(*p, 0);
    char one[2] = {'x', 'x'};
    EXPECT_EQ(NFConvertUnicodeCharToLocal(0x41, one, '*', nullptr), 1);
    EXPECT_EQ(one[0], 'A');
    EXPECT_EQ(one[1], 'x');
}

TEST(LocalCodePage, UnmappableCharactersBecomeTheDefault) {
    int used = -1;
    // A Thai letter no code page here has but UTF-8, which has every character but a lone surrogate.
    EXPECT_EQ(toLocal(GetACP() == CP_UTF8 ? L"a\xDC00z" : L"a\x0E01z", &used), "a*z");
    EXPECT_EQ(used, 1);
    char out[4];
    EXPECT_EQ(NFConvertCompUnicodeToLocal("\x64\x80", out, sizeof(out), '*', &used), 3)
        << "a CompUnicode continuation byte before the terminator";
    EXPECT_STREQ(out, "a*");
    EXPECT_EQ(used, 1);
}

// Look-alikes never turn into a different character: each either maps exactly (and back) or becomes
// the default character with the flag raised.
TEST(LocalCodePage, NoBestFitMapping) {
    const wchar_t lookAlikes[] = {0xFF3C, 0xFF02, 0xFF07, 0x2215, 0x2044, 0xFF0F, 0x00C0, 0x0100,
                                  0x01C0, 0x2024, 0x02BC, 0x2010, 0x0131, 0x212A, 0x00BD, 0x2033};
    for (wchar_t unit : lookAlikes) {
        const wchar_t text[] = {unit, 0};
        int used = -1;
        const std::string local = toLocal(text, &used);
        if (used) {
            EXPECT_EQ(local, "*") << std::hex << static_cast<int>(unit);
        } else {
            EXPECT_EQ(toUnicode(local), std::wstring(text))
                << std::hex << static_cast<int>(unit) << " became a different character";
        }
        char bytes[2];
        const int n = NFConvertUnicodeCharToLocal(unit, bytes, '*', &used);
        if (used) {
            EXPECT_EQ(std::string(bytes, n), "*") << std::hex << static_cast<int>(unit);
        }
    }
}

TEST(LocalCodePage, LeadByteBeforeTheTerminator) {
    const LocalSample& s = sample();
    if (s.cutLeadByte.empty())
        GTEST_SKIP() << "single-byte local code page";
    int used = -1;
    EXPECT_EQ(toUnicode(s.cutLeadByte, &used), L"ab*");
    EXPECT_EQ(used, 1);
    char comp[16];
    EXPECT_EQ(NFConvertLocalToCompUnicode(s.cutLeadByte.c_str(), comp, sizeof(comp), '*', &used), 4);
    EXPECT_EQ(used, 1);
    wchar_t unit = 0;
    EXPECT_EQ(NFConvertLocalCharToUnicode(s.cutLeadByte.c_str() + 2, &unit, '*', &used), 1);
    EXPECT_EQ(unit, L'*');
    EXPECT_EQ(used, 1);
    char utf8[16];
    EXPECT_EQ(NFConvertLocalToUTF8(s.cutLeadByte.c_str(), utf8, sizeof(utf8), 0, 0), 4);
    EXPECT_STREQ(utf8, "ab*");
}

TEST(LocalCodePage, BufferContractWithDoubleByteCharacters) {
    const LocalSample& s = sample();
    const int size = NFConvertUnicodeToLocal(s.wide.c_str(), nullptr, 0, '*', nullptr);
    ASSERT_EQ(size, static_cast<int>(s.local.size()) + 1);
    std::vector<char> small(size + 2, '\x5A');
    EXPECT_EQ(NFConvertUnicodeToLocal(s.wide.c_str(), small.data(), size - 1, '*', nullptr), size);
    EXPECT_EQ(small[size - 1], '\x5A');
    EXPECT_EQ(small[size], '\x5A');
    // Two bytes short: the table way writes the whole characters that fit, the system way an
    // empty string; the result is the full size either way and nothing lands past the buffer.
    std::vector<char> shorter(size + 2, '\x5A');
    EXPECT_EQ(NFConvertUnicodeToLocal(s.wide.c_str(), shorter.data(), size - 3, '*', nullptr), size);
    EXPECT_EQ(shorter[size - 3], '\x5A');
    if (localIsSystemWay())
        EXPECT_EQ(shorter[0], 0);
    else
        EXPECT_EQ(shorter[0], s.local[0]);
    const int units = NFConvertLocalToUnicode(s.local.c_str(), nullptr, 0, '*', nullptr);
    ASSERT_EQ(units, static_cast<int>(s.wide.size()) + 1);
    std::vector<wchar_t> wide(units + 1, L'Z');
    EXPECT_EQ(NFConvertLocalToUnicode(s.local.c_str(), wide.data(), units - 1, '*', nullptr), units);
    EXPECT_EQ(wide[units - 1], L'Z');
    EXPECT_EQ(std::wstring(wide.data(), units - 1), s.wide);
}

}  // namespace
