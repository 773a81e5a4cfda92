// Entry point of the launcher programs: settles the settings and the trace log, prepares the
// process, starts the worker thread that runs the JVM and waits in a message loop for the quit
// message whose code ends the process.
#include <direct.h>
#include <process.h>
#include <sys/stat.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <new>

#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "variant.h"
#include "launcher_threads.h"
#include "launcher_trace.h"
#include "output_redirection.h"

namespace kvo::launcher {
namespace {

enum ExitCode : int {
    kExitUsage = -1,
    kExitNoTraceLog = -2,
    kExitNoWindowClass = -3,
    kExitNoWindow = -4,
    kExitNoThread = -5,
};

constexpr unsigned kWorkerStackSize = 1048576;

bool fileExists(const char* path) {
    struct _stat info;
    return _stat(path, &info) == 0;
}

// Asks every running console launcher to quit.
bool isShutdownRequest(const Variant& variant, int argc, char** argv) {
    return variant.shutdownCommand && argc > 1 && _stricmp(argv[1], "shutdown") == 0;
}

void traceStartup(int argc, char** argv) {
    ras->traceEntry("main: arguments = %d", argc);
    for (int i = 0; i < argc; ++i)
        ras->traceInfoHigh("main: argv[ %d ] = \"%s\"", i, argv[i]);
    ras->traceInfoHigh("main: root directory = \"%s\"", rootDirectory);
    ras->traceInfoHigh("main: bin directory = \"%s\"", binDirectory);
    ras->traceInfoHigh("main: data directory = \"%s\"", dataDirectory);
    ras->traceInfoHigh("main: database directory = \"%s\"", databaseDirectory);
    ras->traceInfoHigh("main: jni directory = \"%s\"", jniDirectory);
    ras->traceInfoHigh("main: jre directory = \"%s\"", jreDirectory);
    ras->traceInfoHigh("main: log directory = \"%s\"", logDirectory);
    ras->traceInfoHigh("main: proddata directory = \"%s\"", proddataDirectory);
    ras->traceInfoHigh("main: tempdata directory = \"%s\"", tempdataDirectory);
}

void loadPropertiesFile(const Variant& variant) {
    char fileName[kPathBufferSize];
    std::snprintf(fileName, sizeof fileName, "%s%s.properties", dataDirectory, programName);
    ras->traceInfoHigh("main: properties file name = \"%s\"", fileName);
    if (!fileExists(fileName)) {
        ras->traceInfoHigh("main: unable to find file \"%s\"", fileName);
        std::snprintf(fileName, sizeof fileName, "%s%s", dataDirectory, variant.fallbackPropertiesFile);
        ras->traceInfoHigh("main: properties file name = \"%s\"", fileName);
        if (!fileExists(fileName)) {
            ras->traceInfoHigh("main: unable to find file \"%s\"", fileName);
            return;
        }
    }
    FILE* file = std::fopen(fileName, "r");
    if (file == nullptr) {
        ras->traceInfoHigh("main: unable to open file \"%s\"; rc = X'%X'", fileName,
                           static_cast<unsigned>(errno));
        return;
    }
    launcherProperties.load(file);
    std::fclose(file);
}

void settleWorkingDirectory(const Variant& variant) {
    char directory[kPathBufferSize];
    if (variant.setsWorkingDirectory) {
        std::snprintf(directory, sizeof directory, "%sclasses", rootDirectory);
        ras->traceInfoHigh("main: working directory = \"%s\"", directory);
        if (!SetCurrentDirectoryA(directory))
            ras->traceInfo("main: unable to set current directory to \"%s\"; rc = X'%lX'", directory,
                           static_cast<unsigned long>(GetLastError()));
    } else if (GetCurrentDirectoryA(sizeof directory, directory) != 0) {
        ras->traceInfoHigh("main: working directory = \"%s\"", directory);
    } else {
        ras->traceInfo("main: unable to get current directory; rc = X'%lX'",
                       static_cast<unsigned long>(GetLastError()));
    }
}

// Window class, hidden window, worker thread and message loop; returns the exit code.
int runMessageLoop() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.lpszClassName = windowClassName;
    if (RegisterClassExA(&windowClass) == 0) {
        ras->traceError("main: unable to register window class; rc = X'%lX'",
                        static_cast<unsigned long>(GetLastError()));
        return kExitNoWindowClass;
    }
    int exitCode = 0;
    HWND window =
        CreateWindowExA(0, windowClassName, programName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        ras->traceError("main: unable to create window; rc = X'%lX'",
                        static_cast<unsigned long>(GetLastError()));
        exitCode = kExitNoWindow;
    } else {
        if (_beginthread(JavaThread, kWorkerStackSize, nullptr) == static_cast<uintptr_t>(-1L)) {
            ras->traceError("main: unable to start thread; rc = X'%lX'", static_cast<unsigned long>(errno));
            exitCode = kExitNoThread;
        } else {
            MSG message;
            BOOL got;
            while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
                if (got == -1) {
                    // Only a bad argument makes GetMessage fail; nothing would ever arrive.
                    ras->traceError("main: unable to get message; rc = X'%lX'",
                                    static_cast<unsigned long>(GetLastError()));
                    message.wParam = static_cast<WPARAM>(-1);
                    break;
                }
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            exitCode = static_cast<int>(message.wParam);
        }
        if (!DestroyWindow(window))
            ras->traceInfo("main: unable to destroy window; rc = X'%lX'",
                           static_cast<unsigned long>(GetLastError()));
    }
    if (!UnregisterClassA(windowClassName, nullptr))
        ras->traceInfo("main: unable to unregister window class; rc = X'%lX'",
                       static_cast<unsigned long>(GetLastError()));
    return exitCode;
}

}  // namespace
}  // namespace kvo::launcher

using namespace kvo;
using namespace kvo::launcher;

int main(int argc, char** argv) {
    _tzset();
    std::setlocale(LC_ALL, "");
    launcherArgc = argc;
    launcherArgv = argv;

    const Variant& variant = currentVariant();
    if (isShutdownRequest(variant, argc, argv)) {
        EnumWindows(EnumerateConsoleWindows, static_cast<LPARAM>(WM_QUIT));
        ExitProcess(0);
    }
    if (variant.classArgument && argc < 2) {
        std::fputs(variant.usageText, stderr);
        std::fflush(stderr);
        ExitProcess(static_cast<UINT>(kExitUsage));
    }

    firstJavaArgument = variant.firstJavaArgument;
    mainClassName = variant.classArgument ? argv[1] : variant.fixedMainClass;
    programName = mainClassName;
    windowClassName = variant.windowClassName;

    LoadSettings();
    if (!smpOkFlag)
        BindToOneProcessor();
    mainThreadId = GetCurrentThreadId();

    char traceFile[kPathBufferSize];
    std::snprintf(traceFile, sizeof traceFile, "%s%s.log", logDirectory, programName);
    ras = new (std::nothrow) RAS(traceFile, 0, 0, 1);
    if (ras == nullptr) {
        std::fputs("unable to allocate RAS object\n", stderr);
        std::fflush(stderr);
        ExitProcess(static_cast<UINT>(kExitNoTraceLog));
    }
    char switchFile[kPathBufferSize];
    std::snprintf(switchFile, sizeof switchFile, "%s%s", logDirectory, variant.traceSwitchFile);
    if (fileExists(switchFile)) {
        ras->debug = 1;
        ras->high = 1;
    }

    traceStartup(argc, argv);
    loadPropertiesFile(variant);
    SetEnvironmentVariables();
    settleWorkingDirectory(variant);

    RedirectedStream redirectedOut{1};
    RedirectedStream redirectedErr{2};
    if (variant.redirectsOutput) {
        redirectStream(&redirectedOut);
        redirectStream(&redirectedErr);
    }

    const int exitCode = runMessageLoop();
    ras->traceExit("main: return ( X'%X' )", static_cast<unsigned>(exitCode));

    if (variant.redirectsOutput) {
        restoreStream(&redirectedErr);
        restoreStream(&redirectedOut);
    }
    RAS* log = ras;
    ras = nullptr;
    delete log;
    ExitProcess(static_cast<UINT>(exitCode));
}
