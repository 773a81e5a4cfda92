// Class path assembly on a real directory tree: fixed entries, extension files per variant,
// "classpath.append.N" values, CLASSPATH patterns, duplicates, library path and protocol handlers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "classpath_rules.h"
#include "classpath.h"
#include "heap.h"
#include "java_arguments.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"
#include "documented_code_page.h"
#include "heap_failure.h"
#include "launcher_test_support.h"
#include "os_calls.h"

using namespace kvo;
using namespace kvo::launcher;

using kvotest::ResetLauncherState;
using kvotest::ScratchDir;
using kvotest::TraceCapture;
using kvotest::writeTree;

namespace {

struct FreeDeleter {
    void operator()(char* p) const { kvo::heapRelease(p); }
};
using HeapString = std::unique_ptr<char, FreeDeleter>;

std::string take(char* text) {
    HeapString owned(text);
    return owned ? std::string(owned.get()) : std::string("<NIL>");
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> pieces;
    std::stringstream in(text);
    std::string piece;
    while (std::getline(in, piece, ';'))
        pieces.push_back(piece);
    return pieces;
}

std::vector<std::string> fixedEntries(const std::string& root) {
    std::vector<std::string> entries;
    for (int i = 0; i < kFixedClasspathEntryCount; ++i)
        entries.push_back(root + kFixedClasspathEntries[i]);
    return entries;
}

// Sets an environment variable of the run-time library for one test; restores it afterwards.
class EnvironmentValue {
public:
    EnvironmentValue(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        set(value);
    }
    ~EnvironmentValue() { set(hadOld_ ? old_.c_str() : nullptr); }

private:
    void set(const char* value) { _putenv((name_ + "=" + (value ? value : "")).c_str()); }
    std::string name_, old_;
    bool hadOld_ = false;
};

class Classpath : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLauncherState();
        setCurrentVariant(VariantId::Kvocli);
        copyPath(rootDirectory, root_.path().c_str());
    }
    void TearDown() override { ResetLauncherState(); }

    std::string root() const { return root_.path(); }
    void extension(const std::string& name, const std::string& content) {
        writeTree(root() + "classes\\extensions\\" + name, content);
    }
    std::vector<std::string> added() {
        std::vector<std::string> all = split(take(BuildClasspath()));
        EXPECT_GE(all.size(), 15u);
        EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 15), fixedEntries(root()));
        return std::vector<std::string>(all.begin() + 15, all.end());
    }

    ScratchDir root_{"cp"};
};

}  // namespace

TEST_F(Classpath, FixedEntriesOnly) {
    TraceCapture trace;
    std::string joined;
    for (const std::string& entry : fixedEntries(root()))
        joined += (joined.empty() ? "" : ";") + entry;
    EXPECT_EQ(take(BuildClasspath()), joined);
    EXPECT_TRUE(trace.has("> BuildClasspath"));
    EXPECT_TRUE(trace.has("< BuildClasspath: return ( \"" + joined + "\" )"));
    EXPECT_TRUE(
        trace.has("- SearchExtensions: file name filter = \"" + root() + "classes\\extensions\\*.KVOExt\""));
    EXPECT_TRUE(trace.has("- SearchExtensions: unable to open search handle; rc = X'3'"));
    EXPECT_TRUE(trace.has("- ProcessClasspathProperties: key \"classpath.append.1\" not found"));
}

TEST_F(Classpath, EmptyRootGivesTheBareFixedEntries) {
    rootDirectory[0] = 0;
    std::string joined;
    for (int i = 0; i < kFixedClasspathEntryCount; ++i)
        joined += std::string(i ? ";" : "") + kFixedClasspathEntries[i];
    EXPECT_EQ(take(BuildClasspath()), joined);
    EXPECT_EQ(take(BuildBootClasspath()), "javafix;lib\\javafix.jar");
}

TEST_F(Classpath, BootClasspath) {
    TraceCapture trace;
    std::string expected = root() + "javafix;" + root() + "lib\\javafix.jar";
    EXPECT_EQ(take(BuildBootClasspath()), expected);
    EXPECT_TRUE(trace.has("< BuildBootClasspath: return ( \"" + expected + "\" )"));
}

TEST_F(Classpath, ExtensionFilesPerFilterAndVariant) {
    extension("a.KVOExt", "classpath.append.1=ext/a.jar\nclasspath.append.2=ext/a2.jar\n");
    extension("b.SMDef", "classpath.append.1=smdef.jar\n");
    extension("c.KVOSubagent", "classpath.append.1=sub.jar\n");
    extension("d.txt", "classpath.append.1=ignored.jar\n");
    extension("e.KVOExtra", "classpath.append.1=ignored2.jar\n");
    struct Case {
        VariantId variant;
        bool subagents;
    } cases[] = {{VariantId::Kvocli, true},
                 {VariantId::Kvojavaw, true},
                 {VariantId::Kvoconw, false},
                 {VariantId::Kvocon, false}};
    for (const Case& c : cases) {
        setCurrentVariant(c.variant);
        std::vector<std::string> expected = {root() + "ext\\a.jar", root() + "ext\\a2.jar",
                                             root() + "smdef.jar"};
        if (c.subagents)
            expected.push_back(root() + "sub.jar");
        EXPECT_EQ(added(), expected) << variantFor(c.variant).program;
    }
}

TEST_F(Classpath, OrderFiltersThenFilesThenLauncherProperties) {
    extension("one.KVOExt", "classpath.append.1=one.jar\n");
    extension("two.KVOExt", "classpath.append.1=two.jar\n");
    extension("x.SMDef", "classpath.append.1=x.jar\n");
    launcherProperties.setProperty(L"classpath.append.1", L"props.jar");
    EXPECT_EQ(added(), (std::vector<std::string>{root() + "one.jar", root() + "two.jar", root() + "x.jar",
                                                 root() + "props.jar"}));
}

TEST_F(Classpath, ValuesOfTheLauncherProperties) {
    struct Case {
        const wchar_t* value;
        std::string expected;  // empty: nothing added
    } cases[] = {
        {L"lib/extra/x.jar", "lib\\extra\\x.jar"},  // root + value, slashes turned
        {L"D:\\other\\y.jar", "D:\\other\\y.jar"},  // drive colon: unchanged
        {L"D:/other/y.jar", "D:\\other\\y.jar"},    // ... but normalised
        {L"\\", "\\"},
        {L"/", "\\"},
    };
    for (const Case& c : cases) {
        ResetLauncherState();
        copyPath(rootDirectory, root().c_str());
        launcherProperties.setProperty(L"classpath.append.1", c.value);
        std::string expected = c.expected;
        if (expected.find(':') == std::string::npos && expected != "\\")
            expected = root() + expected;
        EXPECT_EQ(added(), std::vector<std::string>{expected});
    }
}

TEST_F(Classpath, KeysOneAndThreeWithoutTwo) {
    TraceCapture trace;
    launcherProperties.setProperty(L"classpath.append.1", L"one.jar");
    launcherProperties.setProperty(L"classpath.append.3", L"three.jar");
    EXPECT_EQ(added(), std::vector<std::string>{root() + "one.jar"});
    EXPECT_TRUE(trace.has("- ProcessClasspathProperties: key = \"classpath.append.1\""));
    EXPECT_TRUE(trace.has("- ProcessClasspathProperties: classpath.append.1 = \"one.jar\""));
    EXPECT_TRUE(trace.has("- ProcessClasspathProperties: key \"classpath.append.2\" not found"));
    EXPECT_FALSE(trace.has("- ProcessClasspathProperties: key = \"classpath.append.3\""));
}

TEST_F(Classpath, DuplicatesDifferingInCaseAreDropped) {
    extension("a.KVOExt", "classpath.append.1=Ext/A.jar\nclasspath.append.2=CLASSES/VRNLIBS.JAR\n");
    launcherProperties.setProperty(L"classpath.append.1", L"ext/a.JAR");
    launcherProperties.setProperty(L"classpath.append.2", L"other.jar");
    EXPECT_EQ(added(), (std::vector<std::string>{root() + "Ext\\A.jar", root() + "other.jar"}));

    ClasspathList list;
    AddClasspathEntryToList(&list, "C:\\A\\b.jar");
    AddClasspathEntryToList(&list, "c:\\a\\B.JAR");
    AddClasspathEntryToList(&list, "C:\\A\\b.jar2");
    ASSERT_EQ(list.count, 2);
    EXPECT_STREQ(list.entries[1], "C:\\A\\b.jar2");
    freeClasspathList(&list);
    EXPECT_EQ(list.count, 0);
}

TEST_F(Classpath, ListGrowsByDoublingAndKeepsItsEntriesWhenItCannotGrow) {
    // Each entry costs its copy; the array of entries is allocated again only when it is full.
    ClasspathList list;
    int allocations = 0;
    {
        kvotest::FailAllocation counting(1 << 30);
        for (int i = 0; i < 1000; ++i)
            AddClasspathEntryToList(&list, ("C:\\e\\" + std::to_string(i) + ".jar").c_str());
        allocations = counting.allocations();
    }
    ASSERT_EQ(list.count, 1000);
    EXPECT_LE(allocations, 1000 + 10) << "log2(1000) array allocations, not one per entry";
    EXPECT_STREQ(list.entries[999], "C:\\e\\999.jar");
    freeClasspathList(&list);

    // A full list that cannot get a bigger array stays as it was.
    for (int i = 0; i < 8; ++i)
        AddClasspathEntryToList(&list, ("e" + std::to_string(i)).c_str());
    ASSERT_EQ(list.count, list.capacity) << "the first array holds 8";
    {
        TraceCapture trace;
        kvotest::FailAllocation failure(1);
        AddClasspathEntryToList(&list, "ninth");
        EXPECT_TRUE(trace.has("! AddClasspathEntryToList: unable to allocate " +
                              std::to_string(16 * sizeof(char*)) + " byte(s) for list"));
    }
    ASSERT_EQ(list.count, 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(std::string(list.entries[i]), "e" + std::to_string(i));
    AddClasspathEntryToList(&list, "ninth");
    ASSERT_EQ(list.count, 9);
    EXPECT_STREQ(list.entries[8], "ninth");
    freeClasspathList(&list);
}

TEST_F(Classpath, ValuesThatCannotBeHadAreSkippedUnderTheReadersOwnName) {
    launcherProperties.setProperty(L"classpath.append.1", L"bad.jar");
    launcherProperties.setProperty(L"classpath.append.2", L"good.jar");
    launcherProperties.setProperty(L"classpath.append.3", L"verbatim:x.jar");
    launcherProperties.setProperty(L"classpath.append.4", L"last.jar");
    // Under 1252 a best-fit form would name another file ("O.jar"): no exact form, no entry.
    launcherProperties.setProperty(L"classpath.append.5", L"\u03A9.jar");
    {
        TraceCapture trace;
        // The local form of "bad.jar" cannot be had (as text the code page has no characters for).
        const kvotest::UntranslatableText convert(&os.WideCharToMultiByte, L"bad.jar");
        EXPECT_EQ(added(),
                  (std::vector<std::string>{root() + "good.jar", "verbatim:x.jar", root() + "last.jar"}));
        EXPECT_TRUE(trace.has("! ProcessClasspathProperties: unable to convert \"bad.jar\"; rc = X'459'"));
    }
    // Running out of memory for a value's text or for its entry skips that value only; the trace
    // line names the function it comes from. The allocations of the first values come first.
    std::set<std::string> errors;
    kvotest::forEachFailingAllocation([&](int) {
        TraceCapture trace;
        ClasspathList list;
        ProcessClasspathProperties(&list, &launcherProperties);
        for (const std::string& line : trace.lines())
            if (line.rfind("! ", 0) == 0)
                errors.insert(line);
        EXPECT_GE(list.count, 3) << "one value at most is missing";
        freeClasspathList(&list);
    });
    EXPECT_TRUE(errors.count("! ProcessClasspathProperties: unable to allocate 8 byte(s) for buffer"));
    EXPECT_TRUE(errors.count("! ProcessClasspathProperties: unable to allocate 15 byte(s) for entry"));
    for (const std::string& line : errors)
        EXPECT_EQ(line.find("SearchExtensions"), std::string::npos) << line;
}

TEST_F(Classpath, PatternsAgainstTheClasspathVariable) {
    EnvironmentValue classpath("CLASSPATH", "C:/a/foo.jar;;D:\\b\\Bar.jar;E:\\c\\bar.jar");
    struct Case {
        const wchar_t* value;
        std::vector<std::string> expected;
    } cases[] = {
        {L"classpath:bar.jar", {"D:\\b\\Bar.jar"}},
        {L"ClassPath:a/FOO.jar", {"C:\\a\\foo.jar"}},
        {L"classpath:missing.jar", {}},
    };
    for (const Case& c : cases) {
        ResetLauncherState();
        copyPath(rootDirectory, root().c_str());
        launcherProperties.setProperty(L"classpath.append.1", c.value);
        TraceCapture trace;
        EXPECT_EQ(added(), c.expected);
        EXPECT_TRUE(trace.has(
            "- GetEntryFromSystemClasspath: CLASSPATH = \"C:/a/foo.jar;;D:\\b\\Bar.jar;E:\\c\\bar.jar\""));
        EXPECT_TRUE(trace.has("- GetEntryFromSystemClasspath: entry = \"C:\\a\\foo.jar\""));
    }
    HeapString direct(GetEntryFromSystemClasspath("BAR.JAR"));
    ASSERT_TRUE(direct);
    EXPECT_STREQ(direct.get(), "D:\\b\\Bar.jar");
}

TEST_F(Classpath, PatternWithoutClasspathVariable) {
    EnvironmentValue classpath("CLASSPATH", nullptr);
    TraceCapture trace;
    launcherProperties.setProperty(L"classpath.append.1", L"classpath:foo.jar");
    launcherProperties.setProperty(L"classpath.append.2", L"after.jar");
    EXPECT_EQ(added(), std::vector<std::string>{root() + "after.jar"});
    EXPECT_TRUE(trace.has("- GetEntryFromSystemClasspath: CLASSPATH = NIL"));
    EXPECT_TRUE(trace.has("< GetEntryFromSystemClasspath: return ( NIL )"));
}

TEST_F(Classpath, UnreadableExtensionFileIsSkipped) {
    CreateDirectoryA((root() + "classes").c_str(), nullptr);
    CreateDirectoryA((root() + "classes\\extensions").c_str(), nullptr);
    CreateDirectoryA((root() + "classes\\extensions\\dir.KVOExt").c_str(), nullptr);
    extension("z.KVOExt", "classpath.append.1=z.jar\n");
    TraceCapture trace;
    EXPECT_EQ(added(), std::vector<std::string>{root() + "z.jar"});
    bool reported = false;
    for (const std::string& line : trace.lines())
        reported |= line.rfind("- SearchExtensions: unable to open file \"" + root() +
                                   "classes\\extensions\\dir.KVOExt\"; rc = X'",
                               0) == 0;
    EXPECT_TRUE(reported);
    EXPECT_TRUE(trace.has("- SearchExtensions: extension file name = \"" + root() +
                          "classes\\extensions\\z.KVOExt\""));
}

TEST_F(Classpath, PathsAreCutAt259Characters) {
    std::string longRoot = "C:\\" + std::string(240, 'r') + "\\";  // 244 characters
    copyPath(rootDirectory, longRoot.c_str());
    launcherProperties.setProperty(L"classpath.append.1", L"lib/a-very-long-archive-name.jar");
    std::vector<std::string> all = split(take(BuildClasspath()));
    ASSERT_EQ(all.size(), 16u);
    EXPECT_EQ(all[2], longRoot + "classes\\VrnLibs") << "244 + 15 characters";
    EXPECT_EQ(all[15], longRoot + "lib\\a-very-long");
    for (const std::string& entry : all)
        EXPECT_LE(entry.size(), 259u);
}

TEST_F(Classpath, LibraryPath) {
    copyPath(jniDirectory, "C:\\Prod\\jni\\");
    copyPath(binDirectory, "C:\\Prod\\bin\\");
    {
        EnvironmentValue path("PATH", nullptr);
        TraceCapture trace;
        EXPECT_EQ(take(BuildLibraryPath()), "C:\\Prod\\jni;C:\\Prod\\bin");
        EXPECT_TRUE(trace.has("< BuildLibraryPath: return ( \"C:\\Prod\\jni;C:\\Prod\\bin\" )"));
    }
    {
        EnvironmentValue path("PATH", "C:\\windows;D:\\tools");
        TraceCapture trace;
        EXPECT_EQ(take(BuildLibraryPath()), "C:\\Prod\\jni;C:\\Prod\\bin;C:\\windows;D:\\tools");
        EXPECT_TRUE(trace.has("- BuildLibraryPath: PATH = \"C:\\windows;D:\\tools\""));
    }
}

TEST_F(Classpath, ProtocolHandlers) {
    TraceCapture trace;
    const std::string expected =
        "sun.net.www.protocol|com.sun.net.ssl.internal.www.protocol|com.orvane.kvo.viviv|org.apache.axis."
        "transport";
    EXPECT_EQ(take(BuildProtocolHandler()), expected);
    EXPECT_TRUE(trace.has("> BuildProtocolHandler"));
    EXPECT_TRUE(trace.has("< BuildProtocolHandler: return ( \"" + expected + "\" )"));
}
