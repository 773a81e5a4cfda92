// The launcher's main thread: settles the settings and the trace log, prepares the process, starts
// the worker thread that runs the JVM and waits in a message loop for the quit message whose code
// ends the process.
#include "launcher_main.h"

#include <sys/stat.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <cwchar>

#include "command_line.h"
#include "exit_codes.h"
#include "heap.h"
#include "launcher_threads.h"
#include "os_calls.h"
#include "output_redirection.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "str.h"
#include "trace_log.h"
#include "variant.h"

namespace kvo::launcher {
namespace {

constexpr unsigned kWorkerStackSize = 1048576;

// The command line split into its arguments, and the class name in the local code page: kept until the
// next run of the launcher (tests run it many times in one process).
HeapArray<wchar_t*> argumentTable;
HeapArray<wchar_t> argumentText;
HeapObject<UnicodeStr> localClassName;

bool fileExists(const char* path) {
    struct _stat info;
    return _stat(path, &info) == 0;
}

// The arguments as typed. Before the trace log exists: the failure goes to standard error.
bool splitArguments(const wchar_t* commandLine) {
    const CommandLineSize size = splitCommandLine<wchar_t>(commandLine, nullptr, nullptr);
    argumentTable = makeHeapArray<wchar_t*>(size.arguments + 1);
    argumentText = makeHeapArray<wchar_t>(size.units);
    if (!argumentTable || !argumentText) {
        std::fprintf(
            stderr, "main: unable to allocate %d byte(s) for the command line\n",
            static_cast<int>((size.arguments + 1) * sizeof(wchar_t*) + size.units * sizeof(wchar_t)));
        std::fflush(stderr);
        return false;
    }
    splitCommandLine<wchar_t>(commandLine, argumentTable.get(), argumentText.get());
    argumentTable[size.arguments] = nullptr;
    commandArgumentCount = static_cast<int>(size.arguments);
    commandArguments = argumentTable.get();
    return true;
}

// The class to run, as typed for the JVM and in the local code page for the per-program files and the
// window title; returns the exit code of a failure, else 0.
int settleClassName(const Variant& variant) {
    if (variant.isConsole()) {
        javaClassName = kConsoleLauncherClassWide;
        mainClassName = kConsoleLauncherClass;
        return kExitOk;
    }
    javaClassName = commandArguments[1];
    // By the product's own conversion, as the Java program's file names are.
    localClassName = makeHeapObject<UnicodeStr>(javaClassName);
    if (!localClassName || localClassName->c_str() == nullptr || !localClassName->compUnicodeToLocal()) {
        std::fputs("main: unable to convert the class name to the local code page\n", stderr);
        std::fflush(stderr);
        return kExitNoMemory;
    }
    mainClassName = localClassName->c_str();
    return kExitOk;
}

// Asks every running console launcher to quit.
bool isShutdownRequest(const Variant& variant) {
    return variant.isConsole() && commandArgumentCount > 1 && _wcsicmp(commandArguments[1], L"shutdown") == 0;
}

void traceStartup() {
    KVO_TRACE(traceEntry, "main: arguments = %d", commandArgumentCount);
    for (int i = 0; i < commandArgumentCount; ++i)
        KVO_TRACE(traceInfoHigh, "main: argv[ %d ] = \"%S\"", i, commandArguments[i]);
    KVO_TRACE(traceInfoHigh, "main: root directory = \"%s\"", rootDirectory);
    KVO_TRACE(traceInfoHigh, "main: bin directory = \"%s\"", binDirectory);
    KVO_TRACE(traceInfoHigh, "main: data directory = \"%s\"", dataDirectory);
    KVO_TRACE(traceInfoHigh, "main: database directory = \"%s\"", databaseDirectory);
    KVO_TRACE(traceInfoHigh, "main: jni directory = \"%s\"", jniDirectory);
    KVO_TRACE(traceInfoHigh, "main: jre directory = \"%s\"", jreDirectory);
    KVO_TRACE(traceInfoHigh, "main: log directory = \"%s\"", logDirectory);
    KVO_TRACE(traceInfoHigh, "main: proddata directory = \"%s\"", proddataDirectory);
    KVO_TRACE(traceInfoHigh, "main: tempdata directory = \"%s\"", tempdataDirectory);
}

void loadPropertiesFile(const Variant& variant) {
    char fileName[kPathBufferSize];
    std::snprintf(fileName, sizeof fileName, "%s%s.properties", dataDirectory, programName);
    KVO_TRACE(traceInfoHigh, "main: properties file name = \"%s\"", fileName);
    if (!fileExists(fileName)) {
        KVO_TRACE(traceInfoHigh, "main: unable to find file \"%s\"", fileName);
        std::snprintf(fileName, sizeof fileName, "%s%s.properties", dataDirectory, variant.fileStem);
        KVO_TRACE(traceInfoHigh, "main: properties file name = \"%s\"", fileName);
        if (!fileExists(fileName)) {
            KVO_TRACE(traceInfoHigh, "main: unable to find file \"%s\"", fileName);
            return;
        }
    }
    FILE* file = os.fopen(fileName, "r");
    if (file == nullptr) {
        KVO_TRACE(traceInfoHigh, "main: unable to open file \"%s\"; rc = X'%X'", fileName,
                  static_cast<unsigned>(errno));
        return;
    }
    // What was read before memory ran out stays; the launcher goes on with it.
    if (!launcherProperties.load(file))
        KVO_TRACE(traceError, "main: insufficient storage to load file \"%s\"", fileName);
    std::fclose(file);
}

void settleWorkingDirectory(const Variant& variant) {
    char directory[kPathBufferSize];
    if (variant.setsWorkingDirectory()) {
        std::snprintf(directory, sizeof directory, "%sclasses", rootDirectory);
        KVO_TRACE(traceInfoHigh, "main: working directory = \"%s\"", directory);
        if (!os.SetCurrentDirectoryA(directory))
            KVO_TRACE(traceInfo, "main: unable to set current directory to \"%s\"; rc = X'%lX'", directory,
                      static_cast<unsigned long>(GetLastError()));
        return;
    }
    // A directory whose local form does not fit is not written at all: the result is then the size
    // it would need, and the buffer holds nothing of it.
    const DWORD length = os.GetCurrentDirectoryA(sizeof directory, directory);
    if (length == 0) {
        KVO_TRACE(traceInfo, "main: unable to get current directory; rc = X'%lX'",
                  static_cast<unsigned long>(GetLastError()));
    } else if (length >= sizeof directory) {
        KVO_TRACE(traceInfo, "main: unable to get current directory; rc = X'%lX'",
                  static_cast<unsigned long>(ERROR_INSUFFICIENT_BUFFER));
    } else {
        KVO_TRACE(traceInfoHigh, "main: working directory = \"%s\"", directory);
    }
}

// The message loop on this thread until a WM_QUIT arrives; returns its code.
int runMessageLoop() {
    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) {
            // Only a bad argument makes GetMessage fail; nothing would ever arrive.
            KVO_TRACE(traceError, "main: unable to get message; rc = X'%lX'",
                      static_cast<unsigned long>(GetLastError()));
            return -1;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

// Window class, hidden window, worker thread and message loop; returns the exit code.
int runWindowAndWorker() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.lpszClassName = windowClassName;
    if (os.RegisterClassExA(&windowClass) == 0) {
        KVO_TRACE(traceError, "main: unable to register window class; rc = X'%lX'",
                  static_cast<unsigned long>(GetLastError()));
        return kExitNoWindowClass;
    }
    int exitCode = kExitOk;
    HWND window =
        os.CreateWindowExA(0, windowClassName, programName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        KVO_TRACE(traceError, "main: unable to create window; rc = X'%lX'",
                  static_cast<unsigned long>(GetLastError()));
        exitCode = kExitNoWindow;
    } else {
        if (os._beginthread(JavaThread, kWorkerStackSize, nullptr) == static_cast<uintptr_t>(-1L)) {
            KVO_TRACE(traceError, "main: unable to start thread; rc = X'%lX'",
                      static_cast<unsigned long>(errno));
            exitCode = kExitNoThread;
        } else {
            exitCode = runMessageLoop();
        }
        if (!os.DestroyWindow(window))
            KVO_TRACE(traceInfo, "main: unable to destroy window; rc = X'%lX'",
                      static_cast<unsigned long>(GetLastError()));
    }
    if (!os.UnregisterClassA(windowClassName, nullptr))
        KVO_TRACE(traceInfo, "main: unable to unregister window class; rc = X'%lX'",
                  static_cast<unsigned long>(GetLastError()));
    return exitCode;
}

}  // namespace

int runLauncher(const wchar_t* commandLine) {
    // Before any library is loaded: none is ever looked for in the current directory (the caller's
    // downloads folder or share), neither the JVM's nor one of those that follow from it.
    const DWORD libraryPathError = os.SetDllDirectoryA("") ? ERROR_SUCCESS : GetLastError();
    _tzset();
    std::setlocale(LC_ALL, "");
    if (!splitArguments(commandLine))
        return kExitNoMemory;

    const Variant& variant = currentVariant();
    if (isShutdownRequest(variant)) {
        os.EnumWindows(EnumerateConsoleWindows, static_cast<LPARAM>(WM_QUIT));
        return kExitOk;
    }
    if (!variant.isConsole() && commandArgumentCount < 2) {
        char usage[64];
        formatUsage(variant, usage, sizeof usage);
        std::fputs(usage, stderr);
        std::fflush(stderr);
        return kExitUsage;
    }

    firstJavaArgument = variant.firstJavaArgument();
    if (const int failure = settleClassName(variant))
        return failure;
    programName = mainClassName;
    windowClassName = variant.windowClassName;

    LoadSettings();
    // Without an installation root every directory would be one below the current directory: the
    // JVM library, the properties and the logs would be looked for there. LoadSettings has said why.
    if (rootDirectory[0] == 0)
        return kExitNoLibrary;
    if (!smpOkFlag)
        BindToOneProcessor();
    mainThreadId = GetCurrentThreadId();

    char traceFile[kPathBufferSize];
    std::snprintf(traceFile, sizeof traceFile, "%s%s.log", logDirectory, programName);
    RAS* log = heapNew<RAS>(traceFile, 0, 0, 1);
    if (log == nullptr) {
        std::fputs("unable to allocate RAS object\n", stderr);
        std::fflush(stderr);
        return kExitNoTraceLog;
    }
    char switchFile[kPathBufferSize];
    std::snprintf(switchFile, sizeof switchFile, "%s%s.dbg", logDirectory, variant.fileStem);
    if (fileExists(switchFile)) {
        log->debug = 1;
        log->high = 1;
    }
    startTraceLog(log);

    traceStartup();
    if (libraryPathError != ERROR_SUCCESS)
        KVO_TRACE(traceInfo,
                  "main: unable to remove the current directory from the library search path; rc = X'%lX'",
                  static_cast<unsigned long>(libraryPathError));
    loadPropertiesFile(variant);
    SetEnvironmentVariables();
    settleWorkingDirectory(variant);

    RedirectedStream redirectedOut{1};
    RedirectedStream redirectedErr{2};
    if (variant.redirectsOutput()) {
        redirectStream(&redirectedOut);
        redirectStream(&redirectedErr);
    }

    const int exitCode = runWindowAndWorker();
    KVO_TRACE(traceExit, "main: return ( X'%X' )", static_cast<unsigned>(exitCode));

    if (variant.redirectsOutput()) {
        restoreStream(&redirectedErr);
        restoreStream(&redirectedOut);
    }
    // The worker and the JVM's threads may still be tracing: the log goes once they are out of it.
    endTraceLog();
    return exitCode;
}

}  // namespace kvo::launcher
