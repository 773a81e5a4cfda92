// SetOld31FeaturesCA and the message boxes, linked in so that their installer and user-interface
// calls can be watched: the Feature table while the conditions are evaluated (placeholders only
// then), and each box's owner, text, caption and style as the action asks for it, while a test
// thread answers the real box.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "installer_test_support.h"
#include "kta_ca.h"
#include "os_calls.h"
#include "seam.h"

namespace kvo::installer {
namespace {

using kvotest::Row;

const kvotest::Session* current = nullptr;
std::vector<std::vector<Row>> featuresDuringConditions;

MSICONDITION WINAPI watchCondition(MSIHANDLE session, LPCWSTR condition) {
    featuresDuringConditions.push_back(current->rows(L"SELECT `Feature`, `Feature_Parent` FROM `Feature`"));
    return MsiEvaluateConditionW(session, condition);
}

std::vector<Row> sorted(std::vector<Row> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

// X and Y below P, Z below Q (Feature, Feature_Parent, Attributes); X has a condition that holds,
// Y only conditions that do not.
const std::vector<Row> kFeatures = {
    {L"P", L"", L"0"}, {L"Q", L"", L"0"}, {L"X", L"P", L"0"}, {L"Y", L"P", L"2"}, {L"Z", L"Q", L"4"}};
void addFeatures(kvotest::TestPackage& package) {
    for (const Row& f : kFeatures)
        package.run(
            std::wstring(L"INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Title`, `Display`, `Level`, "
                         L"`Attributes`) VALUES ('") +
            f[0] + L"', '" + f[1] + L"', '" + f[0] + L"', 1, 3, " + f[2] + L")");
    package.run(L"INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) VALUES ('X', 1, '1')");
    package.run(L"INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) VALUES ('Y', 1, '0')");
    package.run(L"INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) VALUES ('Y', 2, 'NOT 1')");
}

// The result recorded here is Wine's own: its installer lets a custom action delete the package's
// persistent Feature rows, which Windows refuses (below).
TEST(SetOld31Features, MarksFeaturesWhoseConditionHoldsAndRestoresTheTree) {
    kvotest::TestPackage package(kvotest::currentDirectory() + L"features.msi");
    addFeatures(package);
    const auto session = package.session();
    kvotest::MessageCapture capture;
    current = &session;
    featuresDuringConditions.clear();
    {
        const auto restore = kvo::replace(os.MsiEvaluateConditionW, watchCondition);
        EXPECT_EQ(SetOld31FeaturesCA(session.get()), 0u);
    }
    current = nullptr;

    // While the conditions were evaluated, the children hung below the placeholders.
    ASSERT_FALSE(featuresDuringConditions.empty());
    EXPECT_EQ(sorted(featuresDuringConditions.front()), sorted({{L"P", L""},
                                                                {L"Q", L""},
                                                                {L"P_tempf", L""},
                                                                {L"Q_tempf", L""},
                                                                {L"X", L"P_tempf"},
                                                                {L"Y", L"P_tempf"},
                                                                {L"Z", L"Q_tempf"}}));
    // Afterwards: the parents again, no placeholder, bit 16 on X only.
    std::vector<Row> marked = kFeatures;
    marked[2][2] = L"16";  // X
    EXPECT_EQ(sorted(session.rows(L"SELECT `Feature`, `Feature_Parent`, `Attributes` FROM `Feature`")),
              sorted(marked));
    EXPECT_EQ(capture.lines(),
              (std::vector<std::wstring>{L"**** ZAL_INFO -- Entering KTA_Core/SetOld31FeaturesCA",
                                         L"**** ZAL_INFO -- Exiting KTA_Core/SetOld31FeaturesCA"}));
}

// Windows lets a custom action change temporary rows only: deleting a row of the package itself is
// refused (as for a read-only database), deleting a placeholder the action added is not.
UINT WINAPI refusePersistentRows(MSIHANDLE view, MSIMODIFY mode, MSIHANDLE record) {
    wchar_t name[64] = {0};
    DWORD size = 64;
    MsiRecordGetStringW(record, 1, name, &size);
    if (mode == MSIMODIFY_DELETE && wcsstr(name, L"_tempf") == nullptr)
        return ERROR_FUNCTION_FAILED;
    return MsiViewModify(view, mode, record);
}

TEST(SetOld31Features, UnderTheDocumentedRefusalChangesNothing) {
    kvotest::TestPackage package(kvotest::currentDirectory() + L"features.msi");
    addFeatures(package);
    const auto session = package.session();
    kvotest::MessageCapture capture;
    {
        const auto restore = kvo::replace(os.MsiViewModify, refusePersistentRows);
        EXPECT_EQ(SetOld31FeaturesCA(session.get()), 0u);
    }
    EXPECT_EQ(sorted(session.rows(L"SELECT `Feature`, `Feature_Parent`, `Attributes` FROM `Feature`")),
              sorted(kFeatures));
    const std::wstring refused =
        L"**** ZAL_ERROR -- SetOld31FeaturesCA: the installer refused to rewrite a Feature row; rc = X'65B'";
    EXPECT_EQ(capture.lines(),
              (std::vector<std::wstring>{L"**** ZAL_INFO -- Entering KTA_Core/SetOld31FeaturesCA", refused,
                                         refused, L"**** ZAL_INFO -- Exiting KTA_Core/SetOld31FeaturesCA"}));
}

TEST(SetOld31Features, APackageWithoutFeaturesIsLeftAlone) {
    kvotest::TestPackage package(kvotest::currentDirectory() + L"no-features.msi", {L"Property"});
    const auto session = package.session();
    EXPECT_EQ(SetOld31FeaturesCA(session.get()), 0u);
}

// The boxes as the actions ask for them; the real box is shown and answered by a thread.
struct Box {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};
std::vector<Box> boxes;

int WINAPI recordBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    boxes.push_back({owner, text, caption, type});
    return MessageBoxW(owner, text, caption, type);
}

class MessageBoxes : public ::testing::Test {
protected:
    void SetUp() override {
        boxes.clear();
        package_ = std::make_unique<kvotest::TestPackage>(kvotest::currentDirectory() + L"boxes.msi");
        kvotest::addProductMessages(*package_);
        package_->property(L"INSTALLDIR.7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26", L"C:\\Orvane\\Varnel\\");
    }
    UINT show(UINT(__stdcall* action)(MSIHANDLE), const kvotest::Session& session,
              const std::wstring& caption, int button, std::wstring& shownText) {
        const auto restore = kvo::replace(os.MessageBoxW, recordBox);
        kvotest::BoxAnswerer answerer(caption, button);
        const UINT result = action(session.get());
        EXPECT_TRUE(answerer.wait()) << kvotest::toNarrow(caption);
        shownText = answerer.text();
        return result;
    }
    std::unique_ptr<kvotest::TestPackage> package_;
};

TEST_F(MessageBoxes, WarningShowsTheNumberedMessage) {
    struct Case {
        const wchar_t* number;
        const wchar_t* text;
    } cases[] = {{L"25014", L"Not every file date of Demo Product could be repaired."},
                 {L"777", L"Message 777 could not be loaded."},
                 {L"", L"Message 0 could not be loaded."}};
    const auto session = package_->session();
    for (const Case& c : cases) {
        boxes.clear();
        session.setProperty(L"DISPLAY_ERROR_MESSAGE_NUMBER", c.number);
        std::wstring shown;
        EXPECT_EQ(show(DisplayWarningMessageBoxCA, session, L"Demo Product Setup", IDOK, shown), 0u);
        EXPECT_EQ(shown, c.text);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].caption, L"Demo Product Setup");
        EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONWARNING | MB_TASKMODAL));
    }
}

TEST_F(MessageBoxes, PropertyBoxShowsTheModuleQualifiedProperty) {
    const auto session = package_->session();
    session.setProperty(L"PropertyNameToDisplay.7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26", L"INSTALLDIR");
    kvotest::MessageCapture capture;
    std::wstring shown;
    EXPECT_EQ(show(DisplayPropertyMsgBoxCA, session, L"Custom Action", IDOK, shown), 0u);
    const std::wstring text =
        L"The value for property INSTALLDIR.7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26 is C:\\Orvane\\Varnel\\.";
    EXPECT_EQ(shown, text);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION | MB_TASKMODAL));
    EXPECT_EQ(capture.lines(),
              (std::vector<std::wstring>{L"**** ZAL_INFO -- Entering DisplayPropertyMsgBoxCA",
                                         L"**** ZAL_INFO -- Exiting DisplayPropertyMsgBoxCA"}));
}

TEST_F(MessageBoxes, QuestionAboutPersistentData) {
    const auto session = package_->session();
    std::wstring shown;
    EXPECT_EQ(show(AskDeletePersistentDataCA, session, L"Demo Product Setup", IDYES, shown), 0u);
    EXPECT_EQ(shown, L"Delete the configuration data?");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_TASKMODAL));
    EXPECT_EQ(session.property(L"DELETEDATA"), L"y");
}

}  // namespace
}  // namespace kvo::installer
