// LoadSettings against a real registry key (written and removed by the test), and the launcher
// property lookups.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classpath.h"
#include "test_files.h"
#include "java_arguments.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"
#include "launcher_test_support.h"
#include "os_calls.h"
#include "seam.h"

using namespace kvo;
using namespace kvo::launcher;

using kvotest::CapturedOutput;
using kvotest::ResetLauncherState;
using kvotest::TraceCapture;

namespace {

// The product key, in the registry view the code under test reads (that of this build).
class ProductKey {
public:
    ProductKey() { remove(); }
    ~ProductKey() { remove(); }

    void create() {
        if (key_ != nullptr)
            return;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void setString(const char* name, const std::string& value) {
        create();
        EXPECT_EQ(RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }
    // A string value as its UTF-16 units, with or without the terminator.
    void setWide(const wchar_t* name, const std::wstring& value, bool terminated = true) {
        create();
        EXPECT_EQ(RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + (terminated ? 1 : 0)) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void setBytes(const char* name, const std::string& bytes) {
        create();
        EXPECT_EQ(RegSetValueExA(key_, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
    void setNumber(const char* name, DWORD value) {
        create();
        EXPECT_EQ(
            RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            ERROR_SUCCESS);
    }

private:
    void remove() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
        // The parents only when nothing else lives below them.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvane\\Varnel");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvane");
    }

    HKEY key_ = nullptr;
};

std::string programRoot() {
    std::string p = kvotest::programDirectory();
    p.pop_back();  // the test's directory, without its backslash
    return p.substr(0, p.rfind('\\') + 1);
}

struct Layout {
    std::string root, bin, data, database, jni, jre, log, proddata, tempdata;
};

Layout layoutNow() {
    return {rootDirectory, binDirectory, dataDirectory,     databaseDirectory, jniDirectory,
            jreDirectory,  logDirectory, proddataDirectory, tempdataDirectory};
}

void expectDerived(const Layout& l, const std::string& root) {
    EXPECT_EQ(l.root, root);
    EXPECT_EQ(l.bin, root + "bin\\");
    EXPECT_EQ(l.database, root + "database\\");
    EXPECT_EQ(l.jni, root + "jni\\");
    EXPECT_EQ(l.proddata, root + "proddata\\");
    EXPECT_EQ(l.tempdata, root + "tempdata\\");
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLauncherState();
        setCurrentVariant(VariantId::Kvojavaw);
    }
    void load() {
        CapturedOutput output;
        LoadSettings();
        output.stop();
        err_ = output.err();
    }
    ProductKey key_;
    std::string err_;
};

}  // namespace

TEST_F(Settings, NoKeyReportsOnStderrAndDerivesEverythingFromTheProgram) {
    logOutputFlag = noClassGCFlag = jitFlag = smpOkFlag = 1;
    load();
    EXPECT_EQ(err_,
              "LoadSettings: unable to open registry key \"SOFTWARE\\Orvane\\Varnel\\CurrentVersion\"; rc = "
              "X'2'\n");
    Layout l = layoutNow();
    std::string root = programRoot();
    expectDerived(l, root);
    EXPECT_EQ(l.data, root + "data\\");
    EXPECT_EQ(l.jre, root + "jre\\");
    EXPECT_EQ(l.log, root + "log\\");
    EXPECT_EQ(logOutputFlag + noClassGCFlag + jitFlag + smpOkFlag, 0);
}

TEST_F(Settings, EveryValueSet) {
    key_.setString("Root", "C:\\Prod\\");
    key_.setString("Data", "D:\\ProdData\\");
    key_.setString("JreDir", "E:\\Java\\jre\\");
    key_.setString("LogDir", "F:\\Logs\\");
    key_.setNumber("LogOutput", 5);
    key_.setNumber("NoClassGC", 1);
    key_.setNumber("JIT", 0);
    key_.setNumber("SMP_OK", 0x100);
    load();
    EXPECT_EQ(err_, "");
    Layout l = layoutNow();
    expectDerived(l, "C:\\Prod\\");
    EXPECT_EQ(l.data, "D:\\ProdData\\");
    EXPECT_EQ(l.jre, "E:\\Java\\jre\\");
    EXPECT_EQ(l.log, "F:\\Logs\\");
    EXPECT_EQ(logOutputFlag, 1) << "LogOutput 5 is the flag 1";
    EXPECT_EQ(noClassGCFlag, 1);
    EXPECT_EQ(jitFlag, 0);
    EXPECT_EQ(smpOkFlag, 1);
}

namespace {

LONG WINAPI closeFails(HKEY key) {
    ::RegCloseKey(key);
    return ERROR_INVALID_HANDLE;
}

// The value "JreDir" cannot be read (as one whose access is denied).
LONG WINAPI jreDirDenied(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (name != nullptr && std::wstring(name) == L"JreDir")
        return ERROR_ACCESS_DENIED;
    return ::RegQueryValueExW(key, name, reserved, type, data, size);
}

}  // namespace

TEST_F(Settings, KeyThatCannotBeClosedIsReportedAndItsValuesKept) {
    key_.setString("Root", "C:\\Prod\\");
    key_.setString("JreDir", "E:\\Java\\jre\\");
    key_.setNumber("JIT", 1);
    const auto close = kvo::replace(os.RegCloseKey, closeFails);
    const auto query = kvo::replace(os.RegQueryValueExW, jreDirDenied);
    load();
    EXPECT_EQ(err_,
              "LoadSettings: unable to close registry key \"SOFTWARE\\Orvane\\Varnel\\CurrentVersion\"; rc = "
              "X'6'\n");
    expectDerived(layoutNow(), "C:\\Prod\\");
    EXPECT_EQ(std::string(jreDirectory), "C:\\Prod\\jre\\") << "an unreadable value is an absent one";
    EXPECT_EQ(jitFlag, 1);
}

TEST_F(Settings, PartialKeys) {
    struct Case {
        const char* root;    // null: value absent
        const char* logDir;  // null: value absent
        const char* data;
        std::string expectedRoot, expectedLog, expectedData, expectedJre;
    } cases[] = {
        {"C:\\Prod\\", nullptr, nullptr, "C:\\Prod\\", "C:\\Prod\\log\\", "C:\\Prod\\data\\",
         "C:\\Prod\\jre\\"},
        {"C:\\Prod\\", "G:\\L\\", nullptr, "C:\\Prod\\", "G:\\L\\", "C:\\Prod\\data\\", "C:\\Prod\\jre\\"},
        {nullptr, "G:\\L\\", "H:\\D\\", programRoot(), "G:\\L\\", "H:\\D\\", programRoot() + "jre\\"},
        // Stored without the final backslash: file names are appended to these directly.
        {"C:\\Prod", "G:\\L", nullptr, "C:\\Prod\\", "G:\\L\\", "C:\\Prod\\data\\", "C:\\Prod\\jre\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedRoot + " " + c.expectedLog);
        ProductKey key;
        key.create();
        if (c.root)
            key.setString("Root", c.root);
        if (c.logDir)
            key.setString("LogDir", c.logDir);
        if (c.data)
            key.setString("Data", c.data);
        load();
        EXPECT_EQ(err_, "");
        Layout l = layoutNow();
        expectDerived(l, c.expectedRoot);
        EXPECT_EQ(l.log, c.expectedLog);
        EXPECT_EQ(l.data, c.expectedData);
        EXPECT_EQ(l.jre, c.expectedJre);
        EXPECT_EQ(logOutputFlag + noClassGCFlag + jitFlag + smpOkFlag, 0);
    }
}

TEST_F(Settings, KvocliIgnoresLogOutput) {
    key_.setNumber("LogOutput", 5);
    key_.setNumber("JIT", 3);
    struct Case {
        VariantId variant;
        int logOutput;
    } cases[] = {
        {VariantId::Kvocli, 0}, {VariantId::Kvojavaw, 1}, {VariantId::Kvoconw, 1}, {VariantId::Kvocon, 1}};
    for (const Case& c : cases) {
        setCurrentVariant(c.variant);
        load();
        EXPECT_EQ(logOutputFlag, c.logOutput) << variantFor(c.variant).program;
        EXPECT_EQ(jitFlag, 1) << variantFor(c.variant).program;
    }
}

TEST_F(Settings, OverlongUnterminatedAndInexactValues) {
    // 300 characters do not fit the 260-character buffer: the value is unreadable, the root derived.
    key_.setString("Root", "C:\\" + std::string(297, 'r'));
    // 260 characters without a terminator do not fit with one: unreadable too, never read cut.
    key_.setWide(L"LogDir", std::wstring(260, L'L'), false);
    // 259 characters and the terminator fit exactly.
    key_.setString("Data", std::string(259, 'D'));
    // Only by best fit in the ANSI code page (1252): "C:\\Omega\\" would be another folder.
    key_.setWide(L"JreDir", L"C:\\\u03A9mega\\");
    // Eight bytes do not fit a 32-bit flag: unreadable, the flag stays 0.
    key_.setBytes("NoClassGC", std::string(8, '\x01'));
    load();
    EXPECT_EQ(std::string(rootDirectory), programRoot());
    EXPECT_EQ(std::string(logDirectory), programRoot() + "log\\");
    EXPECT_EQ(std::string(dataDirectory), std::string(259, 'D'));
    EXPECT_EQ(std::string(jreDirectory), programRoot() + "jre\\");
    EXPECT_EQ(err_, "LoadSettings: registry value \"JreDir\" has no exact local form; rc = X'459'\n");
    EXPECT_EQ(noClassGCFlag, 0);
}

namespace {

class Properties_ : public ::testing::Test {
protected:
    void SetUp() override { ResetLauncherState(); }
    void TearDown() override { ResetLauncherState(); }
};

}  // namespace

TEST_F(Properties_, GetPropertyConversions) {
    struct Case {
        const wchar_t* value;  // null: key absent
        unsigned long expected;
        std::vector<std::string> lines;
    } cases[] = {
        {L"1024", 1024, {"- GetProperty: jvm.heap.maximum = \"1024\""}},
        {L"abc",
         512,
         {"- GetProperty: jvm.heap.maximum = \"abc\"", "- GetProperty: unable to convert \"abc\""}},
        {L"256m", 256, {"- GetProperty: jvm.heap.maximum = \"256m\""}},
        {L"4294967296", 512, {"- GetProperty: unable to convert \"4294967296\""}},
        {nullptr, 512, {"- GetProperty: key \"jvm.heap.maximum\" not found"}},
    };
    for (const Case& c : cases) {
        ResetLauncherState();
        if (c.value)
            launcherProperties.setProperty(L"jvm.heap.maximum", c.value);
        TraceCapture trace;
        EXPECT_EQ(GetProperty(L"jvm.heap.maximum", 512), c.expected);
        std::vector<std::string> expected = c.lines;
        expected.insert(expected.begin(), "> GetProperty: key = \"jvm.heap.maximum\", default = 512");
        expected.push_back("< GetProperty: return ( " + std::to_string(c.expected) + " )");
        for (const std::string& line : expected)
            EXPECT_TRUE(trace.has(line)) << line;
    }
}

TEST_F(Properties_, GetBooleanPropertyConversions) {
    struct Case {
        const wchar_t* value;
        int defaultValue;
        int expected;
    } cases[] = {
        {L"yes", 0, 1},
        {L"Y", 0, 1},
        {L"true", 0, 1},
        {L"1", 0, 1},
        {L"FALSE", 0, 0},
        {L"0", 0, 0},
        {nullptr, 0, 0},
        {nullptr, 1, 1},
        // Anything that is not a yes gives the default, even a no.
        {L"FALSE", 1, 1},
        {L"0", 1, 1},
    };
    for (const Case& c : cases) {
        ResetLauncherState();
        if (c.value)
            launcherProperties.setProperty(L"jdwp", c.value);
        TraceCapture trace;
        EXPECT_EQ(GetBooleanProperty(L"jdwp", c.defaultValue), c.expected);
        const std::string def = c.defaultValue ? "TRUE" : "FALSE";
        EXPECT_TRUE(trace.has("> GetBooleanProperty: key = \"jdwp\", default = " + def));
        const std::string info = c.value ? "- GetBooleanProperty: jdwp = \"" +
                                               std::string(c.value, c.value + wcslen(c.value)) + "\""
                                         : "- GetBooleanProperty: key \"jdwp\" not found";
        EXPECT_TRUE(trace.has(info)) << info;
        EXPECT_TRUE(trace.has(std::string("< GetBooleanProperty: return ( ") +
                              (c.expected ? "TRUE" : "FALSE") + " )"));
    }
}
