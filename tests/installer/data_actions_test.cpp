// The data-directory actions of kta_ca.dll, called in-process by their exported names on sessions
// of packages made at test time: the rows they add (read back from the session's tables), their log
// lines (through the installer's external user interface), the question box (answered by a test
// thread) and the seeding of the data directory. Each test loads the library afresh, so its row
// counters start at 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "action_fixture.h"

namespace {

using kvotest::Row;
using namespace kvotest::actions;

class DataActions : public KtaActions {
protected:
    static void link(const std::wstring& relative, const std::wstring& target) {
        if (relative.find(L'\\') != std::wstring::npos)
            kvotest::makeDirectory(productRoot() + relative.substr(0, relative.rfind(L'\\')));
        ASSERT_TRUE(kvotest::makeDirectoryLink(productRoot() + relative, target))
            << kvotest::toNarrow(relative);
    }
};

TEST_F(DataActions, DeleteDataSchedulesTheTreesOfTheExample) {
    kvotest::makeDirectory(productRoot() + L"data\\sub");
    kvotest::writeTextFile(productRoot() + L"data\\a.txt", "a");
    const auto session = this->session({{L"DELETEDATA", L"y"}});

    EXPECT_EQ(call("DeleteDataCA", session), 0u);

    EXPECT_EQ(directoryRows(session), sorted({{L"KTA_KVO0Folder", L"INSTALLDIR", L"data"},
                                              {L"KTA_KVO1Folder", L"KTA_KVO0Folder", L"sub"},
                                              {L"KTA_KVO2Folder", L"INSTALLDIR", L"tempdata"},
                                              {L"KTA_KVO3Folder", L"INSTALLDIR", L"log"}}));
    EXPECT_EQ(removeFileRows(session),
              sorted({{L"REMOVE_KTA_KVO0_DIRECTORY", kComponent, L"", L"KTA_KVO0Folder", L"2"},
                      {L"REMOVE_KTA_KVO0_DIRECTORY_FILES", kComponent, L"*", L"KTA_KVO0Folder", L"2"},
                      {L"REMOVE_KTA_KVO1_DIRECTORY", kComponent, L"", L"KTA_KVO1Folder", L"2"},
                      {L"REMOVE_KTA_KVO2_DIRECTORY", kComponent, L"", L"KTA_KVO2Folder", L"2"},
                      {L"REMOVE_KTA_KVO3_DIRECTORY", kComponent, L"", L"KTA_KVO3Folder", L"2"}}));
    EXPECT_EQ(session.rows(L"SELECT * FROM `Registry`"),
              (std::vector<Row>{{L"KVODelMenuOrder", L"1",
                                 L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start "
                                 L"Menu\\Programs\\ZAL Varnel",
                                 L"Order", L"DeleteMe", kComponent}}));
    EXPECT_EQ(capture_->lines(),
              (std::vector<std::wstring>{
                  L"**** ZAL_INFO -- Entering KTA_Core/DeleteDataCA",
                  L"**** ZAL_INFO -- Successfully added data directory to RemoveFile table",
                  L"**** ZAL_INFO -- Sucessfully added MenuOrder value to Registry Table",
                  L"**** ZAL_INFO -- Successfully added tempdata directory to RemoveFile table",
                  L"**** ZAL_INFO -- Successfully added log directory to RemoveFile table",
                  L"**** ZAL_INFO -- Exiting KTA_Core/DeleteDataCA"}));
}

TEST_F(DataActions, OnlyALowerCaseYOfAtMostFourCharactersDeletesTheData) {
    struct Case {
        const wchar_t* value;
        bool deletes;
    } cases[] = {{L"y", true}, {L"yes", true}, {L"Y", false}, {L"yes please", false}, {L"", false}};
    kvotest::makeDirectory(productRoot() + L"data");
    for (const Case& c : cases) {
        const auto session = this->session({{L"DELETEDATA", c.value}});
        EXPECT_EQ(call("DeleteDataCA", session), 0u);
        bool dataScheduled = false;
        for (const Row& row : directoryRows(session))
            dataScheduled = dataScheduled || row[2] == L"data";
        EXPECT_EQ(dataScheduled, c.deletes) << kvotest::toNarrow(c.value);
        EXPECT_EQ(session.rows(L"SELECT * FROM `Registry`").size(), c.deletes ? 1u : 0u);
    }
}

TEST_F(DataActions, AMissingInstallLocationFails) {
    const auto session = this->session({{L"DELETEDATA", L"y"}}, kOtherProductCode);
    for (const char* action : {"DeleteDataCA", "CleanUpTheEmptiesCA"}) {
        capture_->clear();
        EXPECT_EQ(call(action, session), 1603u) << action;
        const std::wstring name = kvotest::toWide(action);
        EXPECT_EQ(capture_->errorLines(),
                  (std::vector<std::wstring>{
                      L"**** ZAL_ERROR -- Could not determine Install Directory, RC=1605, Install Directory=",
                      L"**** ZAL_ERROR -- Exiting KTA_Core/" + name + L", return code=-1"}));
    }
    EXPECT_TRUE(directoryRows(session).empty());
    EXPECT_TRUE(removeFileRows(session).empty());
}

// The installation directory is shared: another product's empty folders and links to folders outside
// stay; only the product's own folders (its layout and its package's Directory table) are walked.
TEST_F(DataActions, CleanUpTheEmptiesLeavesTheProductsFoldersInAnyCase) {
    for (const wchar_t* kept : {L"Data", L"DATABASE", L"TempData", L"Log", L"ClassFix", L"vedizade"})
        kvotest::makeDirectory(productRoot() + kept + L"\\inner");
    kvotest::makeDirectory(productRoot() + L"bin");
    kvotest::makeDirectory(productRoot() + L"jre\\lib");
    kvotest::makeDirectory(productRoot() + L"plugins");
    kvotest::makeDirectory(productRoot() + L"OtherVendor\\cache");
    kvotest::makeDirectory(productRoot() + L"OtherVendor\\plugins");
    kvotest::writeTextFile(productRoot() + L"readme.txt", "not a folder");
    const std::wstring target = kvotest::makeLinkTarget(L"outside");
    link(L"jni", target);
    link(L"bin\\linked", target);
    const auto session = this->session();
    session.rows(
        L"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('PluginsDir', "
        L"'INSTALLDIR', 'PLUGIN~1|plugins') TEMPORARY");

    EXPECT_EQ(call("CleanUpTheEmptiesCA", session), 0u);

    EXPECT_EQ(directoryRows(session), sorted({{L"EMPTY0Folder", L"INSTALLDIR", L"bin"},
                                              {L"EMPTY1Folder", L"INSTALLDIR", L"jre"},
                                              {L"EMPTY2Folder", L"EMPTY1Folder", L"lib"},
                                              {L"EMPTY3Folder", L"INSTALLDIR", L"plugins"},
                                              {L"PluginsDir", L"INSTALLDIR", L"PLUGIN~1|plugins"}}));
    EXPECT_EQ(removeFileRows(session), sorted({{L"EMPTY0_DIRECTORY", kComponent, L"", L"EMPTY0Folder", L"2"},
                                               {L"EMPTY1_DIRECTORY", kComponent, L"", L"EMPTY1Folder", L"2"},
                                               {L"EMPTY2_DIRECTORY", kComponent, L"", L"EMPTY2Folder", L"2"},
                                               {L"EMPTY3_DIRECTORY", kComponent, L"", L"EMPTY3Folder", L"2"},
                                               {L"EMPTY_INSTALLDIR", kComponent, L"", L"INSTALLDIR", L"2"}}));
    for (const std::wstring& line : std::vector<std::wstring>{
             L"**** ZAL_INFO -- Successfully added bin directory to RemoveFile table (if empty)",
             L"**** ZAL_INFO -- Successfully added jre directory to RemoveFile table (if empty)",
             L"**** ZAL_INFO -- ScheduleEmptyRemoval: " + productRoot() +
                 L"bin\\linked is a link; it is left alone",
             L"**** ZAL_INFO -- Leaving " + productRoot() + L"jni alone: it is a link",
             L"**** ZAL_INFO -- Leaving " + productRoot() +
                 L"OtherVendor alone: it is not a folder of this product"})
        EXPECT_TRUE(capture_->hasLine(line)) << kvotest::toNarrow(line);
}

// Links in data, log (itself one), tempdata and classfix, to a folder outside the product: each gets
// its folder row (removing a link removes the link), and no row names a folder or the files behind it.
TEST_F(DataActions, LinksAreRemovedNeverEntered) {
    const std::wstring target = kvotest::makeLinkTarget(L"outside");
    for (const wchar_t* linked : {L"data\\linked", L"log", L"tempdata\\linked", L"classfix\\linked"})
        link(linked, target);
    const auto session = this->session({{L"DELETEDATA", L"y"}, {L"PREVIOUS_ROOT_DIRECTORY", productRoot()}});

    EXPECT_EQ(call("DeleteDataCA", session), 0u);
    EXPECT_EQ(call("DeleteClassfixCA", session), 0u);

    const auto directories = directoryRows(session);
    const auto removals = removeFileRows(session);
    int links = 0;
    for (const Row& link : directories) {
        if (link[2] != L"linked" && link[2] != L"log")
            continue;
        ++links;
        for (const Row& row : directories)
            EXPECT_NE(row[1], link[0]) << "a folder behind " << kvotest::toNarrow(link[0]);
        for (const Row& row : removals)
            EXPECT_TRUE(row[3] != link[0] || row[2].empty()) << "files behind " << kvotest::toNarrow(link[0]);
    }
    EXPECT_EQ(links, 4);
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- ScheduleTreeRemoval: " + productRoot() +
                                  L"log is a link; only the link is removed, not what it points to"));
}

TEST_F(DataActions, DeleteClassfixNeedsThePreviousRootAndCountsOnAcrossCalls) {
    kvotest::makeDirectory(productRoot() + L"classfix\\patch");
    kvotest::writeTextFile(productRoot() + L"classfix\\patch\\fix.class", "x");
    {
        const auto session = this->session();
        EXPECT_EQ(call("DeleteClassfixCA", session), 1603u);
        EXPECT_TRUE(capture_->hasLine(
            L"**** ZAL_ERROR -- Could not determine Install Directory, RC=0, Install Directory="));
        EXPECT_TRUE(
            capture_->hasLine(L"**** ZAL_ERROR -- Exiting KTA_Core/DeleteClassfixCA, return code=-1"));
        EXPECT_TRUE(directoryRows(session).empty());
    }
    // The installation moved: the previous root is not INSTALLDIR, and the rows name the tree walked.
    const std::wstring previous = kvotest::makeScratchDirectory(L"previous-root");
    kvotest::makeDirectory(previous + L"classfix\\patch");
    kvotest::writeTextFile(previous + L"classfix\\patch\\fix.class", "x");
    for (unsigned first : {0u, 2u}) {  // the second call goes on where the first stopped
        const auto session = this->session({{L"PREVIOUS_ROOT_DIRECTORY", previous}});
        capture_->clear();
        EXPECT_EQ(call("DeleteClassfixCA", session), 0u);
        const std::wstring top = L"CF" + std::to_wstring(first);
        const std::wstring inner = L"CF" + std::to_wstring(first + 1);
        // Wine's costing faults on a row whose parent is missing: cost only rows that resolve.
        ASSERT_EQ(directoryRows(session), sorted({{L"PREVIOUS_ROOT_DIRECTORY", L"TARGETDIR", L"."},
                                                  {top + L"Folder", L"PREVIOUS_ROOT_DIRECTORY", L"classfix"},
                                                  {inner + L"Folder", top + L"Folder", L"patch"}}));
        for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
            ASSERT_EQ(MsiDoActionW(session.get(), action), 0u) << kvotest::toNarrow(action);
        wchar_t path[MAX_PATH] = {0};
        DWORD size = MAX_PATH;
        EXPECT_EQ(MsiGetTargetPathW(session.get(), (inner + L"Folder").c_str(), path, &size), 0u);
        EXPECT_EQ(std::wstring(path), previous + L"classfix\\patch\\");
        EXPECT_EQ(
            removeFileRows(session),
            sorted({{L"REMOVE_" + top + L"_DIRECTORY", kComponent, L"", top + L"Folder", L"3"},
                    {L"REMOVE_" + inner + L"_DIRECTORY", kComponent, L"", inner + L"Folder", L"3"},
                    {L"REMOVE_" + inner + L"_DIRECTORY_FILES", kComponent, L"*", inner + L"Folder", L"3"}}));
        EXPECT_TRUE(
            capture_->hasLine(L"**** ZAL_INFO -- Successfully added classfix directory to RemoveFile table"));
    }
}

TEST_F(DataActions, TreeKeysAreUniqueAcrossCalls) {
    kvotest::makeDirectory(productRoot() + L"log");
    std::vector<std::wstring> keys;
    for (int run = 0; run < 2; ++run) {
        const auto session = this->session();
        EXPECT_EQ(call("DeleteDataCA", session), 0u);
        for (const Row& row : directoryRows(session))
            keys.push_back(row[0]);
    }
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"KTA_KVO0Folder", L"KTA_KVO1Folder", L"KTA_KVO2Folder",
                                               L"KTA_KVO3Folder"}));
}

TEST_F(DataActions, ATreeTooDeepForAPathBufferIsNeverScheduledUnderACutPath) {
    // data\\D0000001\\D0000002\\... deeper than a 259-character path reaches: every folder that fits
    // is scheduled, the first one that does not fit fails the walk, and no row names a cut path.
    const std::wstring data = productRoot() + L"data\\";
    std::wstring path = L"\\\\?\\" + data;
    CreateDirectoryW(path.c_str(), nullptr);
    for (int level = 1; level <= 25; ++level) {
        wchar_t name[16];
        swprintf(name, 16, L"D%07d\\", level);
        path += name;
        CreateDirectoryW(path.c_str(), nullptr);
    }
    // A folder is walked when its search pattern (its path, which ends with a backslash, and "*")
    // fits in 259 characters.
    const int levelsThatFit = static_cast<int>((259 - 1 - data.size()) / 9);
    const auto session = this->session({{L"DELETEDATA", L"y"}});

    EXPECT_EQ(call("DeleteDataCA", session), 0u);

    const auto rows = directoryRows(session);
    int dataRows = 0;
    std::wstring names;
    for (const Row& row : rows) {
        if (row[2] == L"data" || row[2][0] == L'D') {
            ++dataRows;
            names += row[2] + L" ";
        }
    }
    EXPECT_EQ(dataRows, 1 + levelsThatFit) << "root " << std::string(data.begin(), data.end()) << ": "
                                           << std::string(names.begin(), names.end());
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_ERROR -- Could not add data directory to RemoveFile table"));
    const auto errors = capture_->errorLines();
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find(L"does not fit in 259 characters; it is not scheduled for removal"),
              std::wstring::npos);
    // tempdata and log are still scheduled.
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- Successfully added log directory to RemoveFile table"));
}

TEST_F(DataActions, AskDeletePersistentDataIsAnsweredByTheUser) {
    struct Case {
        int button;
        const wchar_t* deleteData;
        const wchar_t* line;
    } cases[] = {{IDYES, L"y", L"**** ZAL_INFO -- User selected to DELETE configuration data."},
                 {IDNO, L"", L"**** ZAL_INFO -- User selected to NOT DELETE configuration data."}};
    for (const Case& c : cases) {
        const auto session = this->session({}, kOtherProductCode);
        capture_->clear();
        kvotest::BoxAnswerer answerer(L"Demo Product Setup", c.button);  // the caption, formatted
        EXPECT_EQ(call("AskDeletePersistentDataCA", session), 0u);
        ASSERT_TRUE(answerer.wait());
        EXPECT_EQ(answerer.text(), L"Delete the configuration data?");
        EXPECT_EQ(session.property(L"DELETEDATA"), c.deleteData);
        EXPECT_EQ(capture_->lines(),
                  (std::vector<std::wstring>{
                      L"**** ZAL_INFO -- Entering KTA_Core/AskDeletePersistentDataCA", c.line,
                      L"**** ZAL_INFO -- Exiting KTA_Core/AskDeletePersistentDataCA"}));
    }
}

TEST_F(DataActions, AskDeletePersistentDataWithoutItsMessagesShowsWhatIsMissing) {
    kvotest::TestPackage p(kvotest::currentDirectory() + L"no-messages.msi");
    const auto session = p.session();
    kvotest::BoxAnswerer answerer(L"Message 25004 could not be loaded.", IDNO);
    EXPECT_EQ(call("AskDeletePersistentDataCA", session), 0u);
    ASSERT_TRUE(answerer.wait());
    EXPECT_EQ(answerer.text(), L"Message 25006 could not be loaded.");
}

TEST_F(DataActions, SeedDataCopiesTheDefaultsWithoutOverwriting) {
    const std::wstring defaults = productRoot() + L"proddata\\defaults\\";
    kvotest::makeDirectory(defaults + L"nested\\deeper");
    kvotest::writeTextFile(defaults + L"kvocli.properties", "default");
    kvotest::writeTextFile(defaults + L"nested\\one.txt", "one");
    kvotest::writeTextFile(defaults + L"nested\\deeper\\two.txt", "two");
    kvotest::makeDirectory(productRoot() + L"data");
    kvotest::writeTextFile(productRoot() + L"data\\kvocli.properties", "the user's");
    // A deferred action gets CustomActionData and nothing else.
    kvotest::TestPackage p(kvotest::currentDirectory() + L"seed.msi");
    const auto session = p.session();
    session.setProperty(L"CustomActionData", productRoot());

    EXPECT_EQ(call("SeedDataCA", session), 0u);

    EXPECT_EQ(kvotest::readTextFile(productRoot() + L"data\\kvocli.properties"), "the user's");
    EXPECT_EQ(kvotest::readTextFile(productRoot() + L"data\\nested\\one.txt"), "one");
    EXPECT_EQ(kvotest::readTextFile(productRoot() + L"data\\nested\\deeper\\two.txt"), "two");
    const std::wstring data = productRoot() + L"data\\";
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- Sourcedir is " + defaults));
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- Destdir is " + data));
    EXPECT_TRUE(
        capture_->hasLine(L"**** ZAL_INFO -- Skipped copy of existing file: " + data + L"kvocli.properties"));
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- Copied " + defaults + L"nested\\deeper\\two.txt to " +
                                  data + L"nested\\deeper\\two.txt."));
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- CopyProddata returned 0"));
    EXPECT_TRUE(capture_->errorLines().empty());

    // The rollback removes the copies and the folders they alone fill; what differs stays.
    kvotest::writeTextFile(data + L"nested\\one.txt", "changed");
    capture_->clear();
    EXPECT_EQ(call("SeedDataRBCA", session), 0u);
    EXPECT_EQ(kvotest::readTextFile(data + L"kvocli.properties"), "the user's");
    EXPECT_EQ(kvotest::readTextFile(data + L"nested\\one.txt"), "changed");
    EXPECT_FALSE(kvotest::exists(data + L"nested\\deeper"));
    EXPECT_TRUE(
        capture_->hasLine(L"**** ZAL_INFO -- Removed seeded copy " + data + L"nested\\deeper\\two.txt"));
}

TEST_F(DataActions, SeedDataWithoutDefaultsSucceeds) {
    kvotest::TestPackage p(kvotest::currentDirectory() + L"seed.msi");
    const auto session = p.session();
    session.setProperty(L"CustomActionData", productRoot());
    EXPECT_EQ(call("SeedDataCA", session), 0u);
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- CopyProddata returned 0"));
}

TEST_F(DataActions, SeedDataFailsWhenAFileCannotBeCopied) {
    const std::wstring defaults = productRoot() + L"proddata\\defaults\\";
    kvotest::makeDirectory(defaults);
    kvotest::makeDirectory(productRoot() + L"data");
    kvotest::writeTextFile(defaults + L"locked.txt", "x");
    // Held open without sharing: the copy cannot read it.
    const HANDLE held =
        CreateFileW((defaults + L"locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    kvotest::TestPackage p(kvotest::currentDirectory() + L"seed.msi");
    const auto session = p.session();
    session.setProperty(L"CustomActionData", productRoot());
    EXPECT_EQ(call("SeedDataCA", session), 1603u);
    CloseHandle(held);
    EXPECT_EQ(capture_->errorLines(),
              (std::vector<std::wstring>{L"**** ZAL_ERROR -- Could not copy " + defaults + L"locked.txt to " +
                                             productRoot() + L"data\\locked.txt.",
                                         L"**** ZAL_ERROR -- CopyProddata returned -2",
                                         L"**** ZAL_ERROR -- Exiting KTA_Core/SeedDataCA, return code=-2"}));
}

TEST_F(DataActions, SeedDataNeverUsesACutPath) {
    // A default file whose path needs more than 259 characters is not copied under a cut name;
    // the seeding fails.
    const std::wstring defaults = productRoot() + L"proddata\\defaults\\";
    kvotest::makeDirectory(defaults + L"dir");
    kvotest::makeDirectory(productRoot() + L"data");
    kvotest::writeTextFile(defaults + L"dir\\short.txt", "fits");
    kvotest::TestPackage p(kvotest::currentDirectory() + L"seed.msi");
    const auto session = p.session();
    session.setProperty(L"CustomActionData", productRoot());
    EXPECT_EQ(call("SeedDataCA", session), 0u);

    const std::wstring longName(262 - (defaults.size() + 4), L'n');  // defaults + dir\ + name: 262
    kvotest::writeTextFile(L"\\\\?\\" + defaults + L"dir\\" + longName, "too long");
    capture_->clear();
    EXPECT_EQ(call("SeedDataCA", session), 1603u);
    const auto errors = capture_->errorLines();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0].rfind(
                  L"**** ZAL_ERROR -- Could not copy " + defaults + L"dir\\" + longName.substr(0, 100), 0),
              0u);
    EXPECT_EQ(errors[1], L"**** ZAL_ERROR -- CopyProddata returned -2");
    // Nothing but the file that fits was written.
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((productRoot() + L"data\\dir\\*").c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> names;
    do {
        if (entry.cFileName[0] != L'.')
            names.push_back(entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    EXPECT_EQ(names, std::vector<std::wstring>{L"short.txt"});
}

// A drive root as installation location (the test drive: a Wine drive letter for a folder of the
// build tree, set up by the test's fixture, for a second product): its folders belong to everyone,
// data, log and tempdata too, and none is scheduled, not even the root itself.
TEST(DriveRoot, TheRemovalActionsNeverWalkARoot) {
    const char* drive = std::getenv("KVO_TEST_DRIVE");
    ASSERT_TRUE(drive != nullptr && *drive != '\0') << "the test drive of the fixture";
    const std::wstring root = kvotest::toWide(drive) + L"\\";
    const wchar_t* const folders[] = {L"alpha", L"data", L"log", L"tempdata"};
    for (const wchar_t* name : folders) {
        kvotest::makeDirectory(root + name);
        kvotest::writeTextFile(root + name + L"\\theirs.txt", "not ours");
    }
    kvotest::InstalledProduct product(L"{6E4B9D52-8F3C-4A01-9B7E-2D3F40516273}", root);
    ASSERT_EQ(product.installResult(), 0u);
    kvotest::KtaLibrary library;
    kvotest::TestPackage package(kvotest::currentDirectory() + L"drive-root.msi");
    package.property(L"ProductCode", L"{6E4B9D52-8F3C-4A01-9B7E-2D3F40516273}");
    const auto session = package.session();
    session.setProperty(L"DELETEDATA", L"y");
    kvotest::MessageCapture capture;
    const struct {
        const char* action;
        const wchar_t* what;
    } cases[] = {{"CleanUpTheEmptiesCA", L"empty folders"},
                 {"DeleteDataCA", L"the data, log and temporary files"}};
    for (const auto& c : cases) {
        EXPECT_EQ(library.action(c.action)(session.get()), 0u) << c.action;
        EXPECT_TRUE(capture.hasLine(L"**** ZAL_INFO -- Not removing " + std::wstring(c.what) + L" below " +
                                    root + L": it is the root of a drive"))
            << c.action;
    }
    EXPECT_TRUE(session.rows(L"SELECT * FROM `Directory` WHERE `Directory` <> 'TARGETDIR'").empty());
    EXPECT_TRUE(session.rows(L"SELECT * FROM `RemoveFile`").empty());
    for (const wchar_t* name : folders)
        kvotest::removeTree(root + name);
}

TEST(KtaCaExports, EveryActionIsFoundByItsPlainName) {
    const char* const actions[] = {"AskDeletePersistentDataCA",
                                   "CleanUpTheEmptiesCA",
                                   "DeleteClassfixCA",
                                   "DeleteDataCA",
                                   "SeedDataCA",
                                   "SeedDataRBCA",
                                   "FixFileDatesCA",
                                   "GetVersionsCA",
                                   "SetInstalledINSTALLDIRCA",
                                   "SaveINSTALLDIRUpgRBCA",
                                   "SetOld31FeaturesCA",
                                   "SetLoggingPolicyCA",
                                   "ResetLoggingPolicyCA",
                                   "ReadRspFileCA",
                                   "LogOptionsSelectedCA",
                                   "InvalidParmsErrorMessageCA",
                                   "DisplayPropertyMsgBoxCA",
                                   "DisplayWarningMessageBoxCA",
                                   "IntroduceLogCA"};
    std::vector<std::wstring> libraries = {L"kta_ca.dll"};
    // The 32-bit deliverable itself, where this build is 32-bit (Wine maps the Unix path to Z:).
    if (const char* shipped = std::getenv("KVO_SHIPPED_KTA_CA"); shipped != nullptr && *shipped != '\0') {
        std::wstring path = L"Z:" + kvotest::toWide(shipped);
        std::replace(path.begin(), path.end(), L'/', L'\\');
        libraries.push_back(path);
    }
    for (const std::wstring& path : libraries) {
        kvotest::KtaLibrary library(path);
        ASSERT_NE(library.module(), nullptr) << kvotest::toNarrow(path);
        for (const char* action : actions)
            EXPECT_NE(library.action(action), nullptr) << action << " in " << kvotest::toNarrow(path);
    }
}

}  // namespace
