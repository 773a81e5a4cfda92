// The frame of the custom actions (Helpers), linked into the test so that its seams can be replaced:
// log lines as the installer's external user interface gets them, Error-table texts, properties,
// temporary rows, the handle owner, the machine registry. Fixed buffers are shown never to be
// written past: caller buffers and heap texts end at a guard page, and the library's own stack
// buffers are compiled with canaries (a write past one ends the program).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "data_directories.h"
#include "guard_page.h"
#include "heap_failure.h"
#include "helpers.h"
#include "installer_test_support.h"
#include "kta_ca.h"
#include "os_calls.h"
#include "owners.h"
#include "seam.h"
#include "shared_folders.h"

namespace kvo::installer {
namespace {

using kvotest::Row;

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        package_ = std::make_unique<kvotest::TestPackage>(kvotest::currentDirectory() + L"frame.msi");
        package_->property(L"ProductName", L"Demo Product");
        package_->error(25004, L"[ProductName] Setup");
        capture_ = std::make_unique<kvotest::MessageCapture>();
    }
    kvotest::Session session() { return package_->session(); }

    std::unique_ptr<kvotest::TestPackage> package_;
    std::unique_ptr<kvotest::MessageCapture> capture_;
};

TEST_F(Frame, LogLinesAsTheInstallerGetsThem) {
    const auto s = session();
    EXPECT_EQ(LogMessage(s.get(), INSTALLMESSAGE_INFO, L"Entering KTA_Core/SeedDataCA"), 0);
    EXPECT_EQ(LogMessage(s.get(), INSTALLMESSAGE_ERROR, L"something failed"), 0);
    LogEntryExit(s.get(), 1, L"KTA_Core/DeleteDataCA");
    LogEntryExit(s.get(), 0, L"KTA_Core/DeleteDataCA");
    LogExitCode(s.get(), L"KTA_Core/DeleteDataCA", -1);
    // Brackets and braces are the installer's formatting syntax; the line still arrives as written.
    LogMessage(s.get(), INSTALLMESSAGE_INFO, L"ExcludeDirectory[ 0 ] = \"C:\\[ProductName]\\{x}\"");
    const std::vector<kvotest::MessageCapture::Message> expected = {
        {INSTALLMESSAGE_INFO, L"**** ZAL_INFO -- Entering KTA_Core/SeedDataCA"},
        {INSTALLMESSAGE_ERROR, L"**** ZAL_ERROR -- something failed"},
        {INSTALLMESSAGE_INFO, L"**** ZAL_INFO -- Entering KTA_Core/DeleteDataCA"},
        {INSTALLMESSAGE_INFO, L"**** ZAL_INFO -- Exiting KTA_Core/DeleteDataCA"},
        {INSTALLMESSAGE_ERROR, L"**** ZAL_ERROR -- Exiting KTA_Core/DeleteDataCA, return code=-1"},
        {INSTALLMESSAGE_INFO, L"**** ZAL_INFO -- ExcludeDirectory[ 0 ] = \"C:\\[ProductName]\\{x}\""},
    };
    const auto messages = capture_->messages();
    ASSERT_EQ(messages.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(messages[i].type, expected[i].type) << i;
        EXPECT_EQ(messages[i].text, expected[i].text) << i;
    }
}

TEST_F(Frame, ALongTextIsCutAtTheLineBuffer) {
    const auto s = session();
    const std::wstring text(600, L'p');
    LogMessage(s.get(), INSTALLMESSAGE_INFO, text.c_str());
    logInfo(s.get(), L"CustomAction data passed in is %s", {text.c_str()});
    const auto lines = capture_->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"**** ZAL_INFO -- " + text.substr(0, 511 - 17));
    EXPECT_EQ(lines[1],
              L"**** ZAL_INFO -- " + (L"CustomAction data passed in is " + text).substr(0, 511 - 17));
}

INSTALLMESSAGE lastType;
MSIHANDLE WINAPI noRecord(UINT) {
    return 0;
}
int WINAPI countMessage(MSIHANDLE, INSTALLMESSAGE type, MSIHANDLE) {
    lastType = type;
    return 0;
}

TEST_F(Frame, ALineWithoutARecordIsLost) {
    const auto s = session();
    {
        const auto restore = kvo::replace(os.MsiCreateRecord, noRecord);
        EXPECT_EQ(LogMessage(s.get(), INSTALLMESSAGE_INFO, L"lost"), -1);
    }
    EXPECT_TRUE(capture_->lines().empty());
    // Any other message type sends an empty line.
    const auto restore = kvo::replace(os.MsiProcessMessage, countMessage);
    EXPECT_EQ(LogMessage(s.get(), INSTALLMESSAGE_WARNING, L"text"), 0);
    EXPECT_EQ(lastType, INSTALLMESSAGE_WARNING);
}

TEST_F(Frame, ErrorTextsAndTheirStandIn) {
    const auto s = session();
    HeapArray<wchar_t> text;
    DWORD length = 0;
    EXPECT_EQ(GetErrorText(s.get(), text, length, 25004), 0u);
    EXPECT_STREQ(text.get(), L"[ProductName] Setup");
    EXPECT_EQ(length, 20u);

    EXPECT_EQ(GetErrorText(s.get(), text, length, 25006), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    EXPECT_STREQ(text.get(), L"Message 25006 could not be loaded.");
    EXPECT_EQ(length, 35u);
}

TEST_F(Frame, TheStandInTextNeverRunsPastItsBuffer) {
    // Every heap block ends at a guard page: a write past the 35 characters faults.
    const auto s = session();
    kvotest::GuardedHeap guarded;
    HeapArray<wchar_t> text;
    DWORD length = 0;
    GetErrorText(s.get(), text, length, -2147483647 - 1);
    EXPECT_EQ(length, 35u);
    EXPECT_STREQ(text.get(), L"Message -2147483648 could not be l");
    GetErrorText(s.get(), text, length, 25004);
    EXPECT_STREQ(text.get(), L"[ProductName] Setup");
}

TEST_F(Frame, CustomActionData) {
    const auto s = session();
    s.setProperty(L"CustomActionData", L"C:\\Product\\");
    HeapArray<wchar_t> data;
    DWORD length = 0;
    {
        kvotest::GuardedHeap guarded;
        EXPECT_EQ(GetCustomActionData(s.get(), data, length), 0u);
        EXPECT_STREQ(data.get(), L"C:\\Product\\");
        EXPECT_EQ(length, 12u);
        data.reset();
    }
    kvotest::FailAllocation failure(1);
    EXPECT_EQ(GetCustomActionData(s.get(), data, length), 1603u);
    EXPECT_TRUE(failure.reached());
    EXPECT_EQ(data.get(), nullptr);
}

TEST_F(Frame, FixedReadsStopAtTheBufferAndACutValueIsNeverUsed) {
    const auto s = session();
    const std::wstring path = L"C:\\" + std::wstring(297, L'd');  // 300 characters
    s.setProperty(L"LONG_PATH", path);
    s.setProperty(L"SHORT_PATH", L"C:\\Short\\");
    kvotest::GuardPage guard;
    ASSERT_TRUE(guard.ok());
    BoundedText buffer(guard.wideEnd(kPathCapacity), kPathCapacity);
    EXPECT_EQ(readPropertyInto(s.get(), L"LONG_PATH", buffer), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_STREQ(buffer.text(), L"");
    EXPECT_EQ(readPropertyInto(s.get(), L"SHORT_PATH", buffer), 0u);
    EXPECT_STREQ(buffer.text(), L"C:\\Short\\");
    const std::wstring exact(259, L'e');
    s.setProperty(L"EXACT", exact);
    EXPECT_EQ(readPropertyInto(s.get(), L"EXACT", buffer), 0u);
    EXPECT_EQ(std::wstring(buffer.text()), exact);
}

TEST_F(Frame, ModuleSuffixFillsItsRoomAndNoMore) {
    kvotest::GuardPage guard;
    ASSERT_TRUE(guard.ok());
    for (std::size_t capacity : {45u, 40u, 1u}) {  // "KTA.bin" + 37 + terminator = 45
        BoundedText name(guard.wideEnd(capacity), capacity);
        name.append(L"KTA.bin");
        AppendModuleSuffix(name);
        EXPECT_EQ(std::wstring(name.text()),
                  std::wstring(L"KTA.bin.7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26").substr(0, capacity - 1));
    }
}

TEST_F(Frame, TemporaryRowsLiveOnlyInTheSession) {
    {
        const auto s = session();
        EXPECT_EQ(AddTempRemoveFileRow(L"EMPTY_INSTALLDIR", L"KTA.bin.x", L"", L"INSTALLDIR", 2, s.get()),
                  0u);
        EXPECT_EQ(AddTempDirectoryRow(L"D1", L"INSTALLDIR", L"sub", s.get()), 0u);
        EXPECT_EQ(AddTempRegistryRow(L"R1", 2, L"Software\\kvo", L"Name", L"Value", L"KTA.bin.x", s.get()),
                  0u);
        EXPECT_EQ(s.rows(L"SELECT * FROM `RemoveFile`"),
                  (std::vector<Row>{{L"EMPTY_INSTALLDIR", L"KTA.bin.x", L"", L"INSTALLDIR", L"2"}}));
        EXPECT_EQ(s.rows(L"SELECT * FROM `Directory`"), (std::vector<Row>{{L"D1", L"INSTALLDIR", L"sub"}}));
        EXPECT_EQ(s.rows(L"SELECT * FROM `Registry`"),
                  (std::vector<Row>{{L"R1", L"2", L"Software\\kvo", L"Name", L"Value", L"KTA.bin.x"}}));
        // A second row under the same key is refused, and the refusal is logged with its code.
        EXPECT_EQ(AddTempDirectoryRow(L"D1", L"INSTALLDIR", L"other", s.get()), 1627u);
        EXPECT_EQ(
            capture_->errorLines(),
            std::vector<std::wstring>{
                L"**** ZAL_ERROR -- AddTempDirectoryRow: unable to add the row D1 to the Directory table; "
                L"rc = X'65B'"});
    }
    // The package on disk never got them.
    MSIHANDLE database = 0;
    ASSERT_EQ(MsiOpenDatabaseW(package_->path().c_str(), MSIDBOPEN_READONLY, &database), 0u);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(database, L"SELECT * FROM `RemoveFile`", &view), 0u);
    MsiViewExecute(view, 0);
    MSIHANDLE record = 0;
    EXPECT_EQ(MsiViewFetch(view, &record), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    MsiCloseHandle(view);
    MsiCloseHandle(database);
}

UINT WINAPI refuseQuery(MSIHANDLE, LPCWSTR, MSIHANDLE*) {
    return ERROR_BAD_QUERY_SYNTAX;
}

TEST_F(Frame, ARowThatCannotBeAddedReportsTheInstallersResult) {
    const auto s = session();
    const auto restore = kvo::replace(os.MsiDatabaseOpenViewW, refuseQuery);
    EXPECT_EQ(AddTempRegistryRow(L"R1", 2, L"k", L"n", L"v", L"c", s.get()),
              static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
    EXPECT_TRUE(capture_->hasLine(
        L"**** ZAL_ERROR -- AddTempRegistryRow: unable to query the Registry table; rc = X'64F'"));
}

int closes;
UINT WINAPI countClose(MSIHANDLE handle) {
    ++closes;
    return MsiCloseHandle(handle);
}

TEST_F(Frame, TheHandleOwnerClosesBeforeItIsRefilled) {
    const auto s = session();
    for (int i = 0; i < 3; ++i)
        AddTempDirectoryRow((L"D" + std::to_wstring(i)).c_str(), L"INSTALLDIR", L"d", s.get());
    closes = 0;
    const auto restore = kvo::replace(os.MsiCloseHandle, countClose);
    {
        UniqueMsiHandle database(MsiGetActiveDatabase(s.get()));
        UniqueMsiHandle view;
        ASSERT_EQ(MsiDatabaseOpenViewW(database.get(), L"SELECT * FROM `Directory`", view.receive()), 0u);
        MsiViewExecute(view.get(), 0);
        UniqueMsiHandle record;
        int fetched = 0;
        while (MsiViewFetch(view.get(), record.receive()) == ERROR_SUCCESS)
            ++fetched;
        EXPECT_EQ(fetched, 3);
        EXPECT_EQ(closes, 3);  // each record closed before the next fetch
        EXPECT_FALSE(record);
    }
    EXPECT_EQ(closes, 5);  // the last record, the view and the database
}

TEST_F(Frame, ActionsLeaveNoHandleOpen) {
    // Only the session stays open: closing it leaves nothing for MsiCloseAllHandles to close.
    const std::wstring root = kvotest::makeScratchDirectory(L"handles");
    kvotest::makeDirectory(root + L"classfix\\a\\b");
    kvotest::writeTextFile(root + L"classfix\\a\\f.txt", "f");
    {
        auto s = session();
        s.setProperty(L"PREVIOUS_ROOT_DIRECTORY", root);
        s.setProperty(L"KTA_FixFileDatesCA.7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26", root);
        s.setProperty(L"CustomActionData", root);
        EXPECT_EQ(DeleteClassfixCA(s.get()), 0u);
        EXPECT_EQ(FixFileDatesCA(s.get()), 0u);
        EXPECT_EQ(SeedDataCA(s.get()), 0u);
        HeapArray<wchar_t> text;
        DWORD length;
        GetErrorText(s.get(), text, length, 25004);
        GetErrorText(s.get(), text, length, 1);
    }
    EXPECT_EQ(MsiCloseAllHandles(), 0u);
    kvotest::removeTree(root);
}

const std::wstring kLongLocation = L"C:\\" + std::wstring(300, L'x') + L"\\";
UINT WINAPI longLocation(LPCWSTR, LPCWSTR, LPWSTR value, LPDWORD size) {
    const DWORD length = static_cast<DWORD>(kLongLocation.size());
    const bool fits = *size > length;
    if (fits)
        wcscpy(value, kLongLocation.c_str());
    *size = length;
    return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

// A path or version longer than its fixed buffer is logged as far as the buffer holds it with "..."
// after it, and never used: no row names it, INSTALLDIR is set as for none read.
TEST_F(Frame, ACutReadIsLoggedMarkedAndNeverUsed) {
    const auto s = session();
    s.setProperty(L"INSTALLDIR", kLongLocation);
    const auto restore = kvo::replace(os.MsiGetProductInfoW, longLocation);
    const std::wstring shown = kLongLocation.substr(0, 259) + L"...";
    struct Case {
        UINT(__stdcall* action)(MSIHANDLE);
        UINT result;
        std::wstring line;
    } cases[] = {
        {DeleteDataCA, 1603,  // CleanUpTheEmptiesCA reads the location the same way
         L"**** ZAL_ERROR -- Could not determine Install Directory, RC=234, Install Directory=" + shown},
        {LogOptionsSelectedCA, 0, L"**** ZAL_INFO -- \t" + shown},
        {SetInstalledINSTALLDIRCA, 0,
         L"**** ZAL_ERROR -- The installed location " + shown + L" is longer than 259 characters"},
    };
    for (const Case& c : cases) {
        capture_->clear();
        EXPECT_EQ(c.action(s.get()), c.result);
        EXPECT_TRUE(capture_->hasLine(c.line)) << kvotest::toNarrow(c.line);
    }
    EXPECT_TRUE(s.rows(L"SELECT * FROM `RemoveFile`").empty());
    EXPECT_EQ(s.property(L"INSTALLDIR"), L"");
}

HRESULT WINAPI knownFolder(REFKNOWNFOLDERID id, DWORD, HANDLE, PWSTR* path) {
    const wchar_t* folder = IsEqualGUID(id, FOLDERID_UserProfiles) ? L"C:\\Users"
                            : IsEqualGUID(id, FOLDERID_Profile)    ? L"D:\\Profiles\\me"
                                                                   : nullptr;
    *path = nullptr;
    if (folder == nullptr)
        return E_FAIL;
    *path = static_cast<PWSTR>(CoTaskMemAlloc((wcslen(folder) + 1) * sizeof(wchar_t)));
    wcscpy(*path, folder);
    return S_OK;
}

// The shared folders are those the installer resolved for the session (its folder properties) and
// the system's folder of the user profiles and the user's profile (named here through the seam).
TEST_F(Frame, TheEmptyFolderCleanUpNeverWalksARootOrASharedFolder) {
    const auto s = session();
    s.setProperty(L"CommonAppDataFolder", L"C:\\Shared Data\\");
    const auto restore = kvo::replace(os.SHGetKnownFolderPath, knownFolder);
    // Drive roots: DriveRoot.CleanUpTheEmptiesNeverWalksARoot.
    struct Case {
        const wchar_t* location;
        const wchar_t* reason;  // null: walked
    } cases[] = {{L"\\\\kvoserver\\share\\", L"it is the root of a network share"},
                 {L"C:\\Shared Data", L"it is the shared folder CommonAppDataFolder of the system"},
                 {L"C:\\windows\\system32\\..\\", L"it is the shared folder WindowsFolder of the system"},
                 {L"C:\\USERS\\", L"it is the folder of the user profiles"},
                 {L"C:\\Users\\Public\\", L"it is a user profile"},
                 {L"D:\\Profiles\\me\\", L"it is a user profile"},
                 {L"C:\\Users\\bob\\tools\\", nullptr}};
    for (const Case& c : cases) {
        capture_->clear();
        EXPECT_EQ(mayWalkBelow(s.get(), c.location, L"empty folders"), c.reason == nullptr)
            << kvotest::toNarrow(c.location);
        EXPECT_EQ(capture_->lines(),
                  c.reason == nullptr
                      ? std::vector<std::wstring>{}
                      : std::vector<std::wstring>{L"**** ZAL_INFO -- Not removing empty folders below " +
                                                  std::wstring(c.location) + L": " + c.reason});
    }
}

TEST(MachineRegistry, WriteAndReadBack) {
    const wchar_t subkey[] = L"SOFTWARE\\kvo-tests\\installer-frame";
    EXPECT_EQ(CreateMachineKey(subkey, nullptr), ERROR_SUCCESS);
    const wchar_t value[] = L"C:\\Saved\\";
    EXPECT_TRUE(SetMachineValue(subkey, L"Root", REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value));
    DWORD type = 0;
    wchar_t read[32] = {0};
    DWORD size = sizeof read;
    EXPECT_TRUE(QueryMachineValue(subkey, L"Root", type, reinterpret_cast<BYTE*>(read), size));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(read, value);
    EXPECT_EQ(size, sizeof value);
    EXPECT_FALSE(QueryMachineValue(subkey, L"Missing", type, reinterpret_cast<BYTE*>(read), size));
    EXPECT_FALSE(SetMachineValue(L"SOFTWARE\\kvo-tests\\no-such-key", L"Root", REG_SZ,
                                 reinterpret_cast<const BYTE*>(value), sizeof value));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey);
}

TEST(FileExistence, AnyEntryASearchFinds) {
    const std::wstring root = kvotest::makeScratchDirectory(L"exists");
    kvotest::writeTextFile(root + L"setup.rsp", "[s]");
    EXPECT_TRUE(FileExists((root + L"setup.rsp").c_str()));
    EXPECT_TRUE(FileExists((root + L"*.rsp").c_str()));
    EXPECT_TRUE(FileExists(root.substr(0, root.size() - 1).c_str()));  // the directory itself
    EXPECT_FALSE(FileExists((root + L"missing.rsp").c_str()));
    EXPECT_FALSE(FileExists((root + L"*.xyz").c_str()));
    kvotest::removeTree(root);
}

}  // namespace
}  // namespace kvo::installer
