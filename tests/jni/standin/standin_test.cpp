// The stand-in jvm.dll, loaded as a launcher loads it: the record of its init arguments, the
// built-in classes and the hooks.
#include "capture_output.h"

#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);

// The path of jvm.dll: the test program's first argument that is not a GoogleTest flag.
std::string standInPath() {
    for (const std::string& arg : ::testing::internal::GetArgvs())
        if (arg.size() > 4 && arg.compare(arg.size() - 4, 4, ".dll") == 0)
            return arg;
    return "jvm.dll";
}

CreateJavaVM loadStandIn() {
    const HMODULE dll = LoadLibraryA(standInPath().c_str());
    if (!dll)
        return nullptr;
    return reinterpret_cast<CreateJavaVM>(reinterpret_cast<void*>(GetProcAddress(dll, "JNI_CreateJavaVM")));
}

DWORD g_mainThread = 0;

void JNICALL exitHook(jint code) {
    // Ends the process with the code when the hook ran on a thread of the VM's own, else with 99.
    ExitProcess(GetCurrentThreadId() != g_mainThread ? static_cast<UINT>(code) : 99);
}
void JNICALL exitHookOnCaller(jint code) {
    ExitProcess(GetCurrentThreadId() == g_mainThread ? static_cast<UINT>(code) : 98);
}
void JNICALL abortHook() {
    ExitProcess(13);
}
void JNICALL idleExitHook(jint) {}

struct Created {
    jint result = JNI_ERR;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
};

Created create(std::vector<JavaVMOption> options) {
    g_mainThread = GetCurrentThreadId();
    Created c;
    const CreateJavaVM createJavaVM = loadStandIn();
    if (!createJavaVM)
        return c;
    JavaVMInitArgs args;
    args.version = JNI_VERSION_1_2;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_TRUE;
    c.result = createJavaVM(&c.vm, reinterpret_cast<void**>(&c.env), &args);
    return c;
}

JavaVMOption option(const char* text, void* extra = nullptr) {
    return JavaVMOption{const_cast<char*>(text), extra};
}

jobjectArray stringArray(JNIEnv* env, const std::vector<const char*>& items) {
    jobjectArray array =
        env->NewObjectArray(static_cast<jsize>(items.size()), env->FindClass("java/lang/String"), nullptr);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i])
            env->SetObjectArrayElement(array, static_cast<jsize>(i), env->NewStringUTF(items[i]));
    return array;
}

// Runs main of a class; false when the class or its main is missing (the error is then cleared).
bool runMain(JNIEnv* env, const char* cls, const std::vector<const char*>& args) {
    jclass k = env->FindClass(cls);
    if (!k) {
        env->ExceptionClear();
        return false;
    }
    jmethodID main = env->GetStaticMethodID(k, "main", "([Ljava/lang/String;)V");
    if (!main) {
        env->ExceptionClear();
        return false;
    }
    env->CallStaticVoidMethod(k, main, stringArray(env, args));
    return true;
}

class StandIn : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableA("KVO_STANDIN_RECORD", scratch.file("record.txt").c_str());
        SetEnvironmentVariableA("KVO_STANDIN_CREATE_RESULT", nullptr);
    }
    std::string record() { return kvotest::readFile(scratch.file("record.txt")); }
    kvotest::ScratchDir scratch{"sti"};
};

TEST_F(StandIn, ExportsTheEntryPointByItsPlainName) {
    EXPECT_NE(loadStandIn(), nullptr);
}

// One VM per process: its whole life is one test.
TEST_F(StandIn, RecordsItsInitArgumentsAndRunsTheBuiltInClasses) {
    SetEnvironmentVariableA("KVO_STANDIN_CREATE_RESULT", "-1");
    EXPECT_EQ(create({option("-Xrs")}).result, -1);
    EXPECT_EQ(record(),
              "version 0x00010002\nignoreUnrecognized 1\nnOptions 1\noption -Xrs\n"
              "hook abort absent\nhook exit absent\ncreate -1\n");
    SetEnvironmentVariableA("KVO_STANDIN_CREATE_RESULT", nullptr);

    Created vm = create({option("abort", reinterpret_cast<void*>(&abortHook)),
                         option("exit", reinterpret_cast<void*>(&exitHook)),
                         option("-Djava.class.path=C:\\kvo\\lib\\a.jar;C:\\kvo\\classes"),
                         option("-Dtwo.lines=a\nb"), option("-Djava.compiler=")});
    ASSERT_EQ(vm.result, JNI_OK);
    JNIEnv* env = vm.env;
    EXPECT_EQ(record(),
              "version 0x00010002\nignoreUnrecognized 1\nnOptions 5\n"
              "option abort\noption exit\noption -Djava.class.path=C:\\kvo\\lib\\a.jar;C:\\kvo\\classes\n"
              "option -Dtwo.lines=a\\nb\noption -Djava.compiler=\n"
              "hook abort set\nhook exit set\ncreate 0\n");

    {
        kvotest::CapturedOutput output;
        EXPECT_TRUE(runMain(env, "kvo/demo/PrintArgs", {"plain", "caf\xC3\xA9 \xE6\x97\xA5", nullptr, ""}));
        EXPECT_TRUE(runMain(env, "com/orvane/console/ConsoleLauncher", {"console", "args"}));
        output.stop();
        EXPECT_EQ(output.out(), "plain\ncaf\xC3\xA9 \xE6\x97\xA5\nnull\n\nconsole\nargs\n");
    }
    EXPECT_NE(record().find("main kvo.demo.PrintArgs 4\narg 0 plain\narg 1 caf\xC3\xA9 \xE6\x97\xA5\n"
                            "nullarg 2\narg 3 \n"
                            "main com.orvane.console.ConsoleLauncher 2\narg 0 console\narg 1 args\n"),
              std::string::npos)
        << record();

    for (const char* cls : {"kvo/demo/Throw", "com/orvane/console/ConsoleLauncher"}) {
        kvotest::CapturedOutput output;
        EXPECT_TRUE(runMain(env, cls, {"kvo.demo.Throw"}));
        ASSERT_TRUE(env->ExceptionCheck()) << cls;
        env->ExceptionDescribe();
        output.stop();
        EXPECT_EQ(output.err(),
                  "Exception in thread \"main\" java.lang.IllegalStateException: thrown by kvo.demo.Throw\n"
                  "\tat kvo.demo.Throw.fail(Throw.java:21)\n\tat kvo.demo.Throw.main(Throw.java:12)\n")
            << cls;
    }

    EXPECT_FALSE(runMain(env, "kvo/demo/Unknown", {}));
    EXPECT_FALSE(runMain(env, "kvo.demo.PrintArgs", {}));  // dotted names are not found
    EXPECT_NE(env->FindClass("kvo/demo/NoMain"), nullptr);
    EXPECT_FALSE(runMain(env, "kvo/demo/NoMain", {}));

    // The non-daemon worker holds DestroyJavaVM up for about half a second, then writes its marker.
    const std::string marker = scratch.file("worker.txt");
    {
        kvotest::CapturedOutput output;
        EXPECT_TRUE(runMain(env, "kvo/demo/NonDaemonThread", {marker.c_str()}));
        EXPECT_FALSE(kvotest::fileExists(marker));
        EXPECT_EQ(vm.vm->DestroyJavaVM(), 0);
        output.stop();
        EXPECT_EQ(output.out(),
                  "kvo.demo.NonDaemonThread: main returns\nkvo.demo.NonDaemonThread: worker finished\n");
    }
    EXPECT_EQ(kvotest::readFile(marker), "worker finished\n");
    const std::string tail = "worker finished\ndestroy 0\n";
    EXPECT_EQ(record().substr(record().size() - tail.size()), tail);
}

struct HookCase {
    const char* what;
    const char* cls;
    std::vector<const char*> args;
    void(JNICALL* exit)(jint);
    int expectedCode;
    const char* stderrPattern;
};

TEST(StandInDeathTest, HooksEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SetEnvironmentVariableA("KVO_STANDIN_RECORD", nullptr);
    SetEnvironmentVariableA("KVO_STANDIN_HOOK_GRACE_MS", "200");
    const HookCase cases[] = {
        {"exit hook on a VM thread", "kvo/demo/Exit", {"3"}, exitHook, 3, ""},
        {"exit hook on the calling thread", "kvo/demo/Exit", {"7", "caller"}, exitHookOnCaller, 7, ""},
        {"console class as the exit class",
         "com/orvane/console/ConsoleLauncher",
         {"kvo.demo.Exit", "5"},
         exitHook,
         5,
         ""},
        {"abort hook", "kvo/demo/Abort", {}, exitHook, 13, ""},
        {"exit hook that leaves the process running",
         "kvo/demo/Exit",
         {"3"},
         idleExitHook,
         125,
         "did not end after the exit hook"},
    };
    for (const HookCase& c : cases) {
        EXPECT_EXIT(
            {
                Created vm = create({option("abort", reinterpret_cast<void*>(&abortHook)),
                                     option("exit", reinterpret_cast<void*>(c.exit))});
                runMain(vm.env, c.cls, c.args);
            },
            ::testing::ExitedWithCode(c.expectedCode), c.stderrPattern)
            << c.what;
    }
}

TEST(StandInDeathTest, RunForeverKeepsRunning) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    kvotest::ScratchDir scratch("stf");
    const std::string ready = scratch.file("ready.txt");
    SetEnvironmentVariableA("KVO_STANDIN_RECORD", nullptr);
    // The class never returns: a watchdog ends the process once the class said it runs.
    EXPECT_EXIT(
        {
            std::thread([ready] {
                for (int i = 0; i < 500 && !kvotest::fileExists(ready); ++i)
                    Sleep(10);
                Sleep(300);
                ExitProcess(kvotest::fileExists(ready) ? 42 : 1);
            }).detach();
            Created vm = create({});
            runMain(vm.env, "kvo/demo/RunForever", {ready.c_str()});
            ExitProcess(2);  // main returned: wrong
        },
        ::testing::ExitedWithCode(42), "");
}

}  // namespace
