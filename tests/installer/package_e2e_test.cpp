// The demo package end to end under Wine: installed, upgraded, repaired and removed with
// MsiInstallProductW, MsiReinstallProductW and MsiConfigureProductExW (what msiexec /i, /fa and /x
// call), its actions' lines captured through the external user interface. The package is the one
// this build tree made for its architecture; its path and that of the same at version 5.09 are the
// program's arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "installer_test_support.h"

using kvotest::machineString;

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\Orvane\\Varnel\\CurrentVersion";
const wchar_t kPolicyKey[] = L"Software\\Policies\\Microsoft\\Windows\\Installer";
std::wstring packagePath;       // Windows path of kvo-demo.msi
std::wstring olderPackagePath;  // the same at version 5.09

// The product codes of the installed versions of the product (by its upgrade code).
std::vector<std::wstring> installedVersions() {
    std::vector<std::wstring> codes;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(L"{3F6A2C1D-8B4E-4D7A-9E21-5C0B7A9D4E32}", 0, i, code) == 0;
         ++i)
        codes.push_back(code);
    return codes;
}
std::wstring demoCode() {
    return installedVersions().empty() ? L"" : installedVersions()[0];
}

// A copy of the package changed by SQL statements.
std::wstring changedCopy(const wchar_t* name, std::initializer_list<const wchar_t*> statements) {
    const std::wstring copy = kvotest::currentDirectory() + name;
    MSIHANDLE database = 0;
    EXPECT_TRUE(CopyFileW(packagePath.c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(MsiOpenDatabaseW(copy.c_str(), MSIDBOPEN_TRANSACT, &database), 0u);
    for (const wchar_t* statement : statements) {
        MSIHANDLE view = 0;
        EXPECT_EQ(MsiDatabaseOpenViewW(database, statement, &view), 0u);
        EXPECT_EQ(MsiViewExecute(view, 0), 0u);
        MsiCloseHandle(view);
    }
    EXPECT_EQ(MsiDatabaseCommit(database), 0u);
    MsiCloseHandle(database);
    return copy;
}

class DemoPackage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(olderPackagePath.empty()) << "the packages are the test's arguments";
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        for (const std::wstring& code : installedVersions())  // leftovers
            MsiConfigureProductW(code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"Logging");
        root_ = kvotest::makeScratchDirectory(L"demo-product");
        log_ = kvotest::currentDirectory() + L"demo-package.log";
        MsiEnableLogW(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR, log_.c_str(), 0);
        capture_ = std::make_unique<kvotest::MessageCapture>();
    }
    void TearDown() override {
        capture_.reset();
        MsiEnableLogW(0, nullptr, 0);
        for (const std::wstring& code : installedVersions())
            MsiConfigureProductW(code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"Logging");
        kvotest::removeTree(root_);
    }

    UINT install(const std::wstring& commandLine) {
        capture_->clear();
        return MsiInstallProductW(packagePath.c_str(), commandLine.c_str());
    }
    UINT remove(const std::wstring& commandLine) {
        capture_->clear();
        return MsiConfigureProductExW(demoCode().c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT,
                                      commandLine.c_str());
    }
    bool logged(const std::wstring& text) const { return capture_->hasLine(L"**** ZAL_INFO -- " + text); }
    // The product writes these at run time.
    void writeRunTimeFiles() {
        kvotest::writeTextFile(root_ + L"data\\user.properties", "user");
        kvotest::makeDirectory(root_ + L"tempdata\\session");
        kvotest::writeTextFile(root_ + L"tempdata\\session\\work.tmp", "tmp");
        kvotest::writeTextFile(root_ + L"log\\kvocli.log", "log");
        kvotest::makeDirectory(root_ + L"classfix\\patch");
        kvotest::writeTextFile(root_ + L"classfix\\patch\\fix.class", "fix");
    }

    std::wstring root_;
    std::wstring log_;
    std::unique_ptr<kvotest::MessageCapture> capture_;
};

TEST_F(DemoPackage, InstallsSeedsAndRemovesWithDeleteData) {
    // A response file names the installation directory and sets a property the package writes.
    const std::wstring rsp = kvotest::currentDirectory() + L"demo.rsp";
    kvotest::writeTextFile(
        rsp, "[Other]\r\nKVO_DEMO_NOTE=not read\r\n[KVO_DEMO]\r\nINSTALLDIR=" + kvotest::toNarrow(root_) +
                 "\r\nKVO_DEMO_NOTE=set from the response file\r\n");
    ASSERT_EQ(install(L"RSP=\"" + rsp + L"\""), 0u) << "log: " << kvotest::toNarrow(log_);

    // The installed tree and the seeded data directory.
    for (const wchar_t* file :
         {L"bin\\kvocli.exe", L"bin\\kvoucd32.dll", L"bin\\kta_ca.dll", L"bin\\CP1252.UNI",
          L"proddata\\defaults\\kvocli.properties", L"proddata\\defaults\\templates\\readme.txt"})
        EXPECT_TRUE(kvotest::exists(root_ + file)) << kvotest::toNarrow(file);
    EXPECT_EQ(kvotest::readTextFile(root_ + L"data\\kvocli.properties"),
              kvotest::readTextFile(root_ + L"proddata\\defaults\\kvocli.properties"));
    EXPECT_TRUE(kvotest::exists(root_ + L"data\\templates\\readme.txt"));
    for (const wchar_t* folder : {L"log", L"tempdata", L"database", L"jre\\bin\\classic"})
        EXPECT_TRUE(kvotest::exists(root_ + folder)) << kvotest::toNarrow(folder);

    // The actions' lines in the installer's log.
    const std::wstring defaults = root_ + L"proddata\\defaults\\";
    for (const std::wstring& line : std::vector<std::wstring>{
             L"Log is for KVO Demo product", L"Entering KTA_Core/ReadRspFileCA", L"Installing version 5.10",
             L"Did not find an existing Logging policy... creating new one",
             L"Launchers was selected to be installed.", L"\t" + root_, L"Sourcedir is " + defaults,
             L"Copied " + defaults + L"templates\\readme.txt to " + root_ + L"data\\templates\\readme.txt.",
             L"CopyProddata returned 0", L"Search Directory = \"" + root_ + L"\"",
             L"ExcludeDirectory[ 0 ] = \"" + root_ + L"data\\\"", L"Exiting KTA_Core/FixFileDatesCA"})
        EXPECT_TRUE(logged(line)) << kvotest::toNarrow(line);
    EXPECT_TRUE(capture_->errorLines().empty()) << kvotest::toNarrow(capture_->errorLines().front());

    // The version property, the response file's property and the location, through what the
    // package writes; the logging policy from the temporary Registry row.
    EXPECT_EQ(machineString(kProductKey, L"InstalledVersion"), L"5.10");
    EXPECT_EQ(machineString(kProductKey, L"ResponseFileNote"), L"set from the response file");
    EXPECT_EQ(machineString(kProductKey, L"Root"), root_);
    EXPECT_EQ(machineString(kPolicyKey, L"Logging"), L"aiawea");
    // (Windows logs "Product was selected to be removed." too. Wine reports a feature whose component
    // is keyed on a registry value as run from source, and the action logs nothing for it.)

    writeRunTimeFiles();
    // Links to a folder outside the product, in every tree the removal walks: what they point to
    // stays, empty folders included (Wine removes a folder row's folder when it is empty).
    const std::wstring outside = kvotest::makeLinkTarget(L"demo-outside");
    for (const wchar_t* link :
         {L"data\\linked", L"log\\linked", L"tempdata\\linked", L"classfix\\linked", L"jni"})
        ASSERT_TRUE(kvotest::makeDirectoryLink(root_ + link, outside)) << kvotest::toNarrow(link);
    ASSERT_EQ(remove(L"DELETEDATA=y"), 0u);
    for (const wchar_t* folder : {L"cache", L"deeper\\empty"})
        EXPECT_TRUE(kvotest::exists(outside + folder)) << kvotest::toNarrow(folder);

    for (const wchar_t* line : {L"Found the Logging policy that we added to the registry... removing it",
                                L"Successfully added data directory to RemoveFile table",
                                L"Sucessfully added MenuOrder value to Registry Table",
                                L"Successfully added tempdata directory to RemoveFile table",
                                L"Successfully added log directory to RemoveFile table",
                                L"Successfully added classfix directory to RemoveFile table",
                                L"Successfully added bin directory to RemoveFile table (if empty)",
                                L"Launchers was selected to be removed."})
        EXPECT_TRUE(logged(line)) << kvotest::toNarrow(line);
    EXPECT_FALSE(kvotest::exists(root_ + L"bin"));
    EXPECT_FALSE(kvotest::exists(root_ + L"database"));
    EXPECT_EQ(machineString(kPolicyKey, L"Logging"), L"<none>");  // the temporary row removed it
    EXPECT_EQ(machineString(kProductKey, L"Root"), L"<none>");

    // Windows deletes the data, tempdata, log and classfix trees through the temporary RemoveFile
    // rows the actions added. Wine does not honour them as Windows does: it passes the "*" of a
    // files row to DeleteFileW unexpanded (no file goes) and removes a folder row's folder only if
    // it is empty at that moment. So under Wine the trees stay, with their files:
    for (const wchar_t* file :
         {L"data\\user.properties", L"data\\kvocli.properties", L"tempdata\\session\\work.tmp",
          L"log\\kvocli.log", L"classfix\\patch\\fix.class"})
        EXPECT_TRUE(kvotest::exists(root_ + file))
            << "Wine removed " << kvotest::toNarrow(file) << ": it honours the temporary RemoveFile rows now";
}

TEST_F(DemoPackage, RemovalWithoutDeleteDataKeepsTheData) {
    ASSERT_EQ(install(L"INSTALLDIR=\"" + root_ + L"\""), 0u);
    writeRunTimeFiles();
    ASSERT_EQ(remove(L""), 0u);
    EXPECT_FALSE(logged(L"Successfully added data directory to RemoveFile table"));
    EXPECT_FALSE(logged(L"Sucessfully added MenuOrder value to Registry Table"));
    EXPECT_TRUE(logged(L"Successfully added tempdata directory to RemoveFile table"));
    EXPECT_TRUE(logged(L"Successfully added log directory to RemoveFile table"));
    EXPECT_EQ(kvotest::readTextFile(root_ + L"data\\user.properties"), "user");
    EXPECT_FALSE(kvotest::exists(root_ + L"bin"));
}

// The machine type in the PE header of an image (IMAGE_FILE_MACHINE_I386 or _AMD64), or 0.
WORD machineOf(const std::wstring& path) {
    const std::string bytes = kvotest::readTextFile(path);
    if (bytes.size() < 0x40)
        return 0;
    DWORD header = 0;
    std::memcpy(&header, bytes.data() + 0x3C, sizeof header);
    if (bytes.size() < header + 6 || bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0)
        return 0;
    WORD machine = 0;
    std::memcpy(&machine, bytes.data() + header + 4, sizeof machine);
    return machine;
}

// Without INSTALLDIR the package of this build's architecture installs into the program files folder
// of that architecture (the 64-bit one for the x64 package), with deliverables of that architecture.
// With a user interface (reduced), SetOld31FeaturesCA runs before the features are chosen; with
// RSP_FROM_SOURCE=1 the response file beside the package is read.
TEST_F(DemoPackage, InstallsIntoTheProgramFilesFolderOfItsArchitecture) {
    const std::wstring rsp = packagePath.substr(0, packagePath.rfind(L'\\') + 1) + L"kvo-demo.rsp";
    kvotest::writeTextFile(rsp, "[KVO_DEMO]\r\nKVO_DEMO_NOTE=beside the package\r\n");
    MsiSetInternalUI(INSTALLUILEVEL_REDUCED, nullptr);
    ASSERT_EQ(install(L"RSP_FROM_SOURCE=1"), 0u) << "log: " << kvotest::toNarrow(log_);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    DeleteFileW(rsp.c_str());
    EXPECT_TRUE(logged(L"Entering KTA_Core/SetOld31FeaturesCA"));
    EXPECT_EQ(machineString(kProductKey, L"ResponseFileNote"), L"beside the package");
    wchar_t location[MAX_PATH] = {0};
    DWORD size = MAX_PATH;
    ASSERT_EQ(MsiGetProductInfoW(demoCode().c_str(), INSTALLPROPERTY_INSTALLLOCATION, location, &size), 0u);
    // In a process of the package's own architecture, ProgramFiles is that architecture's folder.
    wchar_t programFiles[MAX_PATH] = {0};
    ASSERT_NE(GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH), 0u);
    EXPECT_EQ(std::wstring(location), std::wstring(programFiles) + L"\\Orvane\\KVO Demo\\");
    const WORD expected = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    for (const wchar_t* image : {L"kvocli.exe", L"kvoucd32.dll", L"nqfsfunc.dll", L"kta_ca.dll"}) {
        const std::wstring path = std::wstring(location) + L"bin\\" + image;
        EXPECT_EQ(machineOf(path), expected) << kvotest::toNarrow(path);
    }
    ASSERT_EQ(remove(L"DELETEDATA=y"), 0u);
    kvotest::removeTree(location);  // what Wine's installer leaves of the data folders
}

TEST_F(DemoPackage, InvalidParametersFailTheInstallation) {
    EXPECT_EQ(install(L"INSTALLDIR=\"" + root_ + L"\" BADPARMS=/bogus"),
              static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_TRUE(
        capture_->hasLine(L"The installation was started with parameters that are not valid: /bogus"));
    EXPECT_FALSE(kvotest::exists(root_ + L"bin"));
}

// Wine runs a package whose custom action names an entry point kta_ca.dll does not export as if
// the action had succeeded ("Return value 1"); Windows fails the installation with 1723. That is why
// tests/release/check_exports.sh compares the package's targets with the library's exports.
TEST_F(DemoPackage, WineSkipsAnEntryPointThatIsNotThere) {
    const std::wstring copy = changedCopy(
        L"demo-misnamed.msi",
        {L"UPDATE `CustomAction` SET `Target` = 'IntroduceLog' WHERE `Action` = 'KTA_IntroduceLogCA'"});
    capture_->clear();
    const UINT result = MsiInstallProductW(copy.c_str(), (L"INSTALLDIR=\"" + root_ + L"\"").c_str());
    EXPECT_EQ(result, 0u) << "Wine now fails a missing entry point (Windows: 1723)";
    EXPECT_FALSE(logged(L"Log is for KVO Demo product"));
    EXPECT_TRUE(logged(L"Installing version 5.10"));  // the installation went on
    EXPECT_EQ(remove(L""), 0u);
    DeleteFileW(copy.c_str());
}

// 5.09, then 5.10 without INSTALLDIR: 5.10 goes where 5.09 was, keeps its data, schedules the removal
// of its classfix tree, and is the one version left.
TEST_F(DemoPackage, UpgradesAnOlderVersionInPlaceAndKeepsItsData) {
    ASSERT_EQ(MsiInstallProductW(olderPackagePath.c_str(), (L"INSTALLDIR=\"" + root_ + L"\"").c_str()), 0u);
    kvotest::writeTextFile(root_ + L"data\\kvocli.properties", "changed");
    ASSERT_EQ(install(L""), 0u) << "log: " << kvotest::toNarrow(log_);
    EXPECT_TRUE(logged(L"Installing over version 5.09"));
    EXPECT_TRUE(logged(L"Successfully added classfix directory to RemoveFile table"));
    EXPECT_EQ(kvotest::readTextFile(root_ + L"data\\kvocli.properties"), "changed");
    EXPECT_EQ(machineString(kProductKey, L"Root"), root_);
    EXPECT_EQ(installedVersions().size(), 1u);
    // Windows removes 5.09 with UPGRADINGPRODUCTCODE set, so its removal actions do not run (their
    // conditions: check_package_tables.sh) and its logging policy stays. Wine's removal lacks it (a
    // plain "msiexec /i {code} REMOVE=ALL"): 5.09's ResetLoggingPolicyCA removes the policy.
    EXPECT_EQ(machineString(kPolicyKey, L"Logging"), L"<none>") << "Wine now sets UPGRADINGPRODUCTCODE";
}

// A first installation made to fail after the seeding (a deferred action of a test copy) leaves no
// product and no saved root (that rollback action belongs to upgrades).
TEST_F(DemoPackage, AFirstInstallationThatFailsLeavesNothingRegistered) {
    const std::wstring failing = changedCopy(
        L"demo-failing.msi",
        {L"INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
         L"VALUES ('FailAfterSeeding', 1025, 'KtaCa', 'InvalidParmsErrorMessageCA')",
         L"INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('FailAfterSeeding', 4030)"});
    capture_->clear();
    EXPECT_EQ(MsiInstallProductW(failing.c_str(), (L"INSTALLDIR=\"" + root_ + L"\"").c_str()), 1603u);
    EXPECT_TRUE(logged(L"Entering KTA_Core/SeedDataRBCA"));
    EXPECT_TRUE(installedVersions().empty());
    EXPECT_EQ(machineString(L"SOFTWARE\\Orvane\\Varnel\\User", L"Root"), L"<none>");
    EXPECT_FALSE(kvotest::exists(root_ + L"bin\\kvocli.exe"));
    // Windows rolls back in reverse order: SeedDataRBCA finds the defaults and removes their copies
    // (its own test shows it). Wine removes the defaults first, so the copies stay:
    EXPECT_TRUE(kvotest::exists(root_ + L"data\\kvocli.properties")) << "Wine's rollback order changed";
    DeleteFileW(failing.c_str());
}

// Repair (msiexec /fa) puts back a lost program and seeds a lost default. Then REMOVE=Launchers and
// /x DELETEDATA=y: the removal still reaches the component of the actions' rows, so the logging
// policy the package added goes, one an administrator set stays; and when the clean-up actions
// cannot read the installed location (gone from the installer's registration) /x completes.
TEST_F(DemoPackage, RepairChangeAndRemoval) {
    for (const wchar_t* before : {L"", L"voicewarmup"}) {
        const bool adminPolicy = *before != L'\0';
        if (adminPolicy)
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"Logging", REG_SZ, before, 24);
        ASSERT_EQ(install(L"INSTALLDIR=\"" + root_ + L"\""), 0u);
        for (const wchar_t* file : {L"bin\\kvocli.exe", L"data\\kvocli.properties"})
            ASSERT_TRUE(DeleteFileW((root_ + file).c_str()));
        EXPECT_EQ(MsiReinstallProductW(demoCode().c_str(), REINSTALLMODE_FILEREPLACE), 0u);
        for (const wchar_t* file : {L"bin\\kvocli.exe", L"data\\kvocli.properties"})
            EXPECT_TRUE(kvotest::exists(root_ + file)) << kvotest::toNarrow(file);
        ASSERT_EQ(install(L"REMOVE=Launchers"), 0u);
        if (adminPolicy) {
            std::wstring key =
                L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";
            for (int i : {8,  7,  6,  5,  4,  3,  2,  1,  13, 12, 11, 10, 18, 17, 16, 15,
                          21, 20, 23, 22, 26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35})
                key += demoCode()[i];  // the product code packed
            ASSERT_EQ(RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (key + L"\\InstallProperties").c_str(),
                                         L"InstallLocation"),
                      0);
        }
        ASSERT_EQ(remove(L"DELETEDATA=y"), 0u);
        EXPECT_EQ(logged(L"Successfully added data directory to RemoveFile table"), !adminPolicy);
        EXPECT_EQ(machineString(kPolicyKey, L"Logging"), adminPolicy ? before : L"<none>");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"Logging");
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc && i < 3; ++i) {
        // A Unix path of the build tree: Wine sees it on drive Z.
        std::wstring path = L"Z:" + kvotest::toWide(argv[i]);
        for (wchar_t& c : path)
            c = c == L'/' ? L'\\' : c;
        (i == 1 ? packagePath : olderPackagePath) = path;
    }
    return RUN_ALL_TESTS();
}
