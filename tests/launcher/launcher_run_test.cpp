// Whole launcher runs in the test's own process (runLauncher, the program sources without their entry
// point): a product tree in a scratch directory, a JVM made of the JNI double behind the seam's
// LoadLibrary and GetProcAddress, and the calls whose failures only a seam can provoke. Shows each
// exit code, the behaviour of each of the four programs, and the outcome of a failed allocation at
// each allocation of a launcher start.
#include <windows.h>

#include <gtest/gtest.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "capture_output.h"
#include "documented_code_page.h"
#include "exit_codes.h"
#include "heap_failure.h"
#include "jni_double.h"
#include "launcher_main.h"
#include "launcher_threads.h"
#include "launcher_test_support.h"
#include "os_calls.h"
#include "seam.h"
#include "state.h"
#include "test_files.h"
#include "variant.h"

using namespace kvo::launcher;

using kvotest::CapturedOutput;
using kvotest::fileExists;
using kvotest::readFile;
using kvotest::ScratchDir;
using kvotest::writeTree;

namespace {

// --- The JVM: the JNI double behind JNI_CreateJavaVM ----------------------------------------------

namespace jvm {

std::unique_ptr<kvojni::Vm> vm;
std::vector<std::string> options;                                      // as handed to JNI_CreateJavaVM
std::optional<std::vector<std::optional<std::string>>> mainArguments;  // set when main ran
jint createResult = JNI_OK;
bool failArgumentArray = false;  // the JVM cannot allocate main's String[]

void recordMain(JNIEnv* env, jclass, const std::vector<jvalue>& params) {
    kvojni::Vm& self = kvojni::Vm::of(env);
    auto array = static_cast<jobjectArray>(params[0].l);
    std::vector<std::optional<std::string>> arguments;
    for (jsize i = 0; i < self.arrayLength(array); ++i)
        arguments.push_back(self.stringElement(array, i));
    mainArguments = arguments;
    const char text[] = "main ran\n";
    _write(1, text, sizeof text - 1);
}

void throwFromMain(JNIEnv* env, jclass, const std::vector<jvalue>&) {
    kvojni::Vm::of(env).throwException("java/lang/IllegalStateException", "thrown by kvo.test.Throw",
                                       {"kvo.test.Throw.main(Throw.java:3)"});
}

// The console class: throws when its first argument is "kvo.test.Throw", else records as Main does.
void consoleMain(JNIEnv* env, jclass cls, const std::vector<jvalue>& params) {
    kvojni::Vm& self = kvojni::Vm::of(env);
    auto array = static_cast<jobjectArray>(params[0].l);
    if (self.arrayLength(array) > 0 &&
        self.stringElement(array, 0) == std::optional<std::string>("kvo.test.Throw"))
        throwFromMain(env, cls, params);
    else
        recordMain(env, cls, params);
}

jint JNICALL createJavaVM(JavaVM** pvm, void** penv, void* initArgs) {
    const auto* args = static_cast<const JavaVMInitArgs*>(initArgs);
    options.clear();
    for (jint i = 0; i < args->nOptions; ++i)
        options.emplace_back(args->options[i].optionString);
    if (createResult != JNI_OK)
        return createResult;
    vm = std::make_unique<kvojni::Vm>();  // the calling thread, the launcher's worker, is its main thread
    vm->defineClass("kvo/test/Main");
    vm->addStaticMethod("kvo/test/Main", "main", "([Ljava/lang/String;)V", recordMain);
    vm->defineClass("kvo/test/Throw");
    vm->addStaticMethod("kvo/test/Throw", "main", "([Ljava/lang/String;)V", throwFromMain);
    vm->defineClass("kvo/test/NoMain");
    vm->defineClass("kvo/test/M\xc3\xa4in");  // "kvo.test.Main" with a-umlaut
    vm->addStaticMethod("kvo/test/M\xc3\xa4in", "main", "([Ljava/lang/String;)V", recordMain);
    vm->defineClass("com/orvane/console/ConsoleLauncher");
    vm->addStaticMethod("com/orvane/console/ConsoleLauncher", "main", "([Ljava/lang/String;)V", consoleMain);
    if (failArgumentArray)
        vm->failAllocation(1);
    *pvm = vm->javaVm();
    *penv = vm->env();
    return JNI_OK;
}

void reset() {
    vm.reset();
    options.clear();
    mainArguments.reset();
    createResult = JNI_OK;
    failArgumentArray = false;
}

bool hasOption(const std::string& option) {
    for (const std::string& o : options)
        if (o == option)
            return true;
    return false;
}

std::string optionStartingWith(const std::string& prefix) {
    for (const std::string& o : options)
        if (o.rfind(prefix, 0) == 0)
            return o;
    return "<none>";
}

}  // namespace jvm

// --- Stand-ins of the seam ------------------------------------------------------------------------

std::string programPath;  // local code page: GetModuleFileNameW reports its wide form
HMODULE const kJvmLibrary = reinterpret_cast<HMODULE>(0x4A560000);
int freedLibraries = 0;

LONG WINAPI noProductKey(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) {
    return ERROR_FILE_NOT_FOUND;
}

DWORD WINAPI programInTree(HMODULE, LPWSTR buffer, DWORD size) {
    lstrcpynW(buffer, kvotest::toWide(programPath, CP_ACP).c_str(), static_cast<int>(size));
    return static_cast<DWORD>(std::wcslen(buffer));
}

std::string loadedLibrary;  // the path LoadLibraryExA was given, with its flags
DWORD loadFlags = 0;

HMODULE WINAPI loadJvm(LPCSTR path, HANDLE, DWORD flags) {
    loadedLibrary = path;
    loadFlags = flags;
    return kJvmLibrary;
}

// The library search path: what it was set to, and whether that works.
std::optional<std::string> libraryDirectory;
BOOL libraryDirectorySet = TRUE;

BOOL WINAPI noteLibraryDirectory(LPCSTR directory) {
    libraryDirectory = directory != nullptr ? directory : "<null>";
    SetLastError(ERROR_INVALID_PARAMETER);
    return libraryDirectorySet;
}

FARPROC WINAPI jvmEntryPoint(HMODULE module, LPCSTR name) {
    if (module == kJvmLibrary && std::strcmp(name, "JNI_CreateJavaVM") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&jvm::createJavaVM));
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI freeJvm(HMODULE) {
    ++freedLibraries;
    return TRUE;
}

HMODULE WINAPI noLibrary(LPCSTR, HANDLE, DWORD) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// A program path longer than the buffer, as documented since Windows Vista: cut to the buffer, its
// size returned and ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI programPathCut(HMODULE, LPWSTR buffer, DWORD size) {
    lstrcpynW(buffer, (L"C:\\" + std::wstring(300, L'p') + L"\\bin\\kvocli.exe").c_str(),
              static_cast<int>(size));
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

// A program folder whose name the ANSI code page (1252) holds only by best fit, as "C:\\Omega\\".
DWORD WINAPI programPathInexact(HMODULE, LPWSTR buffer, DWORD size) {
    lstrcpynW(buffer, L"C:\\\u03A9mega\\bin\\kvocli.exe", static_cast<int>(size));
    return static_cast<DWORD>(std::wcslen(buffer));
}

FARPROC WINAPI noEntryPoint(HMODULE, LPCSTR) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

ATOM WINAPI classAlreadyThere(const WNDCLASSEXA*) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
}

HWND WINAPI noWindow(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

uintptr_t __cdecl noThread(void(__cdecl*)(void*), unsigned, void*) {
    errno = EAGAIN;
    return static_cast<uintptr_t>(-1);
}

BOOL WINAPI windowStays(HWND window) {
    ::DestroyWindow(window);  // gone all the same, so that the class can be unregistered
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

BOOL WINAPI classStays(LPCSTR name, HINSTANCE instance) {
    ::UnregisterClassA(name, instance);
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
}

// A current directory whose local form needs more than the 260 bytes offered: nothing is written.
DWORD WINAPI directoryTooLong(DWORD, LPSTR) {
    return 300;
}

// "shutdown" reaches the windows of every process on the desktop: the tests only note the request.
WNDENUMPROC enumeratedWith = nullptr;
LPARAM enumeratedMessage = 0;

BOOL WINAPI noteEnumeration(WNDENUMPROC callback, LPARAM message) {
    enumeratedWith = callback;
    enumeratedMessage = message;
    return TRUE;
}

// --- The fixture ---------------------------------------------------------------------------------

struct Outcome {
    int exitCode;
    std::string out, err;
    std::vector<std::string> trace;  // "<tag> <text>" lines of the program's trace log

    bool traced(const std::string& line) const {
        for (const std::string& l : trace)
            if (l == line)
                return true;
        return false;
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> lines;
        for (const std::string& l : trace)
            if (l.rfind("! ", 0) == 0)
                lines.push_back(l);
        return lines;
    }
};

// Removes what the previous run left in this thread's queue (the quit message the window procedure
// posts when the window is destroyed after the loop).
void drainMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

class LauncherRun : public ::testing::Test {
public:
    void SetUp() override {
        kvotest::ResetLauncherState();
        setCurrentVariant(VariantId::Kvocli);
        jvm::reset();
        freedLibraries = 0;
        root_ = dir_.path();
        for (const char* sub : {"bin", "data", "log", "classes", "classes\\extensions", "proddata"})
            CreateDirectoryA((root_ + sub).c_str(), nullptr);
        programPath = root_ + "bin\\kvocli.exe";
        libraryDirectory.reset();
        libraryDirectorySet = TRUE;
        loadedLibrary.clear();
        char directory[MAX_PATH];
        GetCurrentDirectoryA(sizeof directory, directory);
        workingDirectory_ = directory;
    }
    void TearDown() override {
        SetCurrentDirectoryA(workingDirectory_.c_str());
        jvm::reset();
        kvotest::ResetLauncherState();
    }

    std::string path(const std::string& relative) const { return root_ + relative; }

    // Moves the product tree to root (wide, ending with a backslash), which is created.
    void useRoot(const std::wstring& root) {
        CreateDirectoryW(root.c_str(), nullptr);
        for (const wchar_t* sub : {L"bin", L"data", L"log", L"classes", L"classes\\extensions", L"proddata"})
            CreateDirectoryW((root + sub).c_str(), nullptr);
        root_ = local(root);
        programPath = root_ + "bin\\kvocli.exe";
    }

    static std::string local(const std::wstring& text) {
        std::string bytes(text.size() * 2 + 1, '\0');
        const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &bytes[0],
                                          static_cast<int>(bytes.size()), nullptr, nullptr);
        bytes.resize(n > 0 ? n - 1 : 0);
        return bytes;
    }

    // Runs the launcher with the arguments (local code page) on its command line, each quoted when it
    // holds a space; the log is named after the class (or the console class).
    Outcome run(const std::vector<std::string>& arguments) {
        std::wstring line;
        for (const std::string& a : arguments) {
            const std::wstring wide = kvotest::toWide(a, CP_ACP);
            line += (line.empty() ? L"" : L" ") +
                    (wide.find(L' ') != std::wstring::npos ? L"\"" + wide + L"\"" : wide);
        }
        return runLine(line, arguments.size() > 1 ? arguments[1] : "none");
    }

    // Runs the launcher with the command line; className: the class as the log's name has it.
    Outcome runLine(const std::wstring& commandLine, const std::string& className) {
        drainMessages();
        Outcome outcome{};
        {
            CapturedOutput output;
            outcome.exitCode = runLauncher(commandLine.c_str());
            output.stop();
            outcome.out = output.out();
            outcome.err = output.err();
        }
        drainMessages();
        const bool console = currentVariant().isConsole();
        const std::string program = console ? kConsoleLauncherClass : className;
        const std::string log = path("log\\" + program + ".log");
        if (fileExists(log)) {
            outcome.trace = kvotest::traceLines(log);
            DeleteFileA(log.c_str());
        }
        return outcome;
    }

    void fullTrace(const char* stem = "kvocli") {
        kvotest::writeFile(path(std::string("log\\") + stem + ".dbg"), "");
    }

protected:
    ScratchDir dir_{"run"};
    std::string root_;
    std::string workingDirectory_;
    // The product key is never read; the program lives in the scratch tree; the JVM is the double.
    kvo::Replacement<decltype(os.RegOpenKeyExA)> noKey_ = kvo::replace(os.RegOpenKeyExA, noProductKey);
    kvo::Replacement<decltype(os.GetModuleFileNameW)> inTree_ =
        kvo::replace(os.GetModuleFileNameW, programInTree);
    kvo::Replacement<decltype(os.LoadLibraryExA)> load_ = kvo::replace(os.LoadLibraryExA, loadJvm);
    kvo::Replacement<decltype(os.SetDllDirectoryA)> search_ =
        kvo::replace(os.SetDllDirectoryA, noteLibraryDirectory);
    kvo::Replacement<decltype(os.GetProcAddress)> entry_ = kvo::replace(os.GetProcAddress, jvmEntryPoint);
    kvo::Replacement<decltype(os.FreeLibrary)> free_ = kvo::replace(os.FreeLibrary, freeJvm);
    kvo::Replacement<decltype(os.EnumWindows)> enumerate_ = kvo::replace(os.EnumWindows, noteEnumeration);
};

const char* const kMain = "kvo.test.Main";

}  // namespace

// --- Exit codes ----------------------------------------------------------------------------------

namespace {

struct ExitCase {
    const char* what;
    Outcome (*run)(LauncherRun& test, const std::vector<std::string>& arguments);
    int exitCode;
    std::vector<std::string> errorLines;  // the error lines of the trace log, in order
    std::string err = "";                 // what standard error says, when not empty
};

Outcome plainRun(LauncherRun& t, const std::vector<std::string>& a) {
    return t.run(a);
}
Outcome withoutWindowClass(LauncherRun& t, const std::vector<std::string>& a) {
    const auto stand = kvo::replace(os.RegisterClassExA, classAlreadyThere);
    return plainRun(t, a);
}
Outcome withoutWindow(LauncherRun& t, const std::vector<std::string>& a) {
    const auto stand = kvo::replace(os.CreateWindowExA, noWindow);
    return plainRun(t, a);
}
Outcome withoutThread(LauncherRun& t, const std::vector<std::string>& a) {
    const auto stand = kvo::replace(os._beginthread, noThread);
    return plainRun(t, a);
}
Outcome withoutLibrary(LauncherRun& t, const std::vector<std::string>& a) {
    const auto stand = kvo::replace(os.LoadLibraryExA, noLibrary);
    return plainRun(t, a);
}
Outcome withProgramPathCut(LauncherRun& t, const std::vector<std::string>& a) {
    const auto stand = kvo::replace(os.GetModuleFileNameW, programPathCut);
    return plainRun(t, a);
}
Outcome withProgramPathInexact(LauncherRun& t, const std::vector<std::string>& a) {
    const auto stand = kvo::replace(os.GetModuleFileNameW, programPathInexact);
    return plainRun(t, a);
}
Outcome withoutEntryPoint(LauncherRun& t, const std::vector<std::string>& a) {
    const auto stand = kvo::replace(os.GetProcAddress, noEntryPoint);
    return plainRun(t, a);
}
Outcome withFailingCreate(LauncherRun& t, const std::vector<std::string>& a) {
    jvm::createResult = JNI_ENOMEM;
    return plainRun(t, a);
}
Outcome withoutArgumentArray(LauncherRun& t, const std::vector<std::string>& a) {
    jvm::failArgumentArray = true;
    return plainRun(t, a);
}

}  // namespace

using LauncherExitCodes = LauncherRun;

TEST_F(LauncherExitCodes, EachFailedCallHasItsCodeAndItsTraceLine) {
    const std::string library = path("jre\\bin\\classic\\jvm.dll");
    const std::string noLibraryLine = "! JavaThread: unable to load library \"" + library + "\"; rc = X'7E'";
    const std::string kProgramPathCutLine = "LoadSettings: unable to get program file name; rc = X'7A'\n";
    const std::string noEntryLine =
        "! JavaThread: unable to get address of \"JNI_CreateJavaVM\" in library \"" + library +
        "\"; rc = X'7F'";
    const ExitCase cases[] = {
        {"window class",
         withoutWindowClass,
         kExitNoWindowClass,
         {"! main: unable to register window class; rc = X'582'"}},
        {"window", withoutWindow, kExitNoWindow, {"! main: unable to create window; rc = X'8'"}},
        {"thread", withoutThread, kExitNoThread, {"! main: unable to start thread; rc = X'B'"}},
        {"library", withoutLibrary, kExitNoLibrary, {noLibraryLine}},
        // No root without the whole program path: nothing is looked for, not even the trace log.
        {"program path cut", withProgramPathCut, kExitNoLibrary, {}, kProgramPathCutLine},
        {"program path inexact",
         withProgramPathInexact,
         kExitNoLibrary,
         {},
         "LoadSettings: program file name has no exact local form; rc = X'459'\n"},
        {"entry point", withoutEntryPoint, kExitNoEntryPoint, {noEntryLine}},
        {"JVM creation",
         withFailingCreate,
         kExitCreateFailed,
         {"! JavaThread: unable to create jvm; rc = X'FFFFFFFC'"}},
        {"argument array",
         withoutArgumentArray,
         kExitNoMemory,
         {"! NewStringArray: unable to allocate 1 element object array",
          "! JavaThread: unable to allocate string array"}},
        // After the failures above the window class is free again: each run unregistered it.
        {"none", plainRun, kExitOk, {}},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.what);
        jvm::reset();
        const Outcome outcome = c.run(*this, {"kvocli", kMain, "a"});
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.errors(), c.errorLines) << outcome.err;
        EXPECT_NE(outcome.err.find(c.err), std::string::npos) << outcome.err;
        if (c.exitCode == kExitOk) {
            ASSERT_TRUE(jvm::mainArguments.has_value());
            EXPECT_EQ(*jvm::mainArguments, (std::vector<std::optional<std::string>>{"a"}));
        } else {
            EXPECT_FALSE(jvm::mainArguments.has_value());
        }
    }
}

TEST_F(LauncherExitCodes, TraceLogObjectThatCannotBeAllocatedIsMinusTwoWithOnlyAMessage) {
    setCurrentVariant(VariantId::Kvocon);  // no class name to convert
    kvotest::FailAllocation failure(3);    // after the command line's two
    const Outcome outcome = run({"kvocon", kMain});
    EXPECT_TRUE(failure.reached());
    EXPECT_EQ(outcome.exitCode, kExitNoTraceLog);
    const std::string message = "unable to allocate RAS object\n";
    ASSERT_GE(outcome.err.size(), message.size());
    EXPECT_EQ(outcome.err.substr(outcome.err.size() - message.size()), message) << "the last word";
    EXPECT_TRUE(outcome.trace.empty());
    EXPECT_TRUE(jvm::options.empty()) << "nothing after the message";
}

TEST_F(LauncherExitCodes, FailuresOfTearDownAreTracedAndKeepTheCode) {
    fullTrace();
    const auto window = kvo::replace(os.DestroyWindow, windowStays);
    const auto windowClass = kvo::replace(os.UnregisterClassA, classStays);
    const Outcome outcome = run({"kvocli", kMain});
    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_TRUE(outcome.traced("- main: unable to destroy window; rc = X'5'"));
    EXPECT_TRUE(outcome.traced("- main: unable to unregister window class; rc = X'584'"))
        << ::testing::PrintToString(outcome.trace);
    EXPECT_TRUE(outcome.traced("< main: return ( X'0' )"));
}

TEST_F(LauncherExitCodes, JvmLibraryStaysLoadedOnceTheJvmWasCreated) {
    // DestroyJavaVM returns while daemon threads may still run code of the library: it is not unloaded
    // then (the process ends right after). A library whose JVM was never created is unloaded.
    run({"kvocli", kMain});
    EXPECT_EQ(freedLibraries, 0);
    jvm::createResult = JNI_ERR;
    run({"kvocli", kMain});
    EXPECT_EQ(freedLibraries, 0) << "JNI_CreateJavaVM was called: its threads may run";
    const auto missing = kvo::replace(os.GetProcAddress, noEntryPoint);
    EXPECT_EQ(run({"kvocli", kMain}).exitCode, kExitNoEntryPoint);
    EXPECT_EQ(freedLibraries, 1);
}

// --- What the four programs do -------------------------------------------------------------------

TEST_F(LauncherRun, EachProgramBehavesAsItsKind) {
    struct Case {
        VariantId id;
        const char* stem;
        bool console;
        bool windowed;
    } cases[] = {
        {VariantId::Kvocli, "kvocli", false, false},
        {VariantId::Kvojavaw, "kvojava", false, true},
        {VariantId::Kvoconw, "kvocon", true, true},
        {VariantId::Kvocon, "kvocon", true, false},
    };
    writeTree(path("classes\\extensions\\sub.KVOSubagent"), "classpath.append.1=sub.jar\n");
    for (const Case& c : cases) {
        setCurrentVariant(c.id);
        SCOPED_TRACE(variantFor(c.id).program);
        jvm::reset();
        SetCurrentDirectoryA(workingDirectory_.c_str());
        kvotest::writeFile(path(std::string("data\\") + c.stem + ".properties"), "jvm.heap.initial=33\n");
        kvotest::writeFile(path(std::string("log\\") + c.stem + ".dbg"), "");

        // Without arguments: the usage text, or the console class with no arguments.
        const Outcome bare = run({c.stem});
        if (c.console) {
            EXPECT_EQ(bare.exitCode, kExitOk);
            ASSERT_TRUE(jvm::mainArguments.has_value());
            EXPECT_TRUE(jvm::mainArguments->empty());
        } else {
            EXPECT_EQ(bare.exitCode, kExitUsage);
            EXPECT_EQ(bare.err, std::string(c.stem == std::string("kvocli") ? "KVOCLI" : "KVOJAVA") +
                                    " classname [arguments]\n");
        }

        // "shutdown" is a command of the console programs only; for the others it is a class name.
        jvm::reset();
        enumeratedWith = nullptr;
        const Outcome shutdown = run({c.stem, "SHUTDOWN", "ignored"});
        if (c.console) {
            EXPECT_EQ(shutdown.exitCode, kExitOk);
            EXPECT_EQ(enumeratedWith, EnumerateConsoleWindows);
            EXPECT_EQ(enumeratedMessage, static_cast<LPARAM>(WM_QUIT));
            EXPECT_TRUE(shutdown.trace.empty()) << "no trace log";
            EXPECT_TRUE(jvm::options.empty()) << "no JVM";
        } else {
            EXPECT_EQ(shutdown.exitCode, kExitNoClass);
            EXPECT_EQ(enumeratedWith, nullptr);
        }

        jvm::reset();
        const Outcome outcome = run({c.stem, kMain, "x"});
        EXPECT_EQ(outcome.exitCode, kExitOk);
        ASSERT_TRUE(jvm::mainArguments.has_value());
        // The console class gets every argument, a named class those after its name.
        EXPECT_EQ(*jvm::mainArguments, c.console ? (std::vector<std::optional<std::string>>{kMain, "x"})
                                                 : (std::vector<std::optional<std::string>>{"x"}));
        // Full detail through the program's own switch file; its own fallback properties file.
        EXPECT_TRUE(outcome.traced("- main: root directory = \"" + root_ + "\""));
        EXPECT_TRUE(jvm::hasOption("-Xms33m"));
        // Working directory: set by the console programs, only read by the others.
        char directory[MAX_PATH];
        GetCurrentDirectoryA(sizeof directory, directory);
        if (c.console) {
            EXPECT_TRUE(outcome.traced("- main: working directory = \"" + path("classes") + "\""));
            EXPECT_EQ(std::string(directory), path("classes"));
        } else {
            EXPECT_TRUE(outcome.traced("- main: working directory = \"" + workingDirectory_ + "\""));
            EXPECT_EQ(std::string(directory), workingDirectory_);
        }
        // Security manager for the console programs; the subagent extensions for the others.
        EXPECT_EQ(jvm::hasOption("-Djava.security.manager"), c.console);
        EXPECT_EQ(jvm::optionStartingWith("-Djava.class.path=").find(path("sub.jar")) != std::string::npos,
                  !c.console);
        // A windowed program's output goes into a file ("nul" without LogOutput), a console
        // program's to its standard output.
        EXPECT_EQ(outcome.out, c.windowed ? "" : "main ran\n");
        EXPECT_EQ(outcome.traced("- main: stdout file name = \"nul\""), c.windowed);

        // An exception from main: into the ".jexp" file of a windowed program, onto standard error
        // of the others.
        jvm::reset();
        const std::string jexp =
            path(std::string("log\\") + (c.console ? kConsoleLauncherClass : "kvo.test.Throw") + ".jexp");
        DeleteFileA(jexp.c_str());
        const Outcome thrown = run({c.stem, "kvo.test.Throw"});
        EXPECT_EQ(thrown.exitCode, kExitMainThrew);
        const std::string description = "java.lang.IllegalStateException: thrown by kvo.test.Throw";
        EXPECT_EQ(fileExists(jexp) && readFile(jexp).find(description) != std::string::npos, c.windowed)
            << (fileExists(jexp) ? readFile(jexp) : "no " + jexp) << ::testing::PrintToString(thrown.trace);
        EXPECT_EQ(thrown.err.find(description) != std::string::npos, !c.windowed) << thrown.err;
        DeleteFileA(path(std::string("log\\") + c.stem + ".dbg").c_str());
        DeleteFileA(path(std::string("data\\") + c.stem + ".properties").c_str());
    }
}

// --- The JVM library and the library search ------------------------------------------------------

TEST_F(LauncherRun, JvmLibraryIsLoadedWithItsDirectorySearchedAndTheCurrentOneNever) {
    fullTrace();
    EXPECT_EQ(run({"kvocli", kMain}).exitCode, kExitOk);
    EXPECT_EQ(libraryDirectory, std::optional<std::string>(""));
    EXPECT_EQ(loadedLibrary, path("jre\\bin\\classic\\jvm.dll"));
    EXPECT_EQ(loadFlags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));
    // Taking the current directory out cannot fail but for a fault: that is traced, and the start
    // goes on (the JVM library's own directory is searched first in any case).
    libraryDirectorySet = FALSE;
    const Outcome outcome = run({"kvocli", kMain});
    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_TRUE(outcome.traced(
        "- main: unable to remove the current directory from the library search path; rc = X'57'"));
}

// --- Arguments as typed ---------------------------------------------------------------------------

TEST_F(LauncherRun, ArgumentsReachJavaAsTyped) {
    const struct {
        const wchar_t* commandLine;
        std::vector<std::optional<std::string>> javaArguments;  // modified UTF-8
    } cases[] = {
        // A fullwidth quotation mark is no quotation mark (a best-fit narrow line would have one).
        {L"kvocli kvo.test.Main \"p\uFF02 q\" r", {"p\xef\xbc\x82 q", "r"}},
        // Outside the code page.
        {L"kvocli kvo.test.Main \u0436", {"\xd0\xb6"}},
        // The class as typed: its UTF-8 form reaches the JVM.
        {L"kvocli kvo.test.M\u00e4in x", {"x"}},
    };
    for (const auto& c : cases) {
        jvm::reset();
        EXPECT_EQ(runLine(c.commandLine, "none").exitCode, kExitOk);
        EXPECT_EQ(jvm::mainArguments, std::optional(c.javaArguments)) << kvotest::toNarrow(c.commandLine);
    }
}

// --- The working directory -----------------------------------------------------------------------

TEST_F(LauncherRun, CurrentDirectoryTooLongForItsBufferIsAFailureNotItsText) {
    fullTrace();
    const auto stand = kvo::replace(os.GetCurrentDirectoryA, directoryTooLong);
    const Outcome outcome = run({"kvocli", kMain});
    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_TRUE(outcome.traced("- main: unable to get current directory; rc = X'7A'"));
    for (const std::string& line : outcome.trace)
        EXPECT_EQ(line.find("main: working directory"), std::string::npos) << line;
}

// --- JVM options ---------------------------------------------------------------------------------

TEST_F(LauncherRun, OptionThatCannotBeConvertedIsLeftOutAndReportedAsSuch) {
    kvotest::writeFile(path("data\\kvocli.properties"),
                       ".jvm.option.1=-Dbefore=1\n.jvm.option.2=-Dbad=1\n.jvm.option.3=-Dafter=1\n");
    // The local form of the option "-Dbad=1" cannot be had (as text the code page has no characters for).
    const kvotest::UntranslatableText convert(&os.WideCharToMultiByte, L"-Dbad=1");
    const Outcome outcome = run({"kvocli", kMain});
    EXPECT_EQ(outcome.exitCode, kExitOk) << "not a lack of memory";
    EXPECT_EQ(outcome.errors(), std::vector<std::string>{
                                    "! JavaThread: unable to convert jvm option \"-Dbad=1\"; rc = X'459'"});
    ASSERT_GE(jvm::options.size(), 2u);
    EXPECT_EQ(jvm::options[jvm::options.size() - 2], "-Dbefore=1");
    EXPECT_EQ(jvm::options.back(), "-Dafter=1");
    EXPECT_TRUE(jvm::mainArguments.has_value());
}

// --- A failed allocation at each allocation of a start -------------------------------------------

TEST_F(LauncherRun, EachFailingAllocationOfAStartGivesItsDocumentedOutcome) {
    kvotest::writeFile(path("data\\kvocli.properties"),
                       "jvm.heap.initial=32\n"
                       "classpath.append.1=lib/extra.jar\n"
                       "classpath.append.2=classpath:pick.jar\n"
                       ".jvm.option.1=-Dextra=1\n");
    writeTree(path("classes\\extensions\\a.KVOExt"), "classpath.append.1=ext/a.jar\n");
    const std::string savedClasspath = std::getenv("CLASSPATH") ? std::getenv("CLASSPATH") : "";
    _putenv("CLASSPATH=C:\\elsewhere\\pick.jar");

    // The outcomes documented for running out of memory: the error line names what could not be had.
    const std::map<std::string, int> fatal = {
        {"! JavaThread: insufficient storage to allocate boot classpath", kExitNoMemory},
        {"! JavaThread: insufficient storage to allocate classpath", kExitNoMemory},
        {"! JavaThread: insufficient storage to allocate library path", kExitNoMemory},
        {"! JavaThread: insufficient storage to allocate protocol handler", kExitNoMemory},
        {"! JavaThread: insufficient storage to allocate jvm options", kExitNoMemory},
        {"! JavaThread: insufficient storage to allocate class descriptor", kExitNoMemory},
    };
    std::set<std::string> seen;  // error lines, numbers left out
    int ras = 0;
    int beforeTraceLog = 0;  // the command line's and the class name's
    const int allocations = kvotest::forEachFailingAllocation([&](int n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        jvm::reset();
        const Outcome outcome = run({"kvocli", kMain, "one", "two"});
        if (outcome.err.find("unable to allocate RAS object\n") != std::string::npos) {
            ++ras;
            EXPECT_EQ(outcome.exitCode, kExitNoTraceLog);
            EXPECT_TRUE(outcome.trace.empty());
            return;
        }
        if (outcome.err.rfind("main: unable to ", 0) == 0) {
            ++beforeTraceLog;
            EXPECT_EQ(outcome.exitCode, kExitNoMemory);
            EXPECT_TRUE(outcome.trace.empty());
            return;
        }
        int expected = kExitOk;
        for (const std::string& line : outcome.errors()) {
            seen.insert(std::regex_replace(line, std::regex("[0-9]+ byte"), "N byte"));
            const auto f = fatal.find(line);
            if (f != fatal.end())
                expected = f->second;
        }
        EXPECT_EQ(outcome.exitCode, expected) << ::testing::PrintToString(outcome.errors());
        if (expected == kExitOk) {
            // The class ran, with every argument it could be given (one that could not be converted
            // is a null element).
            ASSERT_TRUE(jvm::mainArguments.has_value());
            EXPECT_EQ(jvm::mainArguments->size(), 2u);
        } else {
            EXPECT_FALSE(jvm::mainArguments.has_value());
        }
    });
    _putenv(("CLASSPATH=" + savedClasspath).c_str());

    EXPECT_GT(allocations, 50);
    EXPECT_EQ(ras, 1);
    EXPECT_GE(beforeTraceLog, 3);
    for (const auto& [line, code] : fatal)
        EXPECT_EQ(seen.count(line), 1u) << line;
    const char* const reported[] = {
        "! main: insufficient storage to load file \"",
        "! SetEnvironmentVariables: unable to allocate N byte(s) for \"",
        "! AddClasspathEntryToList: unable to allocate N byte(s) for list",
        "! AddClasspathEntryToList: unable to allocate N byte(s) for entry",
        "! SearchExtensions: insufficient storage to load file \"",
        "! ProcessClasspathProperties: unable to allocate N byte(s) for buffer",
        "! ProcessClasspathProperties: unable to allocate N byte(s) for entry",
        "! GetEntryFromSystemClasspath: unable to allocate N byte(s) for pattern",
        "! BuildClasspath: unable to allocate N byte(s) for classpath",
        "! ConvertToUTF8: unable to allocate N byte(s) for value",
    };
    for (const char* prefix : reported) {
        bool found = false;
        for (const std::string& line : seen)
            found |= line.rfind(prefix, 0) == 0;
        EXPECT_TRUE(found) << prefix << "\n" << ::testing::PrintToString(seen);
    }
}

// --- Under a double-byte code page (932) ---------------------------------------------------------

namespace {

// The registration that runs these under LANG=ja_JP.UTF-8 sets KVO_EXPECT_ACP=932.
bool underCodePage932() {
    if (const char* acp = std::getenv("KVO_EXPECT_ACP")) {
        EXPECT_EQ(GetACP(), std::strtoul(acp, nullptr, 10));
    }
    return GetACP() == 932;
}

}  // namespace

TEST_F(LauncherRun, CodePage932CurrentDirectoryWhoseLocalFormNeedsMoreThan260Bytes) {
    if (!underCodePage932())
        GTEST_SKIP() << "needs code page 932";
    // Three levels of 45 double-byte characters: under 260 characters, over 260 bytes.
    std::vector<std::wstring> levels;
    std::wstring directory = kvotest::toWide(root_, CP_ACP);
    for (int level = 0; level < 3; ++level) {
        directory += std::wstring(45, L'\u8868') + L"\\";
        ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << GetLastError();
        levels.push_back(directory);
    }
    ASSERT_TRUE(SetCurrentDirectoryW(directory.c_str()));
    wchar_t wideNow[MAX_PATH];
    ASSERT_LT(GetCurrentDirectoryW(MAX_PATH, wideNow), static_cast<DWORD>(MAX_PATH));
    ASSERT_GE(local(wideNow).size(), 260u);
    // The platform writes nothing then and answers the size it would need.
    char probe[260];
    EXPECT_GE(GetCurrentDirectoryA(sizeof probe, probe), sizeof probe);

    fullTrace();
    const Outcome outcome = run({"kvocli", kMain});
    SetCurrentDirectoryA(workingDirectory_.c_str());
    for (auto level = levels.rbegin(); level != levels.rend(); ++level)
        RemoveDirectoryW(level->c_str());

    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_TRUE(outcome.traced("- main: unable to get current directory; rc = X'7A'"));
    for (const std::string& line : outcome.trace)
        EXPECT_EQ(line.find("main: working directory"), std::string::npos) << line;
}

TEST_F(LauncherRun, CodePage932CodeBaseKeepsTheTrailBytesOfDoubleByteCharacters) {
    if (!underCodePage932())
        GTEST_SKIP() << "needs code page 932";
    // U+8868 is 0x95 0x5C in code page 932: its trail byte is the code of a backslash.
    const std::wstring root = kvotest::toWide(root_, CP_ACP) + L"\u8868\\";
    useRoot(root);
    ASSERT_NE(root_.find("\x95\x5C\\"), std::string::npos);
    const Outcome outcome = run({"kvocli", kMain});
    EXPECT_EQ(outcome.exitCode, kExitOk);
    std::wstring codeBase = root.substr(0, root.size() - 1);
    for (wchar_t& c : codeBase)
        if (c == L'\\')
            c = L'/';
    EXPECT_TRUE(jvm::hasOption("-Dkvo.code.base=" + local(codeBase)))
        << jvm::optionStartingWith("-Dkvo.code.base=");
    EXPECT_TRUE(jvm::hasOption("-Dkvo.directory.root=" + root_));
    EXPECT_TRUE(jvm::hasOption(
        "-Djava.class.path=" + root_ + "classfix;" + root_ + "classes;" + root_ + "classes\\VrnLibs.jar;" +
        root_ + "classes\\VrnAgent.jar;" + root_ + "classes\\VrnUIL.jar;" + root_ + "classes\\Varnel.jar;" +
        root_ + "lib\\xalan.jar;" + root_ + "lib\\xml-apis.jar;" + root_ + "lib\\xercesImpl.jar;" + root_ +
        "lib\\xmlParserAPIs.jar;" + root_ + "lib\\zalsnmp.jar;" + root_ + "classes\\cimcmn.jar;" + root_ +
        "classes\\cimfac.jar;" + root_ + "lib\\cimapi.jar;" + root_ + "lib\\cimfac.jar"))
        << jvm::optionStartingWith("-Djava.class.path=");
}
