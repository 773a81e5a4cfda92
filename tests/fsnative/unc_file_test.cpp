// UNCFile natives on real files and directories, each through a local path and through the UNC path
// of the share the test prefix sets up (\\kvoserver\share is C:\kvo-share).
#include <windows.h>

#include <algorithm>

#include "fsnative_test_support.h"
#include "os_calls.h"
#include "seam.h"

#define UNC(name) Java_com_orvane_kvo_libs_UNCFile_##name

namespace fstest {
namespace {

using Names = std::vector<std::wstring>;

Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

class UncFileTest : public FsNativeTest, public ::testing::WithParamInterface<bool> {
protected:
    // The directory on the share, named as the parameter says (true: the UNC path).
    std::wstring base() const {
        const std::wstring local = dir.path();
        if (!GetParam())
            return local;
        return kShareUnc + local.substr(wcslen(kShareLocal));
    }
    jobject at(const std::wstring& name) { return uncFile(base() + name); }
    std::optional<Names> list(const std::wstring& path) {
        return strings(UNC(list0_1unc)(env, uncFile(path)));
    }

    TestDir dir{kShareLocal};
};

TEST_P(UncFileTest, QueriesOnFilesAndDirectories) {
    dir.write(L"file.txt", "12345");
    const std::wstring readOnly = dir.write(L"readonly.txt", "ro");
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    dir.mkdir(L"folder");
    const struct {
        const wchar_t* name;
        bool exists, canWrite, isFile, isDirectory;
        jlong length;
    } cases[] = {
        {L"file.txt", true, true, true, false, 5},
        {L"readonly.txt", true, false, true, false, 2},
        {L"folder", true, true, false, true, 0},
        {L"missing.txt", false, false, false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toNarrow(base() + c.name));
        jobject file = at(c.name);
        EXPECT_EQ(UNC(exists0_1unc)(env, file), c.exists);
        EXPECT_EQ(UNC(canRead0_1unc)(env, file), c.exists);
        EXPECT_EQ(UNC(canWrite0_1unc)(env, file), c.canWrite);
        EXPECT_EQ(UNC(isFile0_1unc)(env, file), c.isFile);
        EXPECT_EQ(UNC(isDirectory0_1unc)(env, file), c.isDirectory);
        EXPECT_EQ(UNC(length0_1unc)(env, file), c.length);
        // The raw last-write time, as the directory entry has it.
        WIN32_FIND_DATAW entry;
        const HANDLE find = FindFirstFileW((dir.path() + c.name).c_str(), &entry);
        const jlong expected =
            find == INVALID_HANDLE_VALUE ? 0 : static_cast<jlong>(toValue(entry.ftLastWriteTime));
        if (find != INVALID_HANDLE_VALUE)
            FindClose(find);
        EXPECT_EQ(UNC(lastModified0_1unc)(env, file), expected);
    }
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_P(UncFileTest, CreatesRenamesAndDeletes) {
    EXPECT_TRUE(UNC(mkdir0_1unc)(env, at(L"made")));
    EXPECT_TRUE(exists(dir / L"made"));
    EXPECT_FALSE(UNC(mkdir0_1unc)(env, at(L"made")));

    dir.write(L"a.txt", "a");
    dir.write(L"b.txt", "b");
    EXPECT_FALSE(UNC(renameTo0_1unc)(env, at(L"a.txt"), at(L"b.txt"))) << "onto an existing file";
    EXPECT_EQ(readTextFile(dir / L"b.txt"), "b");
    EXPECT_TRUE(UNC(renameTo0_1unc)(env, at(L"a.txt"), at(L"made\\c.txt")));
    EXPECT_EQ(readTextFile(dir / L"made\\c.txt"), "a");
    EXPECT_FALSE(UNC(renameTo0_1unc)(env, at(L"b.txt"), nullptr));
    EXPECT_FALSE(UNC(renameTo0_1unc)(env, at(L"b.txt"), uncFileWithNullPath()));
    EXPECT_FALSE(UNC(renameTo0_1unc)(env, uncFileWithNullPath(), at(L"z.txt")));

    EXPECT_FALSE(UNC(rmdir0_1unc)(env, at(L"made"))) << "not empty";
    EXPECT_FALSE(UNC(delete0_1unc)(env, at(L"made"))) << "a directory";
    EXPECT_TRUE(UNC(delete0_1unc)(env, at(L"made\\c.txt")));
    EXPECT_TRUE(UNC(rmdir0_1unc)(env, at(L"made")));
    EXPECT_FALSE(exists(dir / L"made"));
    EXPECT_FALSE(UNC(delete0_1unc)(env, at(L"missing.txt")));
}

TEST_P(UncFileTest, Lists) {
    dir.write(L"one.txt", "1");
    dir.write(L"two.txt", "2");
    dir.mkdir(L"three");
    dir.mkdir(L"empty");
    const Names expected = {L"one.txt", L"three", L"two.txt"};
    const std::wstring folder = base().substr(0, base().size() - 1);  // without the trailing backslash
    for (const std::wstring& path : {folder, folder + L"\\"}) {
        SCOPED_TRACE(toNarrow(path));
        const std::optional<Names> names = list(path);
        ASSERT_TRUE(names.has_value());
        Names withoutEmpty;
        std::copy_if(names->begin(), names->end(), std::back_inserter(withoutEmpty),
                     [](const std::wstring& n) { return n != L"empty"; });
        EXPECT_EQ(sorted(withoutEmpty), expected);
        EXPECT_EQ(std::count(names->begin(), names->end(), L"."), 0);
        EXPECT_EQ(std::count(names->begin(), names->end(), L".."), 0);
    }
    EXPECT_EQ(list(base() + L"empty"), Names{});
    EXPECT_EQ(list(base() + L"one.txt"), std::nullopt) << "a file";
    EXPECT_EQ(list(base() + L"missing"), std::nullopt);
    EXPECT_EQ(list(L""), std::nullopt) << "an empty path";
    EXPECT_EQ(strings(UNC(list0_1unc)(env, uncFileWithNullPath())), std::nullopt);
}

TEST_P(UncFileTest, ListsMoreEntriesThanOneStepOfTheList) {
    Names expected;
    for (int i = 0; i < 70; ++i) {
        const std::wstring name = L"entry" + std::to_wstring(100 + i);
        dir.write(name, "");
        expected.push_back(name);
    }
    const std::optional<Names> names = list(base());
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(sorted(*names), expected);
}

// FindNextFileW through the seam: the second entry fails with the given error.
struct CutListing {
    static inline DWORD error = ERROR_NO_MORE_FILES;
    static inline int calls = 0;
    static BOOL WINAPI next(HANDLE find, LPWIN32_FIND_DATAW entry) {
        if (++calls == 2) {
            SetLastError(error);
            return FALSE;
        }
        return FindNextFileW(find, entry);
    }
};

TEST_P(UncFileTest, AListingCutShortByAnErrorIsNoListing) {
    for (int i = 0; i < 5; ++i)
        dir.write(L"f" + std::to_wstring(i), "");
    const auto restore = kvo::replace(kvo::fsnative::os.FindNextFileW, &CutListing::next);
    CutListing::calls = 0;
    CutListing::error = ERROR_ACCESS_DENIED;
    EXPECT_EQ(list(base()), std::nullopt);
    CutListing::calls = 0;
    CutListing::error = ERROR_NO_MORE_FILES;
    const std::optional<Names> names = list(base());
    ASSERT_TRUE(names.has_value());
    EXPECT_LE(names->size(), 2u) << "the entries before the end";
}

// OutputDebugStringA through the seam: the lines the natives trace.
struct TraceLines {
    static inline std::vector<std::string> lines;
    static void WINAPI write(LPCSTR line) { lines.emplace_back(line); }
};

// FindFirstFileW and FindNextFileW through the seam: entries without short names.
struct WithoutShortNames {
    static HANDLE WINAPI first(LPCWSTR pattern, LPWIN32_FIND_DATAW entry) {
        const HANDLE find = FindFirstFileW(pattern, entry);
        entry->cAlternateFileName[0] = 0;
        return find;
    }
    static BOOL WINAPI next(HANDLE find, LPWIN32_FIND_DATAW entry) {
        const BOOL found = FindNextFileW(find, entry);
        entry->cAlternateFileName[0] = 0;
        return found;
    }
};

// A listing holds only names that name their entries exactly: a long name without an exact local form
// (under 1252 the Greek, CJK and emoji names; under 932 the emoji name) is listed by the entry's short
// name where it has one, else left out and traced. Each listed name, passed back, acts on its own file.
TEST_P(UncFileTest, EveryListedNameActsOnItsOwnEntry) {
    const Names names = {L"\x03A9.txt", L"\x65E5\x672C\x8A9E.txt", L"\xD83D\xDE00.txt", L"plain.txt"};
    for (size_t i = 0; i < names.size(); ++i)
        dir.write(names[i], std::string(i + 1, 'x'));  // the sizes tell the files apart
    const auto restore = kvo::replace(kvo::fsnative::os.OutputDebugStringA, &TraceLines::write);
    {
        // Entries without short names (volumes where 8.3 names are off): only exact long names.
        const auto first = kvo::replace(kvo::fsnative::os.FindFirstFileW, &WithoutShortNames::first);
        const auto next = kvo::replace(kvo::fsnative::os.FindNextFileW, &WithoutShortNames::next);
        TraceLines::lines.clear();
        const std::optional<Names> exact = list(base());
        ASSERT_TRUE(exact.has_value());
        for (const std::wstring& name : *exact)
            EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << toNarrow(name);
        EXPECT_EQ(exact->size() + TraceLines::lines.size(), names.size());
        EXPECT_FALSE(TraceLines::lines.empty()) << "no local form of the emoji";
    }
    TraceLines::lines.clear();
    const std::optional<Names> listed = list(base());
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(listed->size() + TraceLines::lines.size(), names.size()) << "each entry listed or traced";
    for (const std::string& line : TraceLines::lines)
        EXPECT_EQ(line.rfind("list0_unc: entry \"", 0), 0u) << line;
    EXPECT_EQ(std::count(listed->begin(), listed->end(), L"plain.txt"), 1);
    for (const std::wstring& name : *listed) {
        SCOPED_TRACE(toNarrow(name));
        // The entry the listed name designates, as the system resolves it.
        wchar_t longPath[MAX_PATH];
        ASSERT_NE(GetLongPathNameW((dir.path() + name).c_str(), longPath, MAX_PATH), 0u);
        const auto entry = std::find(names.begin(), names.end(), std::wstring(longPath + dir.path().size()));
        ASSERT_NE(entry, names.end());
        EXPECT_EQ(UNC(length0_1unc)(env, at(name)), entry - names.begin() + 1);
        EXPECT_TRUE(UNC(delete0_1unc)(env, at(name)));
        EXPECT_FALSE(exists(dir / *entry));
    }
    size_t left = 0;
    for (const std::wstring& name : names)
        left += exists(dir / name) ? 1 : 0;
    EXPECT_EQ(left, TraceLines::lines.size()) << "only the listed entries were deleted";
}

// Names in the ANSI code page of the run arrive in Java intact, and the paths Java gives find them.
TEST_P(UncFileTest, NonAsciiNamesInTheLocalCodePage) {
    Names names;
    if (GetACP() == 1252)
        names = {
            L"Gr\x00FC\x00DF"
            L"e.txt",
            L"caf\x00E9", L"\x00C5ngstr\x00F6m \x20AC"};
    else if (GetACP() == 932)
        // U+8868 and U+30BD end in the byte 0x5C in code page 932.
        names = {L"\x65E5\x672C\x8A9E.txt", L"\x8868", L"\x30BD\x30D5\x30C8"};
    else
        GTEST_SKIP() << "code page " << GetACP();
    for (const std::wstring& name : names)
        dir.mkdir(name);
    dir.write(names[1] + L"\\inside.txt", "x");
    const std::optional<Names> listed = list(base());
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(sorted(*listed), sorted(names));
    for (const std::wstring& name : names) {
        EXPECT_TRUE(UNC(isDirectory0_1unc)(env, at(name))) << toNarrow(name);
        EXPECT_EQ(list(base() + name).has_value(), true) << toNarrow(name);
    }
    // A directory whose name ends in a double-byte character: the pattern gets its own backslash.
    EXPECT_EQ(list(base() + names[1]), Names{L"inside.txt"});
    EXPECT_EQ(list(base() + names[1] + L"\\"), Names{L"inside.txt"});
}

TEST_P(UncFileTest, AFullwidthReverseSolidusIsNoBackslash) {
    char bytes[8];
    BOOL used = FALSE;
    const wchar_t solidus = L'\xFF3C';
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &solidus, 1, bytes, sizeof(bytes), nullptr, &used);
    if (!used)
        GTEST_SKIP() << "code page " << GetACP() << " has an exact form of U+FF3C";
    dir.mkdir(L"sub");
    dir.write(L"sub\\file.txt", "keep");
    jobject lookAlike =
        at(L"sub\xFF3C"
           L"file.txt");
    EXPECT_FALSE(UNC(exists0_1unc)(env, lookAlike));
    EXPECT_EQ(UNC(length0_1unc)(env, lookAlike), 0);
    EXPECT_FALSE(UNC(delete0_1unc)(env, lookAlike));
    EXPECT_FALSE(UNC(renameTo0_1unc)(env, at(L"sub\\file.txt"), lookAlike));
    EXPECT_EQ(readTextFile(dir / L"sub\\file.txt"), "keep");
}

INSTANTIATE_TEST_SUITE_P(LocalAndUnc, UncFileTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Unc" : "Local";
                         });

class UncFilePathRules : public FsNativeTest {};

TEST_F(UncFilePathRules, IsUncAndIsAbsolute) {
    const struct {
        const wchar_t* path;
        bool unc, absolute;
    } cases[] = {
        {L"\\\\server\\share", true, true}, {L"\\\\server\\", true, true}, {L"\\\\server", false, false},
        {L"C:\\temp", false, true},         {L"C:\\", false, true},        {L"C:", false, false},
        {L"\\\\a\\b", true, true},          {L"temp\\file", false, false}, {L"", false, false},
        {L"\\\\\\", true, false},           {L"\\temp", false, false},     {L"\\\\\x8868\\x", true, true},
    };
    for (const auto& c : cases) {
        jobject file = uncFile(c.path);
        EXPECT_EQ(UNC(isUNC)(env, file), c.unc) << toNarrow(c.path);
        EXPECT_EQ(UNC(isAbsolute)(env, file), c.absolute) << toNarrow(c.path);
    }
    EXPECT_FALSE(UNC(isUNC)(env, uncFileWithNullPath()));
    EXPECT_FALSE(UNC(isAbsolute)(env, uncFileWithNullPath()));
}

TEST_F(UncFilePathRules, CanonPathReturnsTheSameObject) {
    jstring p = str("C:\\a\\..\\b");
    EXPECT_TRUE(vm.sameObject(UNC(canonPath_1unc)(env, uncFile(L"x"), p), p));
    EXPECT_EQ(UNC(canonPath_1unc)(env, uncFile(L"x"), nullptr), nullptr);
}

class UncFileWithoutPathField : public FsNativeTest {
protected:
    UncFileWithoutPathField() : FsNativeTest(ClassOptions{true, true, true, true, false}) {}
};

TEST_F(UncFileWithoutPathField, EveryNativeFailsWithTheJvmsErrorPending) {
    constexpr const char* kNoField = "java/lang/NoSuchFieldError: path";
    jobject file = vm.newInstance(kUncFile);
    EXPECT_FALSE(UNC(exists0_1unc)(env, file));
    EXPECT_EQ(takeException(), kNoField);
    EXPECT_EQ(UNC(length0_1unc)(env, file), 0);
    EXPECT_EQ(takeException(), kNoField);
    EXPECT_EQ(UNC(list0_1unc)(env, file), nullptr);
    EXPECT_EQ(takeException(), kNoField);
    EXPECT_FALSE(UNC(renameTo0_1unc)(env, file, vm.newInstance(kUncFile)));
    EXPECT_EQ(takeException(), kNoField);
    EXPECT_FALSE(UNC(isUNC)(env, file));
    EXPECT_EQ(takeException(), kNoField);
}

}  // namespace
}  // namespace fstest
