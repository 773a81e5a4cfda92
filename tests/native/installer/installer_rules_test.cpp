// kta_ca's platform-free rules, natively under AddressSanitizer and UBSan: bounded texts (with
// canaries behind every buffer), the installer-literal escape, the fixed names, row keys, the
// parameter text of FixFileDatesCA and the key names of a response-file section.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bounded_text.h"
#include "file_date_parameters.h"
#include "heap_failure.h"
#include "response_keys.h"
#include "row_keys.h"
#include "text_rules.h"

namespace kvo::installer {
namespace {

constexpr wchar_t kCanary = 0x5A5A;

// A buffer of `capacity` units followed by canaries that no write may reach.
class CanaryBuffer {
public:
    explicit CanaryBuffer(std::size_t capacity) : units_(capacity + 8, kCanary), capacity_(capacity) {}
    wchar_t* data() { return units_.data(); }
    std::size_t capacity() const { return capacity_; }
    bool canariesIntact() const {
        for (std::size_t i = capacity_; i < units_.size(); ++i) {
            if (units_[i] != kCanary)
                return false;
        }
        return true;
    }

private:
    std::vector<wchar_t> units_;
    std::size_t capacity_;
};

TEST(BoundedText, CutsAtTheBufferAndNeverWritesPastIt) {
    const std::wstring longText(600, L'x');
    for (std::size_t capacity : {1u, 2u, 17u, 512u}) {
        CanaryBuffer buffer(capacity);
        BoundedText text(buffer.data(), capacity);
        text.append(longText.c_str()).append(L"more").appendSigned(-123456789).append(L'z');
        EXPECT_EQ(text.length(), capacity - 1);
        EXPECT_EQ(std::wstring(text.text()), longText.substr(0, capacity - 1));
        EXPECT_TRUE(text.cut());
        EXPECT_TRUE(buffer.canariesIntact()) << capacity;
    }
}

TEST(BoundedText, KeepsWhatFitsAndReportsNoCut) {
    TextBuffer<8> text;
    text.append(L"abc").append(L'-').appendUnsigned(42);
    EXPECT_STREQ(text.text(), L"abc-42");
    EXPECT_FALSE(text.cut());
    EXPECT_TRUE(text.appendWhole(L"X", 1));
    EXPECT_FALSE(text.appendWhole(L"YZ", 2));  // one unit of room left: nothing is appended
    EXPECT_STREQ(text.text(), L"abc-42X");
    EXPECT_TRUE(text.cut());
    text.clear();
    EXPECT_STREQ(text.text(), L"");
    EXPECT_FALSE(text.cut());
}

TEST(BoundedText, NeverSplitsASurrogatePair) {
    const wchar_t pairs[] = {L'a', 0xD83D, 0xDE00, 0xD83D, 0xDE00, 0};
    struct Case {
        std::size_t capacity;
        std::size_t kept;
    } cases[] = {{2, 1}, {3, 1}, {4, 3}, {5, 3}, {6, 5}};
    for (const Case& c : cases) {
        CanaryBuffer buffer(c.capacity);
        BoundedText text(buffer.data(), c.capacity);
        text.append(pairs);
        EXPECT_EQ(text.length(), c.kept) << c.capacity;
        EXPECT_EQ(text.cut(), c.kept < 5);
        EXPECT_TRUE(buffer.canariesIntact());
    }
}

TEST(BoundedText, KeepsATextAlreadyInItsBuffer) {
    wchar_t name[12] = L"Prop";
    BoundedText text(name, 12, BoundedText::KeepText{});
    EXPECT_EQ(text.length(), 4u);
    text.append(L".suffix-cut");
    EXPECT_STREQ(name, L"Prop.suffix");
    EXPECT_TRUE(text.cut());
    wchar_t unterminated[3] = {L'a', L'b', L'c'};
    BoundedText kept(unterminated, 3, BoundedText::KeepText{});
    EXPECT_STREQ(kept.text(), L"ab");
}

TEST(BoundedText, AKeptOrWrittenTextThatFillsTheBufferIsMarkedCut) {
    const struct {
        std::vector<wchar_t> buffer;  // as the system left it: no terminator within it
        const wchar_t* kept;
    } cases[] = {
        {{L'a', L'b', L'c'}, L"ab"},
        {{L'a', 0xD83D, 0xDE00}, L"a"},  // the pair is not split at the buffer's end
        {{0xD83D, 0xDE00}, L""},
        {{L'x'}, L""},
    };
    for (const auto& c : cases) {
        std::vector<wchar_t> units = c.buffer;
        BoundedText kept(units.data(), units.size(), BoundedText::KeepText{});
        EXPECT_STREQ(kept.text(), c.kept);
        EXPECT_TRUE(kept.cut());

        std::vector<wchar_t> storage(c.buffer.size(), L'\0');
        BoundedText written(storage.data(), storage.size());
        std::copy(c.buffer.begin(), c.buffer.end(), written.data());
        written.acceptWritten();
        EXPECT_STREQ(written.text(), c.kept);
        EXPECT_TRUE(written.cut());
        // A terminated text is taken as it is, and not marked.
        written.data()[0] = L'\0';
        written.acceptWritten();
        EXPECT_STREQ(written.text(), L"");
        EXPECT_FALSE(written.cut());
    }
}

TEST(BoundedText, TakesNothingMoreOnceCut) {
    // "abc" and a pair in 4 units of room: the pair does not fit whole, one unit stays free.
    TextBuffer<5> text;
    text.append(L"abc\xD83D\xDE00");
    EXPECT_STREQ(text.text(), L"abc");
    EXPECT_TRUE(text.cut());
    text.append(L'"').append(L"\"");
    EXPECT_FALSE(text.appendWhole(L"x", 1));
    EXPECT_STREQ(text.text(), L"abc");
    // A formatted line cut inside its argument does not go on with the rest of the pattern.
    TextBuffer<6> line;
    EXPECT_FALSE(formatText(line, L"\"%s\"", {L"abc\xD83D\xDE00"}));
    EXPECT_STREQ(line.text(), L"\"abc");
    line.clear();
    EXPECT_TRUE(formatText(line, L"\"%s\"", {L"abc"}));
    EXPECT_STREQ(line.text(), L"\"abc\"");
}

TEST(BoundedText, Numbers) {
    TextBuffer<64> text;
    text.appendSigned(-9223372036854775807LL - 1).append(L' ').appendUnsigned(18446744073709551615ULL);
    text.append(L' ').appendHex(0x65B).append(L' ').appendSigned(0).append(L' ').appendHex(0);
    EXPECT_STREQ(text.text(), L"-9223372036854775808 18446744073709551615 65B 0 0");
}

TEST(FormatText, Conversions) {
    struct Case {
        const wchar_t* pattern;
        std::initializer_list<FormatArg> args;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"Entering %s", {L"KTA_Core/SeedDataCA"}, L"Entering KTA_Core/SeedDataCA"},
        {L"Exiting %s, return code=%d",
         {L"KTA_Core/DeleteDataCA", -1},
         L"Exiting KTA_Core/DeleteDataCA, return code=-1"},
        {L"unable to open file \"%s\"; rc = %u",
         {L"C:\\a b", 5u},
         L"unable to open file \"C:\\a b\"; rc = 5"},
        {L"rc = X'%lX'", {1627u}, L"rc = X'65B'"},
        {L"100%% %s", {L"done"}, L"100% done"},
        {L"%s and %s", {L"one"}, L"one and %s"},  // a conversion without an argument stays
        {L"%q %s", {L"x"}, L"%q x"},              // an unknown conversion stays
        {L"trailing %", {}, L"trailing %"},
        {L"%s", {static_cast<const wchar_t*>(nullptr)}, L""},
        {L"Message %d could not be loaded.", {25004}, L"Message 25004 could not be loaded."},
    };
    for (const Case& c : cases) {
        TextBuffer<128> out;
        EXPECT_TRUE(formatText(out, c.pattern, c.args));
        EXPECT_STREQ(out.text(), c.expected) << c.pattern;
    }
}

TEST(FormatText, CutsALongArgumentAtTheBuffer) {
    const std::wstring property(600, L'p');
    CanaryBuffer buffer(kLineCapacity);
    BoundedText line(buffer.data(), kLineCapacity);
    EXPECT_FALSE(formatText(line, L"**** ZAL_INFO -- %s", {property.c_str()}));
    EXPECT_EQ(line.length(), kLineCapacity - 1);
    EXPECT_EQ(std::wstring(line.text()), L"**** ZAL_INFO -- " + property.substr(0, kLineCapacity - 1 - 17));
    EXPECT_TRUE(buffer.canariesIntact());
}

TEST(InstallerLiteral, EscapesFormattingSyntaxAndNeverCutsAnEscape) {
    TextBuffer<128> out;
    EXPECT_TRUE(appendInstallerLiteral(out, L"ExcludeDirectory[ 0 ] = \"C:\\{x}\""));
    EXPECT_STREQ(out.text(), L"ExcludeDirectory[\\[] 0 [\\]] = \"C:\\[\\{]x[\\}]\"");

    struct Case {
        std::size_t capacity;
        const wchar_t* expected;
    } cases[] = {{3, L"ab"}, {4, L"ab"}, {6, L"ab"}, {7, L"ab[\\[]"}, {8, L"ab[\\[]c"}};
    for (const Case& c : cases) {
        CanaryBuffer buffer(c.capacity);
        BoundedText text(buffer.data(), c.capacity);
        EXPECT_EQ(appendInstallerLiteral(text, L"ab[c"), c.capacity >= 8);
        EXPECT_STREQ(text.text(), c.expected) << c.capacity;
        EXPECT_TRUE(buffer.canariesIntact());
    }
}

TEST(TextRules, NamesAndValues) {
    EXPECT_TRUE(isDotEntry(L"."));
    EXPECT_TRUE(isDotEntry(L".."));
    for (const wchar_t* name : {L"...", L".a", L"", L"a", L"..a"})
        EXPECT_FALSE(isDotEntry(name)) << name;

    for (const wchar_t* name : {L"admin4.txt", L"ADMIN4.TXT", L"User1.Txt"})
        EXPECT_TRUE(isProtectedFileName(name)) << name;
    for (const wchar_t* name : {L"admin4.txt.bak", L"admin4", L"user2.txt"})
        EXPECT_FALSE(isProtectedFileName(name)) << name;

    for (const wchar_t* name : {L"Data", L"DATABASE", L"TempData", L"Log", L"ClassFix", L"vedizade", L"data"})
        EXPECT_TRUE(isKeptInstallFolder(name)) << name;
    for (const wchar_t* name : {L"bin", L"datas", L"logs", L"DATA~1", L""})
        EXPECT_FALSE(isKeptInstallFolder(name)) << name;
    for (const wchar_t* name : {L"bin", L"JRE", L"Classes", L"lib", L"jni", L"ProdData", L"plugins", L"data"})
        EXPECT_EQ(isProductFolder(name), name[0] != L'p' && name[0] != L'd') << name;

    struct DeleteCase {
        const wchar_t* value;
        bool deletes;
    } deleteCases[] = {{L"y", true}, {L"yes", true}, {L"Y", false},
                       {L"", false}, {L"n", false},  {L" y", false}};
    for (const DeleteCase& c : deleteCases)
        EXPECT_EQ(asksToDeleteData(c.value), c.deletes) << c.value;

    EXPECT_STREQ(versionWithoutHash(L"#5.10"), L"5.10");
    EXPECT_STREQ(versionWithoutHash(L"5.10"), L"5.10");
    EXPECT_STREQ(versionWithoutHash(L"##5"), L"#5");
    EXPECT_STREQ(versionWithoutHash(L""), L"");

    EXPECT_TRUE(isProductLoggingPolicy(L"AIAWEA"));
    EXPECT_TRUE(isProductLoggingPolicy(L"aiawea"));
    EXPECT_FALSE(isProductLoggingPolicy(L"voicewarmup"));
    EXPECT_FALSE(isProductLoggingPolicy(L"aiawea "));

    EXPECT_TRUE(isMissingSectionMarker(L"rspfile_bad"));
    EXPECT_FALSE(isMissingSectionMarker(L"RSPFILE_BAD2"));

    struct NumberCase {
        const wchar_t* text;
        int number;
    } numbers[] = {{L"25014", 25014}, {L"12abc", 12}, {L"abc", 0}, {L"", 0}, {L"99999999999999", 999999999}};
    for (const NumberCase& c : numbers)
        EXPECT_EQ(leadingMessageNumber(c.text), c.number) << c.text;
}

// Drive and share roots (DefaultDir target names, parent folders and cut reads are checked against
// models by bounded_text_fuzz).
TEST(TextRules, Roots) {
    for (const wchar_t* path :
         {L"C:\\", L"c:", L"T:/", L"\\\\?\\C:\\", L"\\\\.\\D:", L"\\\\?\\Volume{26a2}\\"})
        EXPECT_EQ(rootKind(path), RootKind::Drive) << path;
    for (const wchar_t* path : {L"\\\\server\\share\\", L"\\\\server", L"\\\\?\\UNC\\server\\share"})
        EXPECT_EQ(rootKind(path), RootKind::Share) << path;
    for (const wchar_t* path :
         {L"C:\\shared\\", L"\\\\server\\share\\dir", L"\\\\?\\C:\\x", L"CC:\\", L"\\\\", L""})
        EXPECT_EQ(rootKind(path), RootKind::None) << path;
}

TEST(TextRules, OptionLines) {
    struct Case {
        int installed;
        int requested;
        const wchar_t* line;
    } cases[] = {
        {kStateLocal, kStateAbsent, L"%s was selected to be removed."},
        {kStateLocal, kStateLocal, L"%s is already installed."},
        {kStateLocal, -1, L"%s is already installed."},
        {kStateAbsent, kStateLocal, L"%s was selected to be installed."},
        {-1, kStateLocal, L"%s was selected to be installed."},
        {kStateAbsent, kStateAbsent, nullptr},
        {-1, -1, nullptr},  // neither installed nor requested
        {kStateAbsent, -1, nullptr},
    };
    for (const Case& c : cases) {
        const wchar_t* line = optionLine(c.installed, c.requested);
        if (c.line == nullptr)
            EXPECT_EQ(line, nullptr) << c.installed << " " << c.requested;
        else
            EXPECT_STREQ(line, c.line) << c.installed << " " << c.requested;
    }
}

TEST(TextRules, Placeholders) {
    wchar_t name[] = L"P_tempf";
    EXPECT_TRUE(isPlaceholderName(name));
    cutAtPlaceholderSuffix(name);
    EXPECT_STREQ(name, L"P");
    wchar_t plain[] = L"Q_temp";
    EXPECT_FALSE(isPlaceholderName(plain));
    cutAtPlaceholderSuffix(plain);
    EXPECT_STREQ(plain, L"Q_temp");
    wchar_t twice[] = L"A_tempfB_tempf";
    cutAtPlaceholderSuffix(twice);
    EXPECT_STREQ(twice, L"A");
}

TEST(TextRules, ModuleSuffixAndBackslash) {
    TextBuffer<kKeyCapacity> component(kModuleComponentBase);
    appendModuleSuffixTo(component);
    EXPECT_STREQ(component.text(), L"KTA.bin.7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26");
    EXPECT_EQ(component.length(), 7 + kModuleSuffixLength);

    TextBuffer<6> path(L"C:\\P");
    EXPECT_TRUE(ensureTrailingBackslash(path));
    EXPECT_STREQ(path.text(), L"C:\\P\\");
    EXPECT_TRUE(ensureTrailingBackslash(path));  // already there
    TextBuffer<5> full(L"C:\\PQ");
    EXPECT_FALSE(ensureTrailingBackslash(full));
    EXPECT_STREQ(full.text(), L"C:\\P");  // cut on construction; no backslash added
}

TEST(RowKeys, FormatsAndCounting) {
    KeyCounter counter;
    RemovalKeys keys;
    treeRemovalKeys(L"KTA_KVO", counter.take(), keys);
    EXPECT_STREQ(keys.directory.text(), L"KTA_KVO0Folder");
    EXPECT_STREQ(keys.folderRow.text(), L"REMOVE_KTA_KVO0_DIRECTORY");
    EXPECT_STREQ(keys.filesRow.text(), L"REMOVE_KTA_KVO0_DIRECTORY_FILES");
    treeRemovalKeys(L"CF", counter.take(), keys);
    EXPECT_STREQ(keys.directory.text(), L"CF1Folder");
    EXPECT_EQ(counter.peek(), 2u);

    emptyRemovalKeys(4294967295u, keys);
    EXPECT_STREQ(keys.directory.text(), L"EMPTY4294967295Folder");
    EXPECT_STREQ(keys.folderRow.text(), L"EMPTY4294967295_DIRECTORY");
    EXPECT_STREQ(keys.filesRow.text(), L"");
    EXPECT_TRUE(keys.fit());

    treeRemovalKeys(std::wstring(70, L'P').c_str(), 1, keys);
    EXPECT_FALSE(keys.fit());
    EXPECT_EQ(keys.directory.length(), kKeyCapacity - 1);
}

// Every token a reader gives.
std::vector<std::wstring> tokensOf(TextTokens reader) {
    std::vector<std::wstring> tokens;
    const wchar_t* token;
    std::size_t length;
    while (reader.next(token, length))
        tokens.emplace_back(token, length);
    return tokens;
}

std::vector<std::wstring> tokensOf(const std::wstring& text) {
    return tokensOf(ParameterTokens(text.data(), text.size()));
}

TEST(FileDateParameters, Tokens) {
    struct Case {
        std::wstring text;
        std::vector<std::wstring> tokens;
    } cases[] = {
        {L"C:\\Product\\;C:\\Product\\data;C:\\Product\\jre\\",
         {L"C:\\Product\\", L"C:\\Product\\data", L"C:\\Product\\jre\\"}},
        {L";;\nC:\\P\n\n;C:\\Q;", {L"C:\\P", L"C:\\Q"}},
        {L"", {}},
        {L";\n;", {}},
        {L"a b\r", {L"a b\r"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokensOf(c.text), c.tokens) << c.text;
}

struct ParsedParameters {
    SearchDirectory status;
    std::wstring search;
    std::vector<std::wstring> excludes;
};

ParsedParameters parse(const std::wstring& text) {
    FileDateParameters parameters;
    EXPECT_TRUE(parameters.parse(text.data(), text.size()));
    ParsedParameters parsed{parameters.searchStatus(), parameters.searchDirectory(), {}};
    for (std::size_t i = 0; i < parameters.excludeCount(); ++i)
        parsed.excludes.emplace_back(parameters.exclude(i));
    return parsed;
}

TEST(FileDateParameters, SearchDirectoryAndExclusions) {
    auto p = parse(L"C:\\P");
    EXPECT_EQ(p.status, SearchDirectory::Found);
    EXPECT_EQ(p.search, L"C:\\P\\");
    EXPECT_EQ(parse(L"C:\\P\\").search, L"C:\\P\\");

    p = parse(L"C:\\P\\;;C:\\P\\Data");
    EXPECT_EQ(p.search, L"C:\\P\\");
    EXPECT_EQ(p.excludes, std::vector<std::wstring>{L"C:\\P\\Data\\"});

    p = parse(L"C:\\Product\\;C:\\Product\\data;C:\\Product\\jre\\\n");
    EXPECT_EQ(p.excludes, (std::vector<std::wstring>{L"C:\\Product\\data\\", L"C:\\Product\\jre\\"}));

    EXPECT_EQ(parse(L"").status, SearchDirectory::Missing);
    EXPECT_EQ(parse(L";\n;;").status, SearchDirectory::Missing);
}

TEST(FileDateParameters, ALongSearchDirectoryIsNeverCut) {
    const std::wstring fits258 = L"C:\\" + std::wstring(255, L'd');          // + backslash = 259
    const std::wstring fits259 = L"C:\\" + std::wstring(255, L'd') + L"\\";  // ends with one already
    const std::wstring tooLong = L"C:\\" + std::wstring(256, L'd');          // + backslash = 260
    EXPECT_EQ(parse(fits258).status, SearchDirectory::Found);
    EXPECT_EQ(parse(fits258).search, fits258 + L"\\");
    EXPECT_EQ(parse(fits259).search, fits259);
    const auto p = parse(tooLong + L";C:\\x");
    EXPECT_EQ(p.status, SearchDirectory::TooLong);
    EXPECT_EQ(p.search, L"");
    EXPECT_EQ(p.excludes, std::vector<std::wstring>{L"C:\\x\\"});
    const std::wstring path300(300, L'q');
    EXPECT_EQ(parse(path300).status, SearchDirectory::TooLong);

    FileDateParameters parameters;
    parameters.parse(tooLong.data(), tooLong.size());
    EXPECT_EQ(std::wstring(parameters.firstToken(), parameters.firstTokenLength()), tooLong);
}

TEST(FileDateParameters, UnterminatedTextIsReadOnlyToItsLength) {
    // The parser never looks past `length`: the unit after it would start another token.
    const wchar_t text[] = {L'C', L':', L'\\', L'a', L';', L'b', L'X'};
    FileDateParameters parameters;
    ASSERT_TRUE(parameters.parse(text, 6));
    ASSERT_EQ(parameters.excludeCount(), 1u);
    EXPECT_STREQ(parameters.exclude(0), L"b\\");
}

TEST(FileDateParameters, AllocationFailureIsReported) {
    const std::wstring text = L"C:\\P;C:\\P\\a;C:\\P\\b";
    for (int nth : {1, 2}) {  // the two arrays of the exclude list
        kvotest::FailAllocation failure(nth);
        FileDateParameters parameters;
        EXPECT_FALSE(parameters.parse(text.data(), text.size()));
        EXPECT_TRUE(failure.reached());
        EXPECT_EQ(parameters.excludeCount(), 0u);
        EXPECT_STREQ(parameters.searchDirectory(), L"C:\\P\\");  // still read
    }
}

std::vector<std::wstring> keyNames(const std::wstring& list, std::size_t count) {
    return tokensOf(ResponseKeyNames(list.data(), count));
}

TEST(ResponseKeyNames, JoinedAndSplitAtCommas) {
    using namespace std::string_literals;
    struct Case {
        std::wstring list;  // as the profile function fills the buffer
        std::size_t count;  // what it returns
        std::vector<std::wstring> names;
    } cases[] = {
        {L"INSTALLDIR\0DELETEDATA\0\0"s, 22, {L"INSTALLDIR", L"DELETEDATA"}},
        {L"A,B\0C\0\0"s, 6, {L"A", L"B", L"C"}},  // a name holding a comma is two names
        {L",\0,,\0\0"s, 5, {}},
        {L"\0\0"s, 0, {}},  // a section without keys
        {L"ONE\0\0"s, 4, {L"ONE"}},
        {L"ONE\0TWO\0\0"s, 4, {L"ONE"}},  // only the units counted are read
    };
    for (const Case& c : cases)
        EXPECT_EQ(keyNames(c.list, c.count), c.names) << c.count;
}

}  // namespace
}  // namespace kvo::installer
