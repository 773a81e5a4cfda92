// The exports of kvoucd32 through the ordinal import library, as a client sees them. Expectations
// that depend on the local code page are in local_test.cpp; this file holds what is the same for
// every local code page (fixed tables, UTF-8, CompUnicode, mapping handles).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kvoucd32.h"

namespace {

constexpr char kSentinel = '\x5A';

std::string bytesOf(const char* s, int n) {
    return std::string(s, static_cast<size_t>(n));
}

TEST(CompUnicodeExports, AbcAndBack) {
    char out[8];
    ASSERT_EQ(NFConvertLocalToCompUnicode("abc", out, 4, '*', nullptr), 4);
    EXPECT_EQ(bytesOf(out, 4), std::string("\x64\x68\x6C\x00", 4));
    char back[8];
    ASSERT_EQ(NFConvertCompUnicodeToLocal(out, back, 4, '*', nullptr), 4);
    EXPECT_STREQ(back, "abc");
    EXPECT_EQ(NFConvertBuiltInToCompUnicode("abc", out, 8, '*', nullptr), 4);
    EXPECT_EQ(NFGetEncodedLength("abc"), 4);
}

TEST(CompUnicodeExports, Utf8ToCompUnicodeGivesTheDocumentedBytes) {
    const struct {
        const char* utf8;
        std::string comp;
    } cases[] = {
        {"A", "\x44"},
        {"\xC2\x80", "\x80\x04"},
        {"\xC3\xA9", "\xE6\x04"},
        {"\xE3\xBF\xBF", "\xFF\x7F"},
        {"\xE4\x80\x80", "\x80\x80\x04"},
        {"\xE4\xB8\xAD", "\xA7\x93\x04"},
        {"\xEF\xBF\xBF", "\xFF\xFF\x0C"},
    };
    for (const auto& c : cases) {
        char out[8];
        const int n = NFConvertUTF8ToCompUnicode(c.utf8, out, sizeof(out), 0, 0);
        ASSERT_EQ(n, static_cast<int>(c.comp.size()) + 1) << c.utf8;
        EXPECT_EQ(std::string(out), c.comp);
    }
}

// Every string conversion: a size query writes nothing, an exact buffer gets everything, a buffer one
// unit short never gets a byte past its end, and the result is the full size in every case. The
// texts are ASCII plus Latin-1 letters that every table here maps.
TEST(BufferContract, EveryStringConversion) {
    static const char* const kLatin = "caf\xE9!";
    static const wchar_t* const kWide = L"caf\x00E9!";
    static const char* const kUtf8 = "caf\xC3\xA9!";
    static const char* const kEbcdic = "\x83\x81\x86\x51\x5A";  // "café!" in code page 37
    static const char* const kOem = "caf\x82!";                 // "café!" in code page 850
    char comp[16];
    ASSERT_EQ(NFConvertLatin1ToCompUnicode(kLatin, comp, sizeof(comp), '*', nullptr), 7);
    static std::string compText = comp;
    ASSERT_EQ(compText, "\x6C\x64\x69\xE6\x04\x24");
    struct Family {
        const char* name;
        std::function<int(void*, int)> convert;
        int unitSize;
        bool tooSmallUntouched;  // the UTF-8 family leaves a too-small buffer as it was
    };
    const Family families[] = {
        {"UnicodeToLatin1",
         [](void* d, int n) { return NFConvertUnicodeToLatin1(kWide, (char*)d, n, '*', nullptr); }, 1, false},
        {"Latin1ToUnicode",
         [](void* d, int n) { return NFConvertLatin1ToUnicode(kLatin, (wchar_t*)d, n, '*', nullptr); }, 2,
         false},
        {"CompUnicodeToLatin1",
         [](void* d, int n) {
             return NFConvertCompUnicodeToLatin1(compText.c_str(), (char*)d, n, '*', nullptr);
         },
         1, false},
        {"CompUnicodeToEBCDIC",
         [](void* d, int n) {
             return NFConvertCompUnicodeToEBCDIC(compText.c_str(), (char*)d, n, '*', nullptr);
         },
         1, false},
        {"Latin1ToCompUnicode",
         [](void* d, int n) { return NFConvertLatin1ToCompUnicode(kLatin, (char*)d, n, '*', nullptr); }, 1,
         false},
        {"EBCDICToCompUnicode",
         [](void* d, int n) { return NFConvertEBCDICToCompUnicode(kEbcdic, (char*)d, n, '*', nullptr); }, 1,
         false},
        {"BuiltInToCompUnicode",
         [](void* d, int n) { return NFConvertBuiltInToCompUnicode(kLatin, (char*)d, n, '*', nullptr); }, 1,
         false},
        {"OEMToCompUnicode",
         [](void* d, int n) { return NFConvertOEMToCompUnicode(kOem, (char*)d, n, '*', nullptr); }, 1, false},
        {"LocaleToCompUnicode",
         [](void* d, int n) {
             return NFConvertLocaleToCompUnicode("fr_FR", kLatin, (char*)d, n, '*', nullptr);
         },
         1, false},
        {"UTF8ToCompUnicode",
         [](void* d, int n) { return NFConvertUTF8ToCompUnicode(kUtf8, (char*)d, n, 0, 0); }, 1, true},
        {"UTF8ToLatin1", [](void* d, int n) { return NFConvertUTF8ToLatin1(kUtf8, (char*)d, n, 0, 0); }, 1,
         true},
        {"Latin1ToUTF8", [](void* d, int n) { return NFConvertLatin1ToUTF8(kLatin, (char*)d, n, 0, 0); }, 1,
         true},
        {"LocalToUTF8", [](void* d, int n) { return NFConvertLocalToUTF8("plain", (char*)d, n, 0, 0); }, 1,
         true},
        {"UTF8ToLocal", [](void* d, int n) { return NFConvertUTF8ToLocal("plain", (char*)d, n, 0, 0); }, 1,
         true},
        {"EBCDICToLocal",
         [](void* d, int n) {
             return NFConvertEBCDICToLocal("\x97\x93\x81\x89\x95", (char*)d, n, '*', nullptr);
         },
         1, false},
        {"LocalToEBCDIC",
         [](void* d, int n) { return NFConvertLocalToEBCDIC("plain", (char*)d, n, '*', nullptr); }, 1, false},
        {"LocalToUnicode",
         [](void* d, int n) { return NFConvertLocalToUnicode("plain", (wchar_t*)d, n, '*', nullptr); }, 2,
         false},
        {"UnicodeToLocal",
         [](void* d, int n) { return NFConvertUnicodeToLocal(L"plain", (char*)d, n, '*', nullptr); }, 1,
         false},
        {"LocalToCompUnicode",
         [](void* d, int n) { return NFConvertLocalToCompUnicode("plain", (char*)d, n, '*', nullptr); }, 1,
         false},
        {"CompUnicodeToLocal",
         [](void* d, int n) {
             return NFConvertCompUnicodeToLocal("\x70\x63\x64\x66\x6B", (char*)d, n, '*', nullptr);
         },
         1, false},
    };
    for (const Family& f : families) {
        const int size = f.convert(nullptr, 0);
        ASSERT_GT(size, 1) << f.name;
        std::vector<char> exact(size * f.unitSize + 4, kSentinel);
        EXPECT_EQ(f.convert(exact.data(), size), size) << f.name;
        for (int i = 0; i < f.unitSize; ++i)
            EXPECT_EQ(exact[(size - 1) * f.unitSize + i], 0) << f.name << ": terminator";
        EXPECT_EQ(exact[size * f.unitSize], kSentinel) << f.name << ": past the exact buffer";

        std::vector<char> small((size - 1) * f.unitSize + 4, kSentinel);
        EXPECT_EQ(f.convert(small.data(), size - 1), size) << f.name << ": too small";
        for (size_t i = (size - 1) * f.unitSize; i < small.size(); ++i)
            EXPECT_EQ(small[i], kSentinel) << f.name << ": byte " << i << " past a too-small buffer";
        if (f.tooSmallUntouched)
            EXPECT_EQ(small[0], kSentinel) << f.name << ": a too-small buffer is left untouched";
        else
            EXPECT_EQ(std::memcmp(small.data(), exact.data(), f.unitSize), 0)
                << f.name << ": what fits is written";
    }
}

TEST(BufferContract, EmptySourceGivesJustTheTerminator) {
    char out[2] = {kSentinel, kSentinel};
    wchar_t wide[2] = {L'x', L'x'};
    EXPECT_EQ(NFConvertLocalToCompUnicode("", out, 1, '*', nullptr), 1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], kSentinel);
    EXPECT_EQ(NFConvertLocalToUnicode("", wide, 1, '*', nullptr), 1);
    EXPECT_EQ(wide[0], 0);
    EXPECT_EQ(NFConvertUnicodeToLocal(L"", out, 1, '*', nullptr), 1);
    EXPECT_EQ(NFConvertUnicodeToUTF8(L"", out, 1), 1);
    EXPECT_EQ(NFConvertUTF8ToLocal("", nullptr, 0, 0, 0), 1);
}

TEST(UsedDefault, RaisedOnlyWhenACharacterWasReplaced) {
    char out[16];
    int used = -1;
    EXPECT_EQ(NFConvertUnicodeToLatin1(L"a\x4E2Dz", out, sizeof(out), '*', &used), 4);
    EXPECT_STREQ(out, "a*z");
    EXPECT_EQ(used, 1);
    EXPECT_EQ(NFConvertUnicodeToLatin1(L"az", out, sizeof(out), '*', &used), 3);
    EXPECT_EQ(used, 0);
    // EBCDIC two-stage: the flag of the last stage that converted.
    used = -1;
    EXPECT_EQ(NFConvertLocalToEBCDIC("ab", out, sizeof(out), '*', &used), 3);
    EXPECT_EQ(used, 0);
    EXPECT_STREQ(out, "\x81\x82");
}

TEST(Utf8Exports, RulesOfTheUtf8Family) {
    char out[16];
    // Surrogates: two 3-byte sequences.
    EXPECT_EQ(NFConvertUnicodeToUTF8(L"\xD83D\xDE00", out, sizeof(out)), 7);
    EXPECT_STREQ(out, "\xED\xA0\xBD\xED\xB8\x80");
    // A 1-byte buffer for "ab": the size, and an empty string.
    out[0] = 'x';
    EXPECT_EQ(NFConvertUnicodeToUTF8(L"ab", out, 1), 3);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(NFConvertUnicodeToUTF8(L"ab", nullptr, 0), 3);
    // dst may overlap src.
    union {
        wchar_t wide[8];
        char bytes[16];
    } overlap;
    std::memcpy(overlap.wide, L"\x00E9t\x00E9", 4 * sizeof(wchar_t));
    EXPECT_EQ(NFConvertUnicodeToUTF8(overlap.wide, overlap.bytes, sizeof(overlap.bytes)), 6);
    EXPECT_STREQ(overlap.bytes, "\xC3\xA9t\xC3\xA9");
    // Latin-1 through UTF-8 both ways.
    EXPECT_EQ(NFConvertLatin1ToUTF8("\xE9t\xE9", out, sizeof(out), 0, 0), 6);
    EXPECT_STREQ(out, "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(NFConvertUTF8ToLatin1("\xC3\xA9t\xE4\xB8\xAD", out, sizeof(out), 0, 0), 4);
    EXPECT_STREQ(out, "\xE9t*");
    // A too-small buffer is left untouched.
    std::strcpy(out, "keep");
    EXPECT_EQ(NFConvertLatin1ToUTF8("\xE9\xE9", out, 4, 0, 0), 5);
    EXPECT_STREQ(out, "keep");
}

// Each malformed sequence is one unit: the default character in Latin-1, U+FFFD (F7 FF 0C) in
// CompUnicode.
TEST(Utf8Exports, MalformedSequencesBecomeOneDefaultEach) {
    const struct {
        const char* utf8;
        const char* latin1;
        const char* comp;
    } cases[] = {
        {"a\xC3", "a*", "\x64\xF7\xFF\x0C"},     {"\xE4\xB8", "*", "\xF7\xFF\x0C"},
        {"\xA9z", "*z", "\xF7\xFF\x0C\x7A"},     {"\xF0\x9F\x98\x80!", "*!", "\xF7\xFF\x0C\x24"},
        {"\xC0\x80z", "*z", "\xF7\xFF\x0C\x7A"}, {"\xC3z", "*z", "\xF7\xFF\x0C\x7A"},
        {"\xC3\xA9", "\xE9", "\xE6\x04"},
        // Overlong forms of "/" and "\\" are malformed, not look-alikes; an encoded surrogate is a unit.
        {"\xC0\xAF", "*", "\xF7\xFF\x0C"},   {"\xE0\x80\xAF", "*", "\xF7\xFF\x0C"},
        {"\xC1\x9Cz", "*z", "\xF7\xFF\x0C\x7A"}, {"\xED\xA0\x80", "*", "\x80\xB0\x0C"},
    };
    for (const auto& c : cases) {
        char out[16];
        const int n = NFConvertUTF8ToLatin1(c.utf8, out, sizeof(out), 0, 0);
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.latin1)) + 1) << c.utf8;
        EXPECT_STREQ(out, c.latin1) << c.utf8;
        const int size = NFConvertUTF8ToCompUnicode(c.utf8, nullptr, 0, 0, 0);
        EXPECT_EQ(size, static_cast<int>(std::strlen(c.comp)) + 1) << c.utf8;
        EXPECT_EQ(NFConvertUTF8ToCompUnicode(c.utf8, out, sizeof(out), 0, 0), size) << c.utf8;
        EXPECT_STREQ(out, c.comp) << c.utf8;
    }
}

TEST(IsAllAsciiExport, Rules) {
    EXPECT_EQ(NFIsAllASCII(""), 1);
    EXPECT_EQ(NFIsAllASCII("Plain text 123"), 1);
    EXPECT_EQ(NFIsAllASCII("C:\\dir"), 0);
    EXPECT_EQ(NFIsAllASCII("a~b"), 0);
    EXPECT_EQ(NFIsAllASCII("\x7F"), 0);
    EXPECT_EQ(NFIsAllASCII("\x1A"), 0);
    EXPECT_EQ(NFIsAllASCII("caf\xE9"), 0);
}

// The locale name picks the table; the same bytes then give different CompUnicode.
TEST(LocaleSelection, NamesChooseTheirTables) {
    auto compOf = [](const char* locale, const char* src) {
        char out[32];
        const int n = NFConvertLocaleToCompUnicode(locale, src, out, sizeof(out), '*', nullptr);
        return n > 0 ? std::string(out) : std::string("<0>");
    };
    auto compOfUtf8 = [](const char* utf8) {
        char out[32];
        NFConvertUTF8ToCompUnicode(utf8, out, sizeof(out), 0, 0);
        return std::string(out);
    };
    // 0xB0 0xA1 is U+554A in GB 2312 (1381) and U+AC00 in 949; 0xA4 0x40 is U+4E00 in Big5 (950).
    EXPECT_EQ(compOf("zh_TW", "\xB0\xA1"), compOfUtf8("\xE5\x95\x8A")) << "zh_TW selects 1381";
    EXPECT_EQ(compOf("zh_CN", "\xB0\xA1"), compOfUtf8("\xE5\x95\x8A"));
    EXPECT_EQ(compOf("zhTW", "\xA4\x40"), compOfUtf8("\xE4\xB8\x80")) << "only zhTW selects 950";
    EXPECT_EQ(compOf("ko_KR", "\xB0\xA1"), compOfUtf8("\xEA\xB0\x80"));
    EXPECT_EQ(compOf("ja_JP", "\x82\xA0"), compOfUtf8("\xE3\x81\x82"));
    EXPECT_EQ(compOf("en_US", "\x80\xE9"), compOfUtf8("\xE2\x82\xAC\xC3\xA9")) << "en selects 1252";
    EXPECT_EQ(compOf("pt_BR", "\x80"), compOfUtf8("\xE2\x82\xAC"));
    // Case-sensitive; anything else is the local table.
    char local[32], viaEmpty[32], viaUpper[32];
    NFConvertLocalToCompUnicode("abc", local, sizeof(local), '*', nullptr);
    ASSERT_EQ(NFConvertLocaleToCompUnicode("", "abc", viaEmpty, sizeof(viaEmpty), '*', nullptr), 4);
    ASSERT_EQ(NFConvertLocaleToCompUnicode("EN", "abc", viaUpper, sizeof(viaUpper), '*', nullptr), 4);
    EXPECT_STREQ(viaEmpty, local);
    EXPECT_STREQ(viaUpper, local);
}

TEST(MappingHandles, LoadUseAndFree) {
    EXPECT_EQ(NFFreeCPMapping(nullptr), 0);
    char out[2] = {kSentinel, kSentinel};
    int used = -1;
    EXPECT_EQ(NFConvertUnicodeCharToCP(nullptr, 'A', out, '*', &used), 0);
    EXPECT_EQ(out[0], kSentinel);
    EXPECT_EQ(used, -1);
    wchar_t unit = 0;
    EXPECT_EQ(NFConvertCPCharToUnicode(nullptr, "A", &unit, '*', &used), 0);

    NFCPMapping japanese = NFLoadCPMapping(932);  // CP942.UNI
    ASSERT_NE(japanese, nullptr);
    EXPECT_EQ(NFConvertUnicodeCharToCP(japanese, 0x3042, out, '*', &used), 2);
    EXPECT_EQ(bytesOf(out, 2), "\x82\xA0");
    EXPECT_EQ(used, 0);
    EXPECT_EQ(NFConvertUnicodeCharToCP(japanese, 0x00E9, out, '*', &used), 1);
    EXPECT_EQ(out[0], '*');
    EXPECT_EQ(used, 1);
    EXPECT_EQ(NFConvertCPCharToUnicode(japanese, "\x93\xFA", &unit, '*', &used), 2);
    EXPECT_EQ(unit, 0x65E5);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(NFConvertCPCharToUnicode(japanese, "\xB1", &unit, '*', &used), 1);
    EXPECT_EQ(unit, 0xFF71);
    EXPECT_EQ(NFConvertCPCharToUnicode(japanese, "\x82", &unit, '*', &used), 1)
        << "lead byte before the terminator";
    EXPECT_EQ(unit, L'*');
    EXPECT_EQ(used, 1);
    EXPECT_EQ(NFFreeCPMapping(japanese), 1);

    NFCPMapping gbk = NFLoadCPMapping(936);  // CP946.UNI
    ASSERT_NE(gbk, nullptr);
    EXPECT_EQ(NFConvertCPCharToUnicode(gbk, "\x81\x40", &unit, '*', &used), 2);
    EXPECT_EQ(unit, 0x4E02);
    NFFreeCPMapping(gbk);

    NFCPMapping local = NFLoadCPMapping(0);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(NFConvertUnicodeCharToCP(local, 'A', out, '*', &used), 1);
    EXPECT_EQ(out[0], 'A');
    NFFreeCPMapping(local);

    EXPECT_EQ(NFLoadCPMapping(1250), nullptr) << "no CP1250.UNI ships";
    EXPECT_EQ(NFLoadCPMapping(944), nullptr) << "no CP944.UNI ships";
}

}  // namespace
