// Process environment and JVM hooks: dump variables, processor affinity, locale, quit messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "classpath.h"
#include "java_arguments.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"
#include "launcher_test_support.h"
#include "locale_map.h"

using namespace kvo;
using namespace kvo::launcher;

using kvotest::ResetLauncherState;
using kvotest::TraceCapture;

namespace {

std::string processValue(const char* name) {
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string("<unset>");
}

}  // namespace

TEST(Environment, DumpVariablesInBothEnvironments) {
    ResetLauncherState();
    copyPath(logDirectory, "C:\\Prod\\log\\");
    _putenv("ZAL_HEAPDUMP=false");
    TraceCapture trace;
    SetEnvironmentVariables();
    struct Case {
        const char* name;
        const char* value;
    } cases[] = {
        {"JAVA_DUMP_OPTS", "ONANYSIGNAL(JAVADUMP),ONINTERRUPT(NONE)"},
        {"ZAL_HEAPDUMP", "true"},  // an earlier value is overwritten
        {"ZAL_HEAPDUMPDIR", "C:\\Prod\\log\\"},
        {"ZAL_HEAPDUMP_OUTOFMEMORY", "true"},
        {"ZAL_JAVADUMP", "true"},
        {"ZAL_JAVACOREDIR", "C:\\Prod\\log\\"},
        {"ZAL_JAVADUMP_OUTOFMEMORY", "true"},
    };
    for (const Case& c : cases) {
        const char* library = std::getenv(c.name);
        EXPECT_STREQ(library ? library : "<unset>", c.value) << c.name;
        EXPECT_EQ(processValue(c.name), c.value) << c.name;
    }
    EXPECT_EQ(trace.lines(),
              (std::vector<std::string>{"> SetEnvironmentVariables", "< SetEnvironmentVariables"}));
}

namespace {

DWORD_PTR processMask() {
    DWORD_PTR process = 0, system = 0;
    EXPECT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    return process;
}

}  // namespace

TEST(Environment, BindToOneProcessor) {
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    // A process already limited to one processor is left alone.
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), 0x1));
    BindToOneProcessor();
    EXPECT_EQ(processMask(), static_cast<DWORD_PTR>(0x1));

    if ((system & 0x3) == 0x3) {
        ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), 0x3));
        BindToOneProcessor();
        DWORD_PTR bound = processMask();
        EXPECT_TRUE(bound == 0x1 || bound == 0x2) << bound;
    }
    SetProcessAffinityMask(GetCurrentProcess(), process);
}

TEST(Environment, GetLocaleFollowsTheSystemLanguage) {
    TraceCapture trace;
    const char* language = nullptr;
    const char* region = nullptr;
    GetLocale(&language, &region);
    const char* expectedLanguage = nullptr;
    const char* expectedRegion = nullptr;
    localeForLanguageId(GetSystemDefaultLangID(), &expectedLanguage, &expectedRegion);
    EXPECT_STREQ(language, expectedLanguage);
    EXPECT_STREQ(region, expectedRegion);
    // KVO_EXPECT_LOCALE is set when the test runs under a chosen LANG.
    if (const char* expected = std::getenv("KVO_EXPECT_LOCALE")) {
        EXPECT_EQ(std::string(language) + "_" + region, expected);
    }
    EXPECT_EQ(trace.lines(), (std::vector<std::string>{"> GetLocale", "< GetLocale"}));
}

namespace {

// The quit message the hooks post to the recorded main thread (this thread), or -1000.
long long quitCodeAfter(void (*post)()) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread has a queue from now on
    mainThreadId = GetCurrentThreadId();
    std::thread jvmThread(post);
    jvmThread.join();
    for (int i = 0; i < 100; ++i) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT && msg.lParam == 0)
                return static_cast<int>(msg.wParam);
        }
        Sleep(10);
    }
    return -1000;
}

}  // namespace

TEST(Hooks, ExitAndAbortPostQuitToTheMainThread) {
    TraceCapture trace;
    EXPECT_EQ(quitCodeAfter([] { JvmExit(3); }), 3);
    EXPECT_EQ(quitCodeAfter([] { JvmExit(-2); }), -2);
    EXPECT_EQ(quitCodeAfter([] { JvmAbort(); }), -13);
    EXPECT_EQ(trace.lines(), (std::vector<std::string>{"> JvmExit: code = X'3'", "< JvmExit",
                                                       "> JvmExit: code = X'FFFFFFFE'", "< JvmExit",
                                                       "> JvmAbort", "< JvmAbort"}));
}
