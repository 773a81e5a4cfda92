// The response-file, parameter and log actions, called by their exported names: a section of a
// response file turned into properties, invalid parameters reported, the chosen options and the
// product written to the log.
#include <gtest/gtest.h>

#include "action_fixture.h"

namespace {

using namespace kvotest::actions;

class ResponseActions : public KtaActions {
protected:
    void SetUp() override {
        KtaActions::SetUp();
        cd_ = kvotest::makeScratchDirectory(L"cd");
        kvotest::writeTextFile(cd_ + L"setup.rsp",
                               "[Other]\r\nOTHER=not read\r\n"
                               "[KVO]\r\nINSTALLDIR=C:\\Orvane\\Varnel\\\r\nDELETEDATA=y\r\n"
                               "[Empty]\r\n"
                               "[Comma]\r\nALPHA,BETA=one value\r\n"
                               "[Long]\r\nLONG=" +
                                   std::string(2000, 'v') + "\r\n");
    }
    void TearDown() override {
        kvotest::removeTree(cd_);
        KtaActions::TearDown();
    }
    // A session with the response file named by SourceDir and ResponseFile, RSP empty.
    kvotest::Session rspSession(const wchar_t* section) {
        return session(
            {{L"SourceDir", cd_}, {L"ResponseFile", L"setup.rsp"}, {L"ResponseFileHeading", section}},
            kOtherProductCode);
    }
    std::wstring cd_;
};

TEST_F(ResponseActions, ASectionBecomesProperties) {
    const auto session = rspSession(L"KVO");
    session.setProperty(L"OTHER", L"");
    EXPECT_EQ(call("ReadRspFileCA", session), 0u);
    EXPECT_EQ(session.property(L"RSP"), cd_ + L"setup.rsp");  // SourceDir + ResponseFile
    EXPECT_EQ(session.property(L"INSTALLDIR"), L"C:\\Orvane\\Varnel\\");
    EXPECT_EQ(session.property(L"DELETEDATA"), L"y");
    EXPECT_EQ(session.property(L"OTHER"), L"");  // another section's key is not read
    EXPECT_EQ(capture_->lines(),
              (std::vector<std::wstring>{L"**** ZAL_INFO -- Entering KTA_Core/ReadRspFileCA",
                                         L"**** ZAL_INFO -- Exiting KTA_Core/ReadRspFileCA"}));
}

TEST_F(ResponseActions, SectionsWithoutKeysCommasAndLongValues) {
    {
        // The profile functions give the default text for a section without keys as for a missing
        // one; the section list tells them apart.
        const auto session = rspSession(L"Empty");
        EXPECT_EQ(call("ReadRspFileCA", session), 0u);
        EXPECT_TRUE(capture_->errorLines().empty());
        EXPECT_EQ(session.property(L"INSTALLDIR"), L"");
    }
    {
        // A key whose name holds a comma is read as two names, neither of which has a value.
        const auto session = rspSession(L"Comma");
        session.setProperty(L"ALPHA", L"before");
        EXPECT_EQ(call("ReadRspFileCA", session), 0u);
        EXPECT_EQ(session.property(L"ALPHA"), L"");
        EXPECT_EQ(session.property(L"BETA"), L"");
    }
    {
        // A value longer than the first buffer is read whole, never cut.
        const auto session = rspSession(L"Long");
        EXPECT_EQ(call("ReadRspFileCA", session), 0u);
        EXPECT_EQ(session.property(L"LONG"), std::wstring(2000, L'v'));
    }
}

TEST_F(ResponseActions, AMissingSectionOrFileFails) {
    {
        const auto session = rspSession(L"Missing");
        EXPECT_EQ(call("ReadRspFileCA", session), 1603u);
        EXPECT_EQ(capture_->errorLines(),
                  (std::vector<std::wstring>{
                      L"**** ZAL_ERROR -- The file " + cd_ + L"setup.rsp is not a valid response file.",
                      L"**** ZAL_ERROR -- Exiting KTA_Core/ReadRspFileCA, return code=2"}));
    }
    capture_->clear();
    const auto session =
        this->session({{L"RSP", cd_ + L"absent.rsp"}, {L"ResponseFileHeading", L"KVO"}}, kOtherProductCode);
    EXPECT_EQ(call("ReadRspFileCA", session), 1603u);
    EXPECT_EQ(capture_->errorLines(),
              (std::vector<std::wstring>{
                  L"**** ZAL_ERROR -- Specified response file, " + cd_ + L"absent.rsp, does not exist",
                  L"**** ZAL_ERROR -- Exiting KTA_Core/ReadRspFileCA, return code=1"}));
}

TEST_F(ResponseActions, InvalidParametersAlwaysFailWithMessage25012) {
    for (const wchar_t* parameters : {L"/quiet /bogus", L""}) {
        const auto session = this->session({{L"BADPARMS", parameters}}, kOtherProductCode);
        capture_->clear();
        EXPECT_EQ(call("InvalidParmsErrorMessageCA", session), 1603u);
        EXPECT_EQ(capture_->errorLines(),
                  std::vector<std::wstring>{L"Invalid parameters: " + std::wstring(parameters)});
    }
}

TEST_F(ResponseActions, IntroduceLogNamesTheProduct) {
    const auto session = this->session({}, kOtherProductCode);
    EXPECT_EQ(call("IntroduceLogCA", session), 0u);
    EXPECT_EQ(capture_->lines(),
              std::vector<std::wstring>{L"**** ZAL_INFO -- Log is for Demo Product product"});
}

TEST_F(ResponseActions, LogOptionsSelectedNamesEachFeaturesChange) {
    // The installed product's feature Main is installed; the test package adds none, so the
    // session is the installed product's (see the fixture).
    struct Case {
        INSTALLSTATE requested;  // INSTALLSTATE_UNKNOWN: left as costing found it
        const wchar_t* line;
    } cases[] = {{INSTALLSTATE_ABSENT, L"**** ZAL_INFO -- Main was selected to be removed."},
                 {INSTALLSTATE_UNKNOWN, L"**** ZAL_INFO -- Main is already installed."}};
    for (const Case& c : cases) {
        const auto session = this->session({{L"INSTALLDIR", productRoot()}});
        for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
            ASSERT_EQ(MsiDoActionW(session.get(), action), 0u);
        if (c.requested != INSTALLSTATE_UNKNOWN) {
            ASSERT_EQ(MsiSetFeatureStateW(session.get(), L"Main", c.requested), 0u);
        }
        capture_->clear();
        EXPECT_EQ(call("LogOptionsSelectedCA", session), 0u);
        EXPECT_EQ(capture_->lines(),
                  (std::vector<std::wstring>{
                      L"**** ZAL_INFO -- ======================================================",
                      L"**** ZAL_INFO -- Options chosen for this installation are listed below.",
                      L"**** ZAL_INFO -- Target installation directory is:",
                      L"**** ZAL_INFO -- \t" + productRoot(), c.line}));
    }
}

TEST_F(ResponseActions, LogOptionsSelectedForANewInstallation) {
    kvotest::TestPackage package(kvotest::currentDirectory() + L"options.msi");
    package.property(L"ProductCode", kOtherProductCode);
    package.run(L"INSERT INTO `Directory` (`Directory`, `DefaultDir`) VALUES ('TARGETDIR', 'SourceDir')");
    package.run(L"INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('Chosen', 1, 0)");
    package.run(L"INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('Skipped', 0, 0)");
    const auto session = package.session();
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
        ASSERT_EQ(MsiDoActionW(session.get(), action), 0u);
    ASSERT_EQ(MsiSetFeatureStateW(session.get(), L"Chosen", INSTALLSTATE_LOCAL), 0u);
    capture_->clear();
    EXPECT_EQ(call("LogOptionsSelectedCA", session), 0u);
    const auto lines = capture_->lines();
    ASSERT_EQ(lines.size(), 5u);  // nothing for a feature neither installed nor requested
    EXPECT_EQ(lines[4], L"**** ZAL_INFO -- Chosen was selected to be installed.");
}

}  // namespace
