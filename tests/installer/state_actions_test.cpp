// The actions that prepare the installation state, called by their exported names: the version
// being installed, the installed location as INSTALLDIR, the saved installation directory, the
// logging policy; and the deferred actions shown to read nothing but CustomActionData.
#include <gtest/gtest.h>

#include "action_fixture.h"

namespace {

using kvotest::machineString;
using kvotest::Row;
using namespace kvotest::actions;

class StateActions : public KtaActions {
protected:
    // A session whose Registry table holds the product key's Version value (none when null).
    kvotest::Session versionSession(const wchar_t* version, const wchar_t* previous = L"") {
        package_ = std::make_unique<kvotest::TestPackage>(kvotest::currentDirectory() + L"versions.msi");
        if (version != nullptr)
            package_->run(std::wstring(L"INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, "
                                       L"`Component_`) VALUES ('Version', 2, "
                                       L"'SOFTWARE\\Orvane\\Varnel\\CurrentVersion', 'Version', '") +
                          version + L"', 'KTA.bin')");
        auto s = package_->session();
        s.setProperty(L"PREVIOUS_VERSION", previous);
        return s;
    }
};

TEST_F(StateActions, GetVersionsPublishesTheVersionBeingInstalled) {
    struct Case {
        const wchar_t* value;  // in the Registry table; null: no row
        const wchar_t* previous;
        const wchar_t* published;
        std::vector<std::wstring> lines;  // between the entry and exit lines
    } cases[] = {
        {L"#5.10", L"", L"5.10", {L"**** ZAL_INFO -- Installing version #5.10"}},
        {L"5.10",
         L"5.0.3",
         L"5.10",
         {L"**** ZAL_INFO -- Installing version 5.10", L"**** ZAL_INFO -- Installing over version 5.0.3"}},
        {L"1234567890.12345",
         L"1234567890.123456",  // logged as far as its buffer holds it, marked cut
         L"",                   // 16 characters do not fit 15 and a terminator
         {L"**** ZAL_INFO -- Could not determine current version.  rc=234",
          L"**** ZAL_INFO -- Installing over version 1234567890.1234..."}},
        {nullptr,
         L"",
         L"",
         {L"**** ZAL_INFO -- MsiViewFetch failed!  Return code:  259",
          L"**** ZAL_INFO -- Could not determine current version.  rc=259"}},
    };
    for (const Case& c : cases) {
        const auto session = versionSession(c.value, c.previous);
        capture_->clear();
        EXPECT_EQ(call("GetVersionsCA", session), 0u);
        EXPECT_EQ(session.property(L"FUNCTION_VERSION"), c.published);
        std::vector<std::wstring> expected = {L"**** ZAL_INFO -- Entering KTA_Core/GetVersionsCA"};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        expected.push_back(L"**** ZAL_INFO -- Exiting KTA_Core/GetVersionsCA");
        EXPECT_EQ(capture_->lines(), expected) << (c.value ? kvotest::toNarrow(c.value) : "no row");
    }
}

TEST_F(StateActions, GetVersionsWithoutARegistryTableLogsEveryStep) {
    kvotest::TestPackage bare(kvotest::currentDirectory() + L"no-registry.msi", {L"Property"});
    const auto session = bare.session();
    EXPECT_EQ(call("GetVersionsCA", session), 0u);
    const auto lines = capture_->lines();
    ASSERT_EQ(lines.size(), 6u);
    // The open fails; the later steps test the same result and log it too.
    EXPECT_EQ(lines[1].rfind(L"**** ZAL_INFO -- MsiDatabaseOpenView failed!  Return code:  ", 0), 0u);
    const std::wstring code = lines[1].substr(lines[1].rfind(L' ') + 1);
    EXPECT_EQ(lines[2], L"**** ZAL_INFO -- MsiViewExecute failed!  Return code:  " + code);
    EXPECT_EQ(lines[3], L"**** ZAL_INFO -- MsiViewFetch failed!  Return code:  " + code);
    EXPECT_EQ(lines[4], L"**** ZAL_INFO -- Could not determine current version.  rc=" + code);
}

TEST_F(StateActions, SetInstalledINSTALLDIRPointsAtTheInstalledLocation) {
    struct Case {
        const wchar_t* productCode;
        std::wstring location;
    } cases[] = {{kProductCode, productRoot()}, {kOtherProductCode, L""}};
    for (const Case& c : cases) {
        const auto session = this->session({{L"INSTALLDIR", L"C:\\Default\\"}}, c.productCode);
        capture_->clear();
        EXPECT_EQ(call("SetInstalledINSTALLDIRCA", session), 0u);
        EXPECT_EQ(session.property(L"INSTALLDIR"), c.location);
        EXPECT_EQ(capture_->lines(), (std::vector<std::wstring>{
                                         L"**** ZAL_INFO -- Entering KTA_Core/SetInstalledINSTALLDIRCA",
                                         L"**** ZAL_INFO -- Product code is " + std::wstring(c.productCode),
                                         L"**** ZAL_INFO -- Setting INSTALLDIR to " + c.location,
                                         L"**** ZAL_INFO -- Exiting KTA_Core/SetInstalledINSTALLDIRCA"}));
    }
}

// Windows gives a deferred or rollback action CustomActionData, ProductCode and UserSID and no
// other property (Wine gives it all): with every other property empty, both still work.
TEST_F(StateActions, DeferredActionsReadNothingButCustomActionData) {
    const std::wstring root = productRoot();
    kvotest::makeDirectory(root + L"proddata\\defaults");
    kvotest::makeDirectory(root + L"data");
    kvotest::writeTextFile(root + L"proddata\\defaults\\kvocli.properties", "default");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane\\Varnel\\User");
    for (const char* action : {"SeedDataCA", "SaveINSTALLDIRUpgRBCA"}) {
        kvotest::TestPackage bare(kvotest::currentDirectory() + L"deferred.msi");
        const auto session = bare.session();
        for (const wchar_t* property :
             {L"INSTALLDIR", L"ProductCode", L"ProductName", L"SourceDir", L"TARGETDIR"})
            session.setProperty(property, L"");
        session.setProperty(L"CustomActionData", root);
        EXPECT_EQ(call(action, session), 0u) << action;
    }
    EXPECT_EQ(kvotest::readTextFile(root + L"data\\kvocli.properties"), "default");
    EXPECT_EQ(machineString(L"SOFTWARE\\Orvane\\Varnel\\User", L"Root"), root);
    EXPECT_TRUE(capture_->hasLine(L"**** ZAL_INFO -- Installation directory to save is " + root));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane\\Varnel\\User");
}

class LoggingPolicy : public StateActions {
protected:
    static constexpr wchar_t kKey[] = L"Software\\Policies\\Microsoft\\Windows\\Installer";
    void TearDown() override {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"Logging");
        StateActions::TearDown();
    }
    void setPolicy(const wchar_t* value) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"Logging");
        if (value != nullptr)
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"Logging", REG_SZ, value,
                            static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }
};

TEST_F(LoggingPolicy, SetAndResetAddTheRowOnlyForTheirCase) {
    const Row row = {L"KVOLoggingPolicy", L"2",      L"Software\\Policies\\Microsoft\\Windows\\Installer",
                     L"Logging",          L"aiawea", kComponent};
    struct Case {
        const wchar_t* policy;  // on the machine; null: none
        bool setAdds;
        bool resetAdds;
    } cases[] = {{nullptr, true, false}, {L"voicewarmup", false, false}, {L"AIAWEA", false, true}};
    for (const Case& c : cases) {
        setPolicy(c.policy);
        for (const char* action : {"SetLoggingPolicyCA", "ResetLoggingPolicyCA"}) {
            const bool adds = std::string(action) == "SetLoggingPolicyCA" ? c.setAdds : c.resetAdds;
            const auto session = this->session({}, kOtherProductCode);
            capture_->clear();
            EXPECT_EQ(call(action, session), 0u);
            EXPECT_EQ(session.rows(L"SELECT * FROM `Registry`"),
                      adds ? std::vector<Row>{row} : std::vector<Row>{})
                << action << " with " << (c.policy ? kvotest::toNarrow(c.policy) : "none");
            EXPECT_EQ(capture_->hasLine(
                          L"**** ZAL_INFO -- Adding Logging value to the Installer key in the Registry "
                          L"table under component " +
                          std::wstring(kComponent)),
                      adds);
        }
    }
}

TEST_F(LoggingPolicy, ARowThatCannotBeAddedFailsTheAction) {
    setPolicy(nullptr);
    kvotest::TestPackage bare(kvotest::currentDirectory() + L"no-registry.msi", {L"Property"});
    const auto session = bare.session();
    EXPECT_EQ(call("SetLoggingPolicyCA", session), 1603u);
    const auto errors = capture_->errorLines();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().rfind(L"**** ZAL_ERROR -- Exiting KTA_Core/SetLoggingPolicyCA, return code=", 0),
              0u);
}

}  // namespace
