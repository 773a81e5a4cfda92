#include "properties.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "heap.h"
#include "heap_failure.h"

using namespace kvo;

namespace {

Properties* loaded(const std::string& text, Properties* defaults = nullptr) {
    auto* p = new Properties(defaults);
    EXPECT_EQ(p->load(text.data(), static_cast<int>(text.size())), 1);
    return p;
}

std::wstring value(const Properties& p, const wchar_t* key) {
    const wchar_t* v = p.getProperty(key);
    return v ? std::wstring(v) : std::wstring(L"<null>");
}

std::string saved(const Properties& p, const wchar_t* header = nullptr) {
    std::vector<char> buffer(64 * 1024);
    p.save(buffer.data(), static_cast<int>(buffer.size()), header);
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

}  // namespace

TEST(PropertiesHash, ChainsOfTheKnownKeys) {
    EXPECT_EQ(Properties::chainOf(L""), 255);
    EXPECT_EQ(Properties::chainOf(L"a"), 129);
    EXPECT_EQ(Properties::chainOf(L"key"), 153);
    EXPECT_EQ(Properties::chainOf(L"jvm.heap.maximum"), 141);
}

// One row of the syntax table: a file text, a key and the value it must give.
struct SyntaxCase {
    const char* name;
    const char* text;
    const wchar_t* key;
    const wchar_t* expected;  // L"<null>" when the key must be absent
};

class PropertiesSyntax : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(PropertiesSyntax, ValueOfKey) {
    const SyntaxCase& c = GetParam();
    std::unique_ptr<Properties> p(loaded(c.text));
    EXPECT_EQ(value(*p, c.key), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PropertiesSyntax,
    ::testing::Values(SyntaxCase{"equals", "key=value", L"key", L"value"},
                      SyntaxCase{"colon", "key:value", L"key", L"value"},
                      SyntaxCase{"blank", "key value", L"key", L"value"},
                      SyntaxCase{"spacedEquals", "key = value", L"key", L"value"},
                      SyntaxCase{"secondEqualsKept", "key = = x", L"key", L"= x"},
                      SyntaxCase{"indentedComment", "  # comment\nk=v", L"#", L"<null>"},
                      SyntaxCase{"bangComment", "! k=v\nk=w", L"k", L"w"},
                      SyntaxCase{"hashInValue", "key=#value", L"key", L"#value"},
                      SyntaxCase{"keyAlone", "key\nother=1", L"key", L""},
                      SyntaxCase{"keyEqualsNothing", "key =\n", L"key", L""},
                      SyntaxCase{"lastLineNoNewline", "a=1\nkey", L"key", L""},
                      SyntaxCase{"emptyKey", "=x", L"", L"x"}, SyntaxCase{"emptyKeyColon", ":y", L"", L"y"},
                      SyntaxCase{"backslashes", "path=C:\\\\temp\\\\file", L"path", L"C:\\temp\\file"},
                      SyntaxCase{"unicodeEscapes", "a=\\u0041\\u00e9", L"a", L"A\u00e9"},
                      SyntaxCase{"unicodeUpper", "a=\\u00E9", L"a", L"\u00e9"},
                      SyntaxCase{"manyUs", "a=\\uuuu0041", L"a", L"A"},
                      SyntaxCase{"continuation", "a=one \\\n   two", L"a", L"one two"},
                      SyntaxCase{"continuationCRLF", "a=one \\\r\n\ttwo", L"a", L"one two"},
                      SyntaxCase{"backslashCROther", "a=x\\\ry", L"a", L"xy"},
                      SyntaxCase{"controlEscapes", "a=\\t\\n\\r", L"a", L"\t\n\r"},
                      SyntaxCase{"otherEscapes", "a=\\=\\#\\ \\:", L"a", L"=# :"},
                      SyntaxCase{"trailingSpacesKept", "a=x  ", L"a", L"x  "},
                      SyntaxCase{"crlfLines", "a=1\r\nb=2\r\n", L"b", L"2"},
                      SyntaxCase{"latin1Byte", "a=\xe9", L"a", L"\u00e9"},
                      SyntaxCase{"keyIsCaseSensitive", "Key=1", L"key", L"<null>"},
                      SyntaxCase{"backslashInKeyIsPlain", "a\\b=1", L"a\\b", L"1"},
                      SyntaxCase{"shortUnicodeEscape", "a=\\u41z", L"a", L"Az"},
                      SyntaxCase{"unicodeEscapeAtEnd", "a=\\u4", L"a", L"\u0004"},
                      SyntaxCase{"backslashLastByte", "a=x\\", L"a", L"x"},
                      SyntaxCase{"commentNotContinued", "# c \\\nb=2", L"b", L"2"}),
    [](const ::testing::TestParamInfo<SyntaxCase>& info) { return std::string(info.param.name); });

TEST(Properties, EmptyAndCommentOnlyInputs) {
    for (const char* text : {"", "\n\n  \t\n", "# one\n! two\n   # three"}) {
        std::unique_ptr<Properties> p(loaded(text));
        EXPECT_EQ(p->size(), 0) << text;
    }
}

TEST(Properties, DuplicateKeysKeepTheLastValue) {
    std::unique_ptr<Properties> p(loaded("a=1\nb=2\na=3\n"));
    EXPECT_EQ(p->size(), 2);
    EXPECT_EQ(value(*p, L"a"), L"3");
}

TEST(Properties, DefaultsChain) {
    Properties base;
    base.setProperty(L"shared", L"base");
    base.setProperty(L"onlyBase", L"b");
    Properties middle(&base);
    middle.setProperty(L"shared", L"middle");
    Properties top(&middle);
    EXPECT_EQ(value(top, L"shared"), L"middle");
    EXPECT_EQ(value(top, L"onlyBase"), L"b");
    top.remove(L"onlyBase");
    EXPECT_EQ(value(top, L"onlyBase"), L"b");
    EXPECT_EQ(top.size(), 0);
    EXPECT_EQ(value(top, L"missing"), L"<null>");
}

TEST(Properties, PutReplaceRemoveAndNames) {
    Properties p;
    p.setProperty(L"key", L"1");
    p.setProperty(L"a", L"2");
    p.setProperty(L"", L"3");
    p.setProperty(L"jvm.heap.maximum", L"4");
    p.setProperty(L"key", L"5");
    EXPECT_EQ(p.size(), 4);
    EXPECT_EQ(value(p, L"key"), L"5");

    // Chain order: "a" 129, "jvm.heap.maximum" 141, "key" 153, "" 255.
    const wchar_t** names = p.propertyNames();
    std::vector<std::wstring> order;
    for (const wchar_t** n = names; *n; ++n)
        order.emplace_back(*n);
    kvo::heapRelease(names);
    EXPECT_EQ(order, (std::vector<std::wstring>{L"a", L"jvm.heap.maximum", L"key", L""}));

    p.remove(L"key");
    p.remove(L"never-there");
    EXPECT_EQ(p.size(), 3);
    EXPECT_EQ(value(p, L"key"), L"<null>");

    p.clear();
    EXPECT_EQ(p.size(), 0);
    EXPECT_EQ(value(p, L"a"), L"<null>");
    p.setProperty(L"a", L"again");
    EXPECT_EQ(value(p, L"a"), L"again");
}

TEST(Properties, SaveEscapesValuesAndKeepsChainOrder) {
    Properties p;
    p.setProperty(L"key", L"tab\there\\ \u00e9\u4e2d\n\r~");
    p.setProperty(L"a", L"plain");
    EXPECT_EQ(saved(p, L" header"),
              "# header\n"
              "a=plain\n"
              "key=tab\\there\\\\ \\u00E9\\u4E2D\\n\\r~\n");
}

TEST(Properties, SaveThenLoadRoundTrip) {
    Properties original;
    const std::vector<std::pair<std::wstring, std::wstring>> entries = {
        {L"jvm.heap.maximum", L"256m"},
        {L"path", L"C:\\Program Files\\kvo\\"},
        {L"text", L"  leading and trailing  "},
        {L"blanks", L"   "},
        {L"controls", L"a\tb\nc\rd"},
        {L"unicode", L"\u00e9\u4e2d\uffff\u0001"},
        {L"empty", L""},
        {L"", L"empty key"},
        {L"separators", L"= : # !"},
    };
    for (const auto& e : entries)
        original.setProperty(e.first.c_str(), e.second.c_str());
    const std::string text = saved(original, L"round trip");

    std::unique_ptr<Properties> copy(loaded(text));
    EXPECT_EQ(copy->size(), original.size());
    for (const auto& e : entries)
        EXPECT_EQ(value(*copy, e.first.c_str()), e.second)
            << "key " << std::string(e.first.begin(), e.first.end());
}

TEST(Properties, SaveIntoShortBufferStopsStoring) {
    Properties p;
    p.setProperty(L"a", L"0123456789");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(p.save(buffer, 5, nullptr), 1);
    EXPECT_EQ(std::string(buffer, 8), "a=012###");
}

TEST(Properties, SaveAndLoadThroughFiles) {
    Properties p;
    p.setProperty(L"k", L"v\u00e9");
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(p.save(file, nullptr), 1);
    std::rewind(file);
    Properties back;
    EXPECT_EQ(back.load(file), 1);
    std::fclose(file);
    EXPECT_EQ(value(back, L"k"), L"v\u00e9");
}

TEST(PropertiesList, BufferFormsAndLengths) {
    Properties p;
    p.setProperty(L"a", L"short");
    const std::wstring long41(41, L'x');
    p.setProperty(L"key", long41.c_str());

    const std::wstring expected =
        L"-- listing properties --\n"
        L"a=short\n"
        L"key=" +
        std::wstring(40, L'x') + L"...\n";
    // Header 25, "a=short\n" 1+5+2, the long line counted as key + 46.
    const int needed = 25 + 8 + 3 + 46;

    EXPECT_EQ(p.list(nullptr, 0), needed);
    wchar_t tiny[4] = {L'#', L'#', L'#', L'#'};
    EXPECT_EQ(p.list(tiny, 0), needed);
    EXPECT_EQ(tiny[0], L'#');

    std::vector<wchar_t> big(needed + 1, L'#');
    EXPECT_EQ(p.list(big.data(), static_cast<int>(big.size())), needed);
    EXPECT_EQ(std::wstring(big.data()), expected);

    // Room for the header and the first line only: later lines are dropped, the length still grows.
    std::vector<wchar_t> part(40, L'#');
    EXPECT_EQ(p.list(part.data(), static_cast<int>(part.size())), needed);
    EXPECT_EQ(std::wstring(part.data()), L"-- listing properties --\na=short\n");
}

TEST(PropertiesList, StreamForm) {
    Properties p;
    p.setProperty(L"a", L"short");
    p.setProperty(L"key", std::wstring(41, L'y').c_str());
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    p.list(file);
    std::rewind(file);
    char text[256] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    std::string got(text, n);
    got.erase(std::remove(got.begin(), got.end(), '\r'), got.end());
    EXPECT_EQ(got, "-- listing properties --\na=short\nkey=" + std::string(40, 'y') + "...\n");
}

TEST(PropertiesHostile, RandomBytesAndCutEscapesLoad) {
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        std::string text(random() % 2048, '\0');
        for (auto& c : text) {
            // Lean towards the characters the parser cares about.
            static const char interesting[] = "\\u=: \t\r\n#!0aF";
            c = (random() % 3 == 0) ? interesting[random() % (sizeof interesting - 1)]
                                    : static_cast<char>(random() & 0xFF);
        }
        Properties p;
        EXPECT_EQ(p.load(text.data(), static_cast<int>(text.size())), 1);
        const wchar_t** names = p.propertyNames();
        int n = 0;
        while (names[n])
            ++n;
        kvo::heapRelease(names);
        EXPECT_EQ(n, p.size());
    }
    for (const char* cut : {"a=\\", "a=\\u", "a=\\uu", "a=\\u00", "a=\\\r", "a=x\\\n", "\\", "#"}) {
        std::unique_ptr<Properties> p(loaded(cut));
        EXPECT_LE(p->size(), 1) << cut;
    }
    // A very long value grows the scratch buffer many times.
    std::string huge = "big=" + std::string(100000, 'z');
    std::unique_ptr<Properties> p(loaded(huge));
    EXPECT_EQ(std::wstring(p->getProperty(L"big")).size(), 100000u);
}

TEST(Properties, SaveEscapesLeadingSpacesOnly) {
    Properties p;
    p.setProperty(L"k", L"  a b ");
    EXPECT_EQ(saved(p), "k=\\ \\ a b \n");
}

// Running out of memory at any allocation of a load ends it with 0 and leaves a table that holds, for
// each key it has, the value the input gave that key (never a half-built entry or a cut value).
TEST(PropertiesMemory, EveryFailingAllocationOfALoadLeavesAConsistentTable) {
    std::string longValue(300, 'v');  // grows the 80-unit scratch buffer twice
    const std::string text = "first=1\nsecond=two\nlong=" + longValue + "\nsecond=again\nu=\\u00e9\n";
    const std::map<std::wstring, std::wstring> complete = {
        {L"first", L"1"},
        {L"second", L"again"},
        {L"long", std::wstring(longValue.begin(), longValue.end())},
        {L"u", L"\u00e9"},
    };
    int failedLoads = 0;
    const int allocations = kvotest::forEachFailingAllocation([&](int n) {
        Properties p;
        const int result = p.load(text.data(), static_cast<int>(text.size()));
        const wchar_t** names = p.propertyNames();
        SCOPED_TRACE(n);
        if (names == nullptr) {
            EXPECT_EQ(result, 1) << "only the listing itself failed";
            return;
        }
        int listed = 0;
        for (const wchar_t** name = names; *name != nullptr; ++name, ++listed) {
            const auto expected = complete.find(*name);
            ASSERT_NE(expected, complete.end());
            const std::wstring got = p.getProperty(*name);
            // "second" may still hold its first value when the load stopped before the second line.
            if (*name != std::wstring(L"second") || got != L"two") {
                EXPECT_EQ(got, expected->second);
            }
        }
        kvo::heapRelease(names);
        EXPECT_EQ(listed, p.size());
        if (result == 0) {
            ++failedLoads;
        } else {
            EXPECT_EQ(listed, 4) << "a load that reports success read everything";
        }
    });
    EXPECT_GT(allocations, 10);
    EXPECT_GT(failedLoads, allocations / 2);
}

TEST(PropertiesMemory, PutAndSetPropertyReportRunningOut) {
    Properties p;
    {
        kvotest::FailAllocation failure(1);  // the chains
        EXPECT_FALSE(p.setProperty(L"k", L"v"));
        EXPECT_TRUE(failure.reached());
    }
    EXPECT_EQ(p.size(), 0);
    EXPECT_TRUE(p.setProperty(L"k", L"v"));
    for (int n = 1; n <= 3; ++n) {  // key copy, value copy, entry
        kvotest::FailAllocation failure(n);
        EXPECT_FALSE(p.setProperty(L"other", L"w")) << n;
    }
    EXPECT_EQ(p.size(), 1);
    EXPECT_EQ(p.getProperty(L"other"), nullptr);
    // put takes over heap strings even when it cannot store them (no leak under the sanitizers).
    EXPECT_FALSE(p.put(Properties::heapCopy(L"key"), nullptr));
    EXPECT_FALSE(p.put(nullptr, Properties::heapCopy(L"value")));
    EXPECT_TRUE(p.put(Properties::heapCopy(L"k"), Properties::heapCopy(L"replaced")));
    EXPECT_EQ(std::wstring(p.getProperty(L"k")), L"replaced");
    {
        kvotest::FailAllocation failure(1);
        EXPECT_EQ(p.propertyNames(), nullptr);
    }
}
