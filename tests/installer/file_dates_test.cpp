// FixFileDatesCA. Wine keeps a file's creation time equal to its last-write time and ignores a
// change of the creation time alone, so the walker's file-time calls are replaced: the directory
// search reports the creation times a test gives, and the calls that open files and set their times
// are recorded (and passed on to the system).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "installer_test_support.h"
#include "kta_ca.h"
#include "os_calls.h"
#include "seam.h"

namespace kvo::installer {
namespace {

FILETIME fileTime(WORD year, WORD month, WORD day) {
    SYSTEMTIME system = {};
    system.wYear = year;
    system.wMonth = month;
    system.wDay = day;
    FILETIME time;
    SystemTimeToFileTime(&system, &time);
    return time;
}

bool operator==(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// What the stand-ins see and do.
struct Recorder {
    std::map<std::wstring, FILETIME> reportedCreation;  // upper-cased path -> creation time to report
    std::set<std::wstring> fileLinks;                   // upper-cased paths reported as links
    std::map<HANDLE, std::wstring> searches;            // search -> directory
    std::map<HANDLE, std::wstring> files;               // open file -> path
    std::vector<std::wstring> opened;
    struct TimeSet {
        std::wstring path;
        FILETIME creation;
        bool onlyCreation;
    };
    std::vector<TimeSet> timesSet;
    DWORD failSetFileTime = 0;  // an error to fail SetFileTime with
    std::wstring failNextIn;    // a directory whose listing breaks off
};
Recorder* recorder = nullptr;

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towupper(c));
    return text;
}

void report(HANDLE search, WIN32_FIND_DATAW* entry) {
    const std::wstring path = upper(recorder->searches[search] + entry->cFileName);
    const auto found = recorder->reportedCreation.find(path);
    if (found != recorder->reportedCreation.end())
        entry->ftCreationTime = found->second;
    if (recorder->fileLinks.count(path) != 0)
        entry->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
}

HANDLE WINAPI findFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW entry) {
    const HANDLE search = FindFirstFileW(pattern, entry);
    if (search != INVALID_HANDLE_VALUE) {
        std::wstring directory = pattern;
        recorder->searches[search] = directory.substr(0, directory.size() - 1);  // without the "*"
        report(search, entry);
    }
    return search;
}

BOOL WINAPI findNext(HANDLE search, LPWIN32_FIND_DATAW entry) {
    const BOOL found = FindNextFileW(search, entry);
    if (found) {
        report(search, entry);
    } else if (!recorder->failNextIn.empty() &&
               upper(recorder->searches[search]) == upper(recorder->failNextIn)) {
        SetLastError(ERROR_NETNAME_DELETED);  // the listing breaks off instead of ending
    }
    return found;
}

HANDLE WINAPI createFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE templateFile) {
    recorder->opened.push_back(path);
    if (std::wstring(path).find(L"locked") != std::wstring::npos) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE file = CreateFileW(path, access, share, security, disposition, flags, templateFile);
    if (file != INVALID_HANDLE_VALUE)
        recorder->files[file] = path;
    return file;
}

BOOL WINAPI setFileTime(HANDLE file, const FILETIME* creation, const FILETIME* access,
                        const FILETIME* write) {
    recorder->timesSet.push_back({recorder->files[file], *creation, access == nullptr && write == nullptr});
    if (recorder->failSetFileTime != 0) {
        SetLastError(recorder->failSetFileTime);
        return FALSE;
    }
    return SetFileTime(file, creation, access, write);
}

class FixFileDates : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = kvotest::makeScratchDirectory(L"file-dates");
        recorder = &recorder_;
        package_ = std::make_unique<kvotest::TestPackage>(kvotest::currentDirectory() + L"file-dates.msi");
        package_->error(25014, L"Not every file date could be repaired.");
        capture_ = std::make_unique<kvotest::MessageCapture>();
    }
    void TearDown() override {
        capture_.reset();
        recorder = nullptr;
        kvotest::removeTree(root_);
    }

    // A file last written on 2004-07-02 that the search reports as created on `created`.
    void file(const std::wstring& relative, FILETIME created = fileTime(2004, 7, 1)) {
        const std::wstring path = root_ + relative;
        kvotest::makeDirectory(path.substr(0, path.rfind(L'\\')));
        kvotest::writeTextFile(path, "content");
        const HANDLE handle =
            CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const FILETIME written = fileTime(2004, 7, 2);
        SetFileTime(handle, nullptr, nullptr, &written);
        CloseHandle(handle);
        recorder_.reportedCreation[upper(path)] = created;
    }

    UINT run(const std::wstring& parameters) {
        const auto session = package_->session();
        session.setProperty(L"KTA_FixFileDatesCA.7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26", parameters);
        const auto first = kvo::replace(os.FindFirstFileW, findFirst);
        const auto next = kvo::replace(os.FindNextFileW, findNext);
        const auto open = kvo::replace(os.CreateFileW, createFile);
        const auto set = kvo::replace(os.SetFileTime, setFileTime);
        return FixFileDatesCA(session.get());
    }

    std::vector<std::wstring> changed() const {
        std::vector<std::wstring> paths;
        for (const auto& set : recorder_.timesSet) {
            EXPECT_TRUE(set.creation == fileTime(2004, 7, 2)) << kvotest::toNarrow(set.path);
            EXPECT_TRUE(set.onlyCreation);
            paths.push_back(set.path);
        }
        return paths;
    }
    int incompleteMessages() const {
        int count = 0;
        for (const auto& line : capture_->errorLines())
            count += line == L"Not every file date could be repaired." ? 1 : 0;
        return count;
    }

    std::wstring root_;
    Recorder recorder_;
    std::unique_ptr<kvotest::TestPackage> package_;
    std::unique_ptr<kvotest::MessageCapture> capture_;
};

TEST_F(FixFileDates, RaisesCreationTimesToLastWriteTimes) {
    file(L"early.txt");
    file(L"sub\\deeper\\early.txt");
    file(L"same.txt", fileTime(2004, 7, 2));
    file(L"later.txt", fileTime(2004, 7, 3));
    file(L"sub\\ADMIN4.TXT");
    file(L"User1.txt");

    EXPECT_EQ(run(root_), 0u);

    EXPECT_EQ(changed(),
              (std::vector<std::wstring>{root_ + L"early.txt", root_ + L"sub\\deeper\\early.txt"}));
    EXPECT_EQ(recorder_.opened, changed());  // equal and later times are not even opened
    const std::vector<std::wstring> expected = {
        L"**** ZAL_INFO -- Entering KTA_Core/FixFileDatesCA",
        L"**** ZAL_INFO -- CustomAction data passed in is " + root_,
        L"**** ZAL_INFO -- Search Directory = \"" + root_ + L"\"",
        L"**** ZAL_INFO -- Number of exclude directories: 0.",
        L"**** ZAL_INFO -- CreateTime < LastWriteTime for file \"" + root_ + L"early.txt\"",
        L"**** ZAL_INFO -- CreateTime < LastWriteTime for file \"" + root_ + L"sub\\ADMIN4.TXT\"",
        L"**** ZAL_INFO -- Excluding file " + root_ + L"sub\\ADMIN4.TXT",
        L"**** ZAL_INFO -- CreateTime < LastWriteTime for file \"" + root_ + L"sub\\deeper\\early.txt\"",
        L"**** ZAL_INFO -- CreateTime < LastWriteTime for file \"" + root_ + L"User1.txt\"",
        L"**** ZAL_INFO -- Excluding file " + root_ + L"User1.txt",
        L"**** ZAL_INFO -- Exiting KTA_Core/FixFileDatesCA",
    };
    EXPECT_EQ(capture_->lines(), expected);
}

// A link is neither entered nor changed, nor anything through it: a link to a folder outside (a
// symbolic link of the host, which Wine shows as a directory with FILE_ATTRIBUTE_REPARSE_POINT) and a
// file link (which Wine shows as a plain file: the seam reports it as Windows does).
TEST_F(FixFileDates, LinksAreLeftAlone) {
    file(L"early.txt");
    file(L"file-link.txt");
    recorder_.fileLinks.insert(upper(root_ + L"file-link.txt"));
    const std::wstring outside = kvotest::makeScratchDirectory(L"file-dates-outside");
    kvotest::writeTextFile(outside + L"early.txt", "not the product's");
    ASSERT_TRUE(kvotest::makeDirectoryLink(root_ + L"linked", outside));
    recorder_.reportedCreation[upper(root_ + L"linked\\early.txt")] = fileTime(2004, 7, 1);

    EXPECT_EQ(run(root_), 0u);
    EXPECT_EQ(changed(), std::vector<std::wstring>{root_ + L"early.txt"});
    EXPECT_EQ(recorder_.opened, changed());
    for (const wchar_t* name : {L"file-link.txt", L"linked\\"})
        EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- link \"" + root_ + name + L"\" is left alone"));
}

TEST_F(FixFileDates, ExclusionsInAnyCaseAndTheSearchDirectoryItself) {
    file(L"early.txt");
    file(L"DATA\\early.txt");
    file(L"DATA\\below\\early.txt");
    const std::wstring search = root_.substr(0, root_.size() - 1);  // without its backslash
    EXPECT_EQ(run(search + L";;" + search + L"\\Data"), 0u);
    EXPECT_EQ(changed(), std::vector<std::wstring>{root_ + L"early.txt"});
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- Number of exclude directories: 1."));
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- ExcludeDirectory[ 0 ] = \"" + root_ + L"Data\\\""));
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- exclude directory \"" + root_ + L"DATA\\\""));

    recorder_.timesSet.clear();
    capture_->clear();
    std::wstring otherCase = root_;
    for (wchar_t& c : otherCase)
        c = static_cast<wchar_t>(towlower(c));
    EXPECT_EQ(run(root_ + L"\n" + otherCase), 0u);
    EXPECT_TRUE(changed().empty());
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- exclude directory \"" + root_ + L"\""));
    EXPECT_EQ(incompleteMessages(), 0);
}

TEST_F(FixFileDates, AReadOnlyFileIsChangedLikeAnyOther) {
    file(L"readonly.txt");
    SetFileAttributesW((root_ + L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(run(root_), 0u);
    EXPECT_EQ(changed(), std::vector<std::wstring>{root_ + L"readonly.txt"});
    EXPECT_TRUE(capture_->errorLines().empty());
}

TEST_F(FixFileDates, AMissingSearchDirectoryIsOneFailure) {
    EXPECT_EQ(run(root_ + L"missing"), 0u);
    EXPECT_EQ(capture_->errorLines(),
              (std::vector<std::wstring>{
                  L"**** ZAL_ERROR -- no files found for file name \"" + root_ + L"missing\\*\", rc = 3",
                  L"Not every file date could be repaired."}));
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- Exiting KTA_Core/FixFileDatesCA"));
}

TEST_F(FixFileDates, NoSearchDirectoryFails) {
    for (const wchar_t* parameters : {L"", L";;\n;"}) {
        capture_->clear();
        EXPECT_EQ(run(parameters), 1603u);
        EXPECT_EQ(capture_->errorLines(),
                  (std::vector<std::wstring>{
                      L"**** ZAL_ERROR -- Could not retrieve search directory",
                      L"Not every file date could be repaired.",
                      L"**** ZAL_ERROR -- Exiting KTA_Core/FixFileDatesCA, return code=-2"}));
    }
}

TEST_F(FixFileDates, FailuresAreCountedAndTheWalkGoesOn) {
    file(L"a-locked.txt");
    file(L"b-fine.txt");
    file(L"c-dir\\early.txt");
    recorder_.failNextIn = root_ + L"c-dir\\";  // and a-locked.txt is held by another program
    EXPECT_EQ(run(root_), 0u);
    EXPECT_EQ(changed(), (std::vector<std::wstring>{root_ + L"b-fine.txt", root_ + L"c-dir\\early.txt"}));
    EXPECT_EQ(capture_->errorLines(),
              (std::vector<std::wstring>{
                  L"**** ZAL_ERROR -- unable to open file \"" + root_ + L"a-locked.txt\"; rc = 32",
                  L"**** ZAL_ERROR -- unable to get next file; rc = 64",
                  L"Not every file date could be repaired."}));

    recorder_.timesSet.clear();
    recorder_.failNextIn.clear();
    recorder_.failSetFileTime = ERROR_ACCESS_DENIED;
    capture_->clear();
    EXPECT_EQ(run(root_ + L"c-dir"), 0u);
    EXPECT_EQ(capture_->errorLines(),
              (std::vector<std::wstring>{L"**** ZAL_ERROR -- unable to set file time for file \"" + root_ +
                                             L"c-dir\\early.txt\"; rc = 5",
                                         L"Not every file date could be repaired."}));
}

TEST_F(FixFileDates, APathThatDoesNotFitIsLeftAloneNotCut) {
    // root + long directory + long file name needs more than 259 characters: the file is not
    // touched under a cut name, and the walk counts one failure.
    const std::wstring directory(150, L'd');
    const std::wstring name(259 - root_.size() - directory.size(), L'f');  // one character too many
    kvotest::makeDirectory(root_ + directory);
    file(directory + L"\\short.txt");
    const std::wstring longPath = root_ + directory + L"\\" + name;
    kvotest::writeTextFile(L"\\\\?\\" + longPath, "long");
    recorder_.reportedCreation[upper(longPath)] = fileTime(2004, 7, 1);

    EXPECT_EQ(run(root_), 0u);
    EXPECT_EQ(changed(), std::vector<std::wstring>{root_ + directory + L"\\short.txt"});
    EXPECT_EQ(recorder_.opened, changed());
    const auto errors = capture_->errorLines();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].substr(0, 20), L"**** ZAL_ERROR -- \"f");
    EXPECT_NE(errors[0].find(L"is left alone: its path is longer than 259 characters"), std::wstring::npos);
    EXPECT_EQ(errors[1], L"Not every file date could be repaired.");
}

TEST_F(FixFileDates, ASearchDirectoryThatDoesNotFitIsNotSearched) {
    const std::wstring tooLong = root_ + std::wstring(300 - root_.size(), L'x');  // 300 characters
    EXPECT_EQ(run(tooLong), 0u);
    EXPECT_TRUE(recorder_.searches.empty());
    EXPECT_EQ(capture_->errorLines(),
              (std::vector<std::wstring>{L"**** ZAL_ERROR -- Search Directory \"" + tooLong +
                                             L"\" does not fit in 259 characters; it is not searched",
                                         L"Not every file date could be repaired."}));
}

TEST_F(FixFileDates, ALongParameterTextIsCutInItsLogLine) {
    const std::wstring parameters = root_ + L";" + std::wstring(600, L'e');
    EXPECT_EQ(run(parameters), 0u);
    const std::wstring line = L"**** ZAL_INFO -- CustomAction data passed in is " + parameters;
    EXPECT_TRUE(capture_->hasLine(line.substr(0, 511)));
}

}  // namespace
}  // namespace kvo::installer
