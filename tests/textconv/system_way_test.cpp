// The system way of the local conversions under ANSI code pages whose conversion calls refuse flags,
// through the seam (documented_code_page.h): UTF-8 (65001), and 42 standing for the pages that take no
// flag, converting as 1252 does, best fit included. Every conversion is exact or flagged, and no call
// is refused.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "documented_code_page.h"
#include "os_calls.h"
#include "system_convert.h"
#include "table_convert.h"

using namespace kvo::textconv;

namespace {

const kvotest::CodePageSeam kSeam{&os.GetACP, &os.WideCharToMultiByte, &os.MultiByteToWideChar,
                                  &os.GetCPInfo};

std::string toLocal(const std::wstring& wide, int* used) {
    const int n = systemUnicodeToLocal(wide.c_str(), nullptr, 0, '*', nullptr);
    std::vector<char> out(static_cast<size_t>(n), 'x');
    EXPECT_EQ(systemUnicodeToLocal(wide.c_str(), out.data(), n, '*', used), n);
    return std::string(out.data(), static_cast<size_t>(n) - 1);
}

std::wstring toUnicode(const std::string& local, int* used) {
    const unsigned char* src = reinterpret_cast<const unsigned char*>(local.c_str());
    const int n = systemLocalToUnicode(src, nullptr, 0, '*', nullptr);
    std::vector<wchar_t> out(static_cast<size_t>(n), L'x');
    EXPECT_EQ(systemLocalToUnicode(src, out.data(), n, '*', used), n);
    return std::wstring(out.data(), static_cast<size_t>(n) - 1);
}

// The local text as CompUnicode, decoded back into units.
std::wstring toCompUnicodeUnits(const std::string& local, int* used) {
    const unsigned char* src = reinterpret_cast<const unsigned char*>(local.c_str());
    const int n = systemLocalToCompUnicode(src, nullptr, 0, '*', nullptr);
    std::vector<unsigned char> comp(static_cast<size_t>(n), 0xA5);
    EXPECT_EQ(systemLocalToCompUnicode(src, comp.data(), n, '*', used), n);
    std::vector<uint16_t> units(comp.size(), 0);
    decodeCompUnicodeText(comp.data(), units.data(), kReplacementUnit);
    std::wstring wide;
    for (size_t i = 0; units[i] != 0; ++i)
        wide += static_cast<wchar_t>(units[i]);
    return wide;
}

enum class Way { Both, ToLocal, ToUnicode };

struct TextCase {
    UINT ansi, real;
    Way way;
    std::wstring wide;
    std::string local;
    bool flagged;
};

const TextCase kTexts[] = {
    // Every character of UTF-8, a surrogate pair as one four-byte character.
    {CP_UTF8, CP_UTF8, Way::Both, L"caf\x00E9 x\x65E5\x672C \xD83D\xDE00.txt",
     "caf\xC3\xA9 x\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80.txt", false},
    // A lone surrogate has no UTF-8 form; malformed and cut sequences are no characters.
    {CP_UTF8, CP_UTF8, Way::ToLocal, L"a\xD800z\xDC00", "a*z*", true},
    {CP_UTF8, CP_UTF8, Way::ToUnicode, L"a*z**", "a\xFFz\xC0\xAF", true},
    {CP_UTF8, CP_UTF8, Way::ToUnicode, L"\x00E9*", "\xC3\xA9\xE6\x97", true},
    {CP_UTF8, CP_UTF8, Way::ToUnicode, L"*", "\xED\xA0\x80", true},
    // No flag turns best fit off for 42: the check of the result does (Omega would become O).
    {CP_SYMBOL, 1252, Way::Both, L"caf\x00E9 \x20AC", "caf\xE9 \x80", false},
    {CP_SYMBOL, 1252, Way::ToLocal, L"\x03A9x\x0100", "*x*", true},
};

TEST(SystemWay, TextsAreExactOrFlagged) {
    for (const TextCase& c : kTexts) {
        const kvotest::DocumentedCodePage page(kSeam, c.ansi, c.real);
        int used = -1;
        if (c.way != Way::ToUnicode) {
            EXPECT_EQ(toLocal(c.wide, &used), c.local) << c.ansi;
            EXPECT_EQ(used, c.flagged ? 1 : 0) << c.ansi;
        }
        if (c.way != Way::ToLocal) {
            EXPECT_EQ(toUnicode(c.local, &used), c.wide) << c.ansi;
            EXPECT_EQ(used, c.flagged ? 1 : 0) << c.ansi;
            EXPECT_EQ(toCompUnicodeUnits(c.local, &used), c.wide) << c.ansi;
            EXPECT_EQ(used, c.flagged ? 1 : 0) << c.ansi;
        }
        EXPECT_EQ(kvotest::DocumentedCodePage::refused(), 0) << "a call Windows refuses";
    }
}

struct CharCase {
    UINT ansi, real;
    std::string local;  // one character
    wchar_t unit;       // its one unit, or '*' when it takes two
    std::string back;   // what the unit converts to: "*" where it takes more than two bytes
};

const CharCase kChars[] = {
    {CP_UTF8, CP_UTF8, "A", L'A', "A"},
    {CP_UTF8, CP_UTF8, "\xC3\xA9", 0x00E9, "\xC3\xA9"},
    {CP_UTF8, CP_UTF8, "\xE6\x97\xA5", 0x65E5, "*"},
    {CP_UTF8, CP_UTF8, "\xF0\x9F\x98\x80", L'*', "*"},
    {CP_SYMBOL, 1252, "\x80", 0x20AC, "\x80"},
};

TEST(SystemWay, CharactersAreWholeAndFitTheirBuffers) {
    for (const CharCase& c : kChars) {
        const kvotest::DocumentedCodePage page(kSeam, c.ansi, c.real);
        wchar_t unit = 0;
        int used = -1;
        EXPECT_EQ(systemLocalCharToUnicode(reinterpret_cast<const unsigned char*>(c.local.c_str()), &unit,
                                           '*', &used),
                  static_cast<int>(c.local.size()))
            << c.local;
        EXPECT_EQ(unit, c.unit) << c.local;
        EXPECT_EQ(used, unit == L'*' ? 1 : 0) << c.local;
        if (unit != L'*') {
            char bytes[3] = {'x', 'x', 'x'};
            const int n = systemUnicodeCharToLocal(unit, bytes, '*', &used);
            EXPECT_EQ(std::string(bytes, static_cast<size_t>(n)), c.back) << c.local;
            EXPECT_EQ(used, c.back == "*" ? 1 : 0) << c.local;
            EXPECT_EQ(bytes[2], 'x') << "two bytes at most";
        }
        EXPECT_EQ(kvotest::DocumentedCodePage::refused(), 0) << "a call Windows refuses";
    }
}

}  // namespace
