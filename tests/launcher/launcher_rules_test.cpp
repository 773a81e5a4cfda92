// Platform-free rules of the launcher: variants, bounded paths, local text, class path text rules,
// property value conversions, locale mapping, processor choice, the command line's arguments. Built
// natively and for Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bounded_path.h"
#include "classpath_rules.h"
#include "command_line.h"
#include "local_text.h"
#include "locale_map.h"
#include "processor_choice.h"
#include "property_values.h"
#include "variant.h"

using namespace kvo;
using namespace kvo::launcher;

namespace {

// Lead bytes of code page 932 (Shift-JIS).
bool shiftJisLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

std::string joined(const std::vector<const char*>& entries, const char* separator) {
    std::string out(joinedSize(entries.data(), static_cast<int>(entries.size()), separator), '?');
    joinEntries(&out[0], entries.data(), static_cast<int>(entries.size()), separator);
    EXPECT_LE(std::strlen(out.c_str()) + 1, out.size()) << "the text fits the size";
    return out.c_str();
}

}  // namespace

TEST(Variants, UsageTextNamesTheProgramsThatTakeAClass) {
    struct Case {
        VariantId id;
        const char* usage;
    } cases[] = {
        {VariantId::Kvocli, "KVOCLI classname [arguments]\n"},
        {VariantId::Kvojavaw, "KVOJAVA classname [arguments]\n"},
        {VariantId::Kvoconw, ""},
        {VariantId::Kvocon, ""},
    };
    for (const Case& c : cases) {
        char usage[64] = "?";
        formatUsage(variantFor(c.id), usage, sizeof usage);
        EXPECT_STREQ(usage, c.usage) << variantFor(c.id).program;
    }
    char small[8] = "?";
    formatUsage(variantFor(VariantId::Kvocli), small, sizeof small);
    EXPECT_STREQ(small, "KVOCLI ") << "cut to the buffer";
}

TEST(Variants, TestsCanSwitchTheCurrentOne) {
    setCurrentVariant(VariantId::Kvoconw);
    EXPECT_EQ(currentVariant().id, VariantId::Kvoconw);
    setCurrentVariant(VariantId::Kvocli);
    EXPECT_EQ(currentVariant().id, VariantId::Kvocli);
}

TEST(BoundedPath, CopiesAndAppendsAtMost259Characters) {
    char buffer[kPathBufferSize + 8];
    std::memset(buffer, 'x', sizeof buffer);
    std::string longText(300, 'a');
    copyPath(buffer, longText.c_str());
    EXPECT_EQ(std::strlen(buffer), 259u);
    EXPECT_EQ(buffer[kPathBufferSize], 'x') << "nothing written past the 260-byte buffer";

    std::string root(250, 'r');
    root += "\\";
    joinPath(buffer, root.c_str(), "classes\\VrnLibs.jar");
    EXPECT_EQ(std::string(buffer), root + std::string("classes\\"));
    appendPath(buffer, "more");
    EXPECT_EQ(std::strlen(buffer), 259u);

    joinPath(buffer, "C:\\Prod\\", nullptr);
    EXPECT_STREQ(buffer, "C:\\Prod\\");
}

TEST(BoundedPath, RootIsTheParentOfTheProgramDirectory) {
    struct Case {
        const char* program;
        const char* root;
    } cases[] = {
        {"C:\\Prod\\bin\\kvocli.exe", "C:\\Prod\\"},
        {"C:\\A\\B\\C\\bin\\kvocon.exe", "C:\\A\\B\\C\\"},
        {"C:\\kvocli.exe", "C:\\"},  // no parent: the program's own directory, never "C:"
        {"kvocli.exe", ""},
        // The trail byte of 0x95 0x5C (a Shift-JIS character) is no separator.
        {"C:\\A\\\x95\\\\x.exe", "C:\\A\\"},
        {"C:\\A\\\x95\\\\bin\\x.exe", "C:\\A\\\x95\\\\"},
    };
    for (const Case& c : cases) {
        char root[kPathBufferSize];
        rootFromProgramPath(root, c.program, shiftJisLead);
        EXPECT_STREQ(root, c.root) << c.program;
    }
}

TEST(BoundedPath, TrailingBackslashAndDefaults) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"C:\\Prod", "C:\\Prod\\"},     {"C:\\Prod\\", "C:\\Prod\\"}, {"C:/Prod/", "C:/Prod/"}, {"", ""},
        {"C:\\\x95\\", "C:\\\x95\\\\"},  // ends in a trail byte, not in a separator
    };
    for (const Case& c : cases) {
        char buffer[kPathBufferSize];
        copyPath(buffer, c.in);
        ensureTrailingBackslash(buffer, shiftJisLead);
        EXPECT_STREQ(buffer, c.out) << c.in;
    }
    char full[kPathBufferSize];
    copyPath(full, std::string(259, 'f').c_str());
    ensureTrailingBackslash(full, nullptr);
    EXPECT_EQ(std::strlen(full), 259u) << "no room: left as it is";

    char directory[kPathBufferSize] = "";
    defaultDirectory(directory, "C:\\Prod\\", "log\\");
    EXPECT_STREQ(directory, "C:\\Prod\\log\\");
    defaultDirectory(directory, "D:\\Other\\", "log\\");
    EXPECT_STREQ(directory, "C:\\Prod\\log\\") << "a set directory is kept";
}

TEST(BoundedPath, FullyQualifiedPaths) {
    for (const char* path : {"C:\\jre\\jvm.dll", "z:\\x", "\\\\server\\share\\jvm.dll"})
        EXPECT_TRUE(isFullyQualifiedPath(path)) << path;
    for (const char* path :
         {"jre\\jvm.dll", ".\\jre", "C:jre\\jvm.dll", "\\jre\\jvm.dll", "C:/jre/jvm.dll", ""})
        EXPECT_FALSE(isFullyQualifiedPath(path)) << path;
}

TEST(CommandLine, SplitAsTheRunTimeLibrarySplitsIt) {
    struct Case {
        const char16_t* line;
        std::vector<std::u16string> arguments;
    } cases[] = {
        {u"", {u""}},
        {u"p  \t a\tb  ", {u"p", u"a", u"b"}},
        // The program's name: nothing but the first pair of quotation marks means anything.
        {u"\"C:\\Program Files\\p.exe\" a", {u"C:\\Program Files\\p.exe", u"a"}},
        {u"\"C:\\a\\\"b c", {u"C:\\a\\", u"b", u"c"}},
        {u"C:\\a\"b c\" d", {u"C:\\a\"b", u"c d"}},
        // The documentation's table.
        {u"p \"ab\\\"c\" \"\\\\\" d", {u"p", u"ab\"c", u"\\", u"d"}},
        {u"p a\\\\\\b d\"e f\"g h", {u"p", u"a\\\\\\b", u"de fg", u"h"}},
        {u"p a\\\\\\\\\"b c\" d e", {u"p", u"a\\\\b c", u"d", u"e"}},
        // Two quotation marks in a quoted part give one and end the part.
        {u"p a\"b\"\" c d", {u"p", u"ab\"", u"c", u"d"}},
        {u"p \"\" \"\"\"\"", {u"p", u"", u"\""}},
        {u"p \"open to the end", {u"p", u"open to the end"}},
        // Only space, tab, quotation mark and backslash mean anything.
        {u"p \"x\uFF02 y\" \uFF02z \u3000w \xD83D\xDE00",
         {u"p", u"x\uFF02 y", u"\uFF02z", u"\u3000w", u"\xD83D\xDE00"}},
    };
    for (const Case& c : cases) {
        const CommandLineSize size = splitCommandLine<char16_t>(c.line, nullptr, nullptr);
        std::vector<char16_t*> arguments(size.arguments);
        std::u16string text(size.units + 1, u'?');
        splitCommandLine<char16_t>(c.line, arguments.data(), &text[0]);
        EXPECT_EQ(text.back(), u'?') << "nothing past the measured size";
        EXPECT_EQ(std::vector<std::u16string>(arguments.begin(), arguments.end()), c.arguments) << &c - cases;
    }
}

TEST(LocalText, CaseInsensitiveComparisonKeepsDoubleByteCharactersApart) {
    EXPECT_TRUE(
        equalsIgnoreCase("C:\\Prod\\classes\\VrnLibs.jar", "c:\\PROD\\Classes\\vrnlibs.JAR", nullptr));
    EXPECT_FALSE(equalsIgnoreCase("C:\\a.jar", "C:\\a.jar2", nullptr));
    EXPECT_FALSE(equalsIgnoreCase("a-b", "a_b", nullptr));
    // 0x83 0x41 and 0x83 0x61 are two different Shift-JIS characters.
    EXPECT_FALSE(equalsIgnoreCase("\x83\x41.jar", "\x83\x61.jar", shiftJisLead));
    EXPECT_TRUE(equalsIgnoreCase("\x83\x41.JAR", "\x83\x41.jar", shiftJisLead));

    EXPECT_TRUE(endsWithIgnoreCase("C:\\x\\Foo.jar", "foo.JAR", nullptr));
    EXPECT_TRUE(endsWithIgnoreCase("foo.jar", "foo.jar", nullptr));
    EXPECT_TRUE(endsWithIgnoreCase("foo.jar", "", nullptr));
    EXPECT_FALSE(endsWithIgnoreCase("o.jar", "foo.jar", nullptr));
    EXPECT_FALSE(endsWithIgnoreCase("C:\\x\\foo.jar", "foo.ja", nullptr));
    EXPECT_FALSE(endsWithIgnoreCase("x\x83\x61", "a", shiftJisLead)) << "a suffix starting on a trail byte";
    EXPECT_TRUE(endsWithIgnoreCase("x\x83\x61", "a", nullptr));

    EXPECT_TRUE(startsWithAsciiIgnoreCase("ClassPath:x.jar", "classpath:"));
    EXPECT_FALSE(startsWithAsciiIgnoreCase("classpat", "classpath:"));

    char text[] = "C:/a/b\\c/";
    replaceSlashes(text);
    EXPECT_STREQ(text, "C:\\a\\b\\c\\");
    char plain[] = "C:\\a";
    replaceSlashes(plain);
    EXPECT_STREQ(plain, "C:\\a");
    replaceSlashes(nullptr);
}

TEST(LocalText, BackslashesBecomeSlashesButTrailBytesStay) {
    struct Case {
        const char* text;
        LeadBytePredicate isLeadByte;
        const char* expected;
    } cases[] = {
        {"C:\\Prod\\kvo", nullptr, "C:/Prod/kvo"},
        // C:\<U+8868> and C:\<U+8868>\x in code page 932: the character's trail byte is 0x5C.
        {"C:\\\x95\x5C", shiftJisLead, "C:/\x95\x5C"},
        {"C:\\\x95\x5C\\x", shiftJisLead, "C:/\x95\x5C/x"},
        // A lead byte at the very end has no trail byte to protect.
        {"a\\\x95", shiftJisLead, "a/\x95"},
        {"", shiftJisLead, ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        replaceBackslashes(&text[0], c.isLeadByte);
        EXPECT_EQ(text, c.expected) << c.text;
    }
    replaceBackslashes(nullptr, shiftJisLead);
}

TEST(ClasspathRules, FixedListsAndJoining) {
    ASSERT_EQ(kFixedClasspathEntryCount, 15);
    ASSERT_EQ(kBootClasspathEntryCount, 2);
    EXPECT_STREQ(kFixedClasspathEntries[0], "classfix");
    EXPECT_STREQ(kFixedClasspathEntries[14], "lib\\cimfac.jar");
    EXPECT_STREQ(kBootClasspathEntries[1], "lib\\javafix.jar");

    EXPECT_EQ(joined({}, ";"), "");
    EXPECT_EQ(joined({"a"}, ";"), "a");
    EXPECT_EQ(joined({"a", "bc", ""}, ";"), "a;bc;");
    EXPECT_EQ(joined(std::vector<const char*>(kProtocolHandlerPackages,
                                              kProtocolHandlerPackages + kProtocolHandlerPackageCount),
                     kProtocolHandlerSeparator),
              "sun.net.www.protocol|com.sun.net.ssl.internal.www.protocol|com.orvane.kvo.viviv|"
              "org.apache.axis.transport");
}

TEST(ClasspathRules, ValueKinds) {
    struct Case {
        const char* text;
        ClasspathValueKind kind;
        const char* pattern;
    } cases[] = {
        {"classpath:foo.jar", ClasspathValueKind::SystemClasspath, "foo.jar"},
        {"CLASSPATH:lib/foo.jar", ClasspathValueKind::SystemClasspath, "lib/foo.jar"},
        {"classpath:", ClasspathValueKind::SystemClasspath, ""},
        {"\\", ClasspathValueKind::Verbatim, nullptr},
        {"/", ClasspathValueKind::Verbatim, nullptr},
        {"D:\\other\\y.jar", ClasspathValueKind::Verbatim, nullptr},
        {"lib:x", ClasspathValueKind::Verbatim, nullptr},
        {"lib/x.jar", ClasspathValueKind::RootRelative, nullptr},
        {"\\\\", ClasspathValueKind::RootRelative, nullptr},
        {"classpath", ClasspathValueKind::RootRelative, nullptr},
    };
    for (const Case& c : cases) {
        const char* pattern = nullptr;
        EXPECT_EQ(classifyClasspathValue(c.text, &pattern), c.kind) << c.text;
        if (c.pattern) {
            EXPECT_STREQ(pattern, c.pattern) << c.text;
        }
    }
}

TEST(ClasspathRules, FirstEntryEndingWithThePattern) {
    static std::vector<std::string> visited;
    visited.clear();
    char list[] = "C:\\a\\bar.jar.old;;D:\\b\\Bar.JAR;E:\\c\\bar.jar";
    const char* match =
        firstEntryEndingWith(list, "bar.jar", nullptr, [](const char* entry) { visited.push_back(entry); });
    ASSERT_NE(match, nullptr);
    EXPECT_STREQ(match, "D:\\b\\Bar.JAR");
    EXPECT_EQ(visited, (std::vector<std::string>{"C:\\a\\bar.jar.old", "D:\\b\\Bar.JAR"}))
        << "empty pieces skipped";

    char none[] = "a.jar;b.jar;";
    EXPECT_EQ(firstEntryEndingWith(none, "c.jar", nullptr, nullptr), nullptr);
    char empty[] = "";
    EXPECT_EQ(firstEntryEndingWith(empty, "", nullptr, nullptr), nullptr);
}

TEST(ClasspathRules, LibraryPath) {
    struct Case {
        const char* jni;
        const char* bin;
        const char* path;
        const char* expected;
    } cases[] = {
        {"C:\\Prod\\jni\\", "C:\\Prod\\bin\\", nullptr, "C:\\Prod\\jni;C:\\Prod\\bin"},
        {"C:\\Prod\\jni\\", "C:\\Prod\\bin\\", "C:\\w;D:\\x", "C:\\Prod\\jni;C:\\Prod\\bin;C:\\w;D:\\x"},
        {"C:\\Prod\\jni\\", "C:\\Prod\\bin\\", "", "C:\\Prod\\jni;C:\\Prod\\bin;"},
        {"", "", nullptr, ";"},
    };
    for (const Case& c : cases) {
        size_t size = libraryPathSize(c.jni, c.bin, c.path);
        std::vector<char> out(size, '?');
        composeLibraryPath(out.data(), c.jni, c.bin, c.path);
        EXPECT_STREQ(out.data(), c.expected);
        EXPECT_LE(std::strlen(out.data()) + 1, size);
    }
}

TEST(PropertyValues, UnsignedNumbers) {
    struct Case {
        const wchar_t* text;
        bool ok;
        unsigned long value;
    } cases[] = {
        {L"1024", true, 1024},
        {L"256m", true, 256},
        {L"  42", true, 42},
        {L"\t+7", true, 7},
        {L"0", true, 0},
        {L"4294967295", true, 4294967295ul},
        {L"-1", true, 4294967295ul},
        {L"abc", false, 0},
        {L"", false, 0},
        {L"m256", false, 0},
        {L"4294967296", false, 0},
        {L"99999999999999999999999", false, 0},
        {L"-", false, 0},
        {L"0x10", true, 0},
    };
    for (const Case& c : cases) {
        unsigned long value = 12345;
        EXPECT_EQ(parseUnsigned32(c.text, &value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 12345ul) << "failure leaves the value alone";
    }
    unsigned long value = 0;
    EXPECT_FALSE(parseUnsigned32(nullptr, &value));
}

TEST(PropertyValues, BooleanWords) {
    for (const wchar_t* yes : {L"TRUE", L"true", L"True", L"T", L"t", L"YES", L"yes", L"Y", L"y", L"1"})
        EXPECT_EQ(parseBooleanText(yes), 1);
    for (const wchar_t* other : {L"FALSE", L"0", L"no", L"", L" yes", L"yes ", L"11", L"TRUEX", L"01"})
        EXPECT_EQ(parseBooleanText(other), -1);
    EXPECT_EQ(parseBooleanText(nullptr), -1);
}

TEST(LocaleMap, EveryRow) {
    struct Case {
        unsigned short id;
        const char* language;
        const char* region;
    } cases[] = {
        {0x0404, "zh", "TW"}, {0x0804, "zh", "CN"}, {0x0C04, "en", "US"}, {0x1004, "en", "US"},
        {0x0407, "de", "DE"}, {0x0807, "de", "DE"}, {0x0409, "en", "US"}, {0x0809, "en", "US"},
        {0x040A, "es", "ES"}, {0x0C0A, "es", "ES"}, {0x040C, "fr", "FR"}, {0x0C0C, "fr", "FR"},
        {0x0411, "ja", "JP"}, {0x0412, "ko", "KR"}, {0x0410, "en", "US"}, {0x0419, "en", "US"},
        {0x0000, "en", "US"}, {0x0004, "en", "US"},
    };
    for (const Case& c : cases) {
        const char* language = nullptr;
        const char* region = nullptr;
        localeForLanguageId(c.id, &language, &region);
        EXPECT_STREQ(language, c.language) << std::hex << c.id;
        EXPECT_STREQ(region, c.region) << std::hex << c.id;
    }
}

TEST(ProcessorChoice, OneAllowedProcessor) {
    for (std::uint64_t mask : {0x0ull, 0x1ull, 0x2ull, 0x80000000ull, 0x100000000ull})
        EXPECT_EQ(chooseProcessor(mask, 12345), -1) << std::hex << mask;
    EXPECT_EQ(chooseProcessor(0x300000000ull, 7), -1) << "no allowed processor below 32";

    for (unsigned long tick = 0; tick < 64; ++tick) {
        int n = chooseProcessor(0x3, tick);
        EXPECT_TRUE(n == 0 || n == 1);
        int m = chooseProcessor(0x5, tick);
        EXPECT_TRUE(m == 0 || m == 2) << m;
        int k = chooseProcessor(0x300000005ull, tick);
        EXPECT_TRUE(k == 0 || k == 2) << k;
    }
    EXPECT_EQ(chooseProcessor(0x3, 0), 0);
    EXPECT_EQ(chooseProcessor(0x3, 1), 1);
    EXPECT_EQ(chooseProcessor(0xFFFFFFFFull, 31), 31);
    EXPECT_EQ(chooseProcessor(0xFFFFFFFFull, 32), 0);
}
