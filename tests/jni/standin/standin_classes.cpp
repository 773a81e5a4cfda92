#include "standin_classes.h"

#include "modified_utf8.h"
#include "standin_file_system.h"
#include "standin_record.h"

#include <windows.h>

#include <io.h>

#include <cstdlib>
#include <optional>
#include <thread>

namespace kvostandin {

void writeOut(const std::u16string& text) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(1));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = kvojni::toStandardUtf8(text);
    _write(1, bytes.data(), static_cast<unsigned>(bytes.size()));
}

void writeOut(const std::string& ascii) {
    writeOut(std::u16string(ascii.begin(), ascii.end()));
}

namespace {

constexpr const char* kMainSignature = "([Ljava/lang/String;)V";
constexpr const char* kConsoleClass = "com/orvane/console/ConsoleLauncher";

using Args = std::vector<std::optional<std::string>>;  // modified UTF-8; nullopt for a null element

Hooks g_hooks;

std::u16string decode(const std::string& modifiedUtf8) {
    std::u16string units;
    kvojni::fromModifiedUtf8(modifiedUtf8, units);
    return units;
}

void writeErr(const std::string& ascii) {
    _write(2, ascii.data(), static_cast<unsigned>(ascii.size()));
}

// Appends a line to a file named by a (modified UTF-8) argument.
void appendToFile(const std::string& modifiedUtf8Path, const std::string& line) {
    const std::u16string path = decode(modifiedUtf8Path);
    const HANDLE file =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), FILE_APPEND_DATA,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

unsigned graceMilliseconds() {
    return static_cast<unsigned>(
        std::strtoul(environment("KVO_STANDIN_HOOK_GRACE_MS", "10000").c_str(), nullptr, 10));
}

// After a hook returned, a JVM would end the process itself; the stand-in leaves that to the
// launcher (whose hook posts the quit message) and reports a launcher that does not do it.
[[noreturn]] void waitForProcessEnd(const char* hook) {
    Sleep(graceMilliseconds());
    writeErr(std::string("stand-in JVM: the process did not end after the ") + hook + " hook\n");
    record("timeout", hook);
    ExitProcess(125);
}

void printArgs(JNIEnv*, const Args& args) {
    for (const auto& arg : args)
        writeOut(arg ? decode(*arg) + u"\n" : u"null\n");
}

// As a JVM whose streams are bound to the Win32 standard handles writes.
void printThroughHandles(JNIEnv*, const Args& args) {
    for (size_t i = 0; i < args.size() && i < 2; ++i) {
        const std::string line = (args[i] ? *args[i] : std::string("null")) + "\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(i == 0 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), line.data(),
                  static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

void callExit(JNIEnv*, const Args& args) {
    const jint code =
        args.size() > 0 && args[0] ? static_cast<jint>(std::strtol(args[0]->c_str(), nullptr, 10)) : 0;
    const bool onCaller = args.size() > 1 && args[1] && *args[1] == "caller";
    record("exit", std::to_string(code));
    if (!g_hooks.exitHook)
        ExitProcess(static_cast<UINT>(code));
    if (onCaller) {
        g_hooks.exitHook(code);
    } else {
        // As in a JVM, the hook runs on the VM's own thread while the calling thread waits.
        std::thread([code] { g_hooks.exitHook(code); }).detach();
    }
    waitForProcessEnd("exit");
}

void callAbort(JNIEnv*, const Args&) {
    record("abort", "");
    if (!g_hooks.abortHook)
        ExitProcess(3);
    std::thread([] { g_hooks.abortHook(); }).detach();
    waitForProcessEnd("abort");
}

void throwFromMain(JNIEnv* env, const Args&) {
    kvojni::Vm::of(env).throwException(
        "java/lang/IllegalStateException", "thrown by kvo.demo.Throw",
        {"kvo.demo.Throw.fail(Throw.java:21)", "kvo.demo.Throw.main(Throw.java:12)"});
}

void startWorker(JNIEnv* env, const Args& args) {
    const std::optional<std::string> marker = args.empty() ? std::nullopt : args[0];
    kvojni::Vm::of(env).startThread("worker", false, [marker](JNIEnv*) {
        Sleep(500);
        if (marker)
            appendToFile(*marker, "worker finished\n");
        record("worker", "finished");
        writeOut("kvo.demo.NonDaemonThread: worker finished\n");
    });
    writeOut("kvo.demo.NonDaemonThread: main returns\n");
}

// A daemon thread that keeps running code of this library after main has returned and the JVM has
// been destroyed (DestroyJavaVM does not wait for daemons), until the process ends.
volatile unsigned long daemonRounds = 0;

void startDaemon(JNIEnv* env, const Args& args) {
    const std::optional<std::string> marker = args.empty() ? std::nullopt : args[0];
    kvojni::Vm::of(env).startThread("daemon", true, [marker](JNIEnv*) {
        if (marker)
            appendToFile(*marker, "daemon running\n");
        record("daemon", "running");
        for (;;) {
            for (int i = 0; i < 100000; ++i)
                daemonRounds = daemonRounds + 1;
            Sleep(0);
        }
    });
    writeOut("kvo.demo.DaemonThread: main returns\n");
}

[[noreturn]] void runForever(JNIEnv*, const Args& args) {
    if (!args.empty() && args[0])
        appendToFile(*args[0], "running\n");
    writeOut("kvo.demo.RunForever: running\n");
    for (;;)
        Sleep(1000);
}

struct Behaviour {
    const char* cls;
    void (*run)(JNIEnv*, const Args&);
};

const Behaviour kBehaviours[] = {
    {"kvo/demo/PrintArgs", printArgs},
    {"kvo/demo/PrintThroughHandles", printThroughHandles},
    {"kvo/demo/Exit", callExit},
    {"kvo/demo/Abort", callAbort},
    {"kvo/demo/Throw", throwFromMain},
    {"kvo/demo/NonDaemonThread", startWorker},
    {"kvo/demo/DaemonThread", startDaemon},
    {"kvo/demo/RunForever", runForever},
};

std::string dotted(std::string name) {
    for (char& c : name)
        if (c == '/')
            c = '.';
    return name;
}

// Reads main's String[] through the JNI, as a Java method sees it, and records it.
Args readArgs(JNIEnv* env, const std::string& cls, jobject array) {
    Args args;
    const jsize n = array ? env->GetArrayLength(static_cast<jarray>(array)) : 0;
    record("main", dotted(cls) + " " + std::to_string(n));
    for (jsize i = 0; i < n; ++i) {
        jstring s = static_cast<jstring>(env->GetObjectArrayElement(static_cast<jobjectArray>(array), i));
        if (!s) {
            record("nullarg", std::to_string(i));
            args.push_back(std::nullopt);
            continue;
        }
        const char* chars = env->GetStringUTFChars(s, nullptr);
        args.emplace_back(chars);
        record("arg", std::to_string(i) + " " + chars);
        env->ReleaseStringUTFChars(s, chars);
        env->DeleteLocalRef(s);
    }
    return args;
}

kvojni::StaticMethod mainOf(const Behaviour& b) {
    return [b](JNIEnv* env, jclass, const std::vector<jvalue>& params) {
        b.run(env, readArgs(env, b.cls, params[0].l));
    };
}

// The console class: the behaviour whose dotted class name is the first argument, else PrintArgs.
void consoleMain(JNIEnv* env, jclass, const std::vector<jvalue>& params) {
    Args args = readArgs(env, kConsoleClass, params[0].l);
    if (!args.empty() && args[0]) {
        for (const Behaviour& b : kBehaviours) {
            if (*args[0] == dotted(b.cls)) {
                args.erase(args.begin());
                b.run(env, args);
                return;
            }
        }
    }
    printArgs(env, args);
}

}  // namespace

void defineBuiltInClasses(kvojni::Vm& vm, const Hooks& hooks) {
    g_hooks = hooks;
    for (const Behaviour& b : kBehaviours) {
        vm.defineClass(b.cls);
        vm.addStaticMethod(b.cls, "main", kMainSignature, mainOf(b));
    }
    defineFileSystemClasses(vm);
    vm.defineClass("kvo/demo/NoMain");
    vm.addStaticMethod("kvo/demo/NoMain", "run", "()V", [](JNIEnv*, jclass, const std::vector<jvalue>&) {});

    const std::string console = environment("KVO_STANDIN_CONSOLE");
    if (console != "missing") {
        vm.defineClass(kConsoleClass);
        if (console != "nomain")
            vm.addStaticMethod(kConsoleClass, "main", kMainSignature, consoleMain);
    }
}

}  // namespace kvostandin
