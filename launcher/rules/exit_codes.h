// Exit codes of the launcher processes. Platform-free.
#pragma once

namespace kvo::launcher {

enum ExitCode : int {
    kExitOk = 0,              // main returned; the window was destroyed or the session ended; "shutdown"
    kExitUsage = -1,          // no class name given
    kExitNoTraceLog = -2,     // the trace log object cannot be allocated
    kExitNoWindowClass = -3,  // the window class cannot be registered
    kExitNoWindow = -4,       // the hidden window cannot be created
    kExitNoThread = -5,       // the worker thread cannot be started
    kExitNoLibrary = -6,      // the JVM library cannot be loaded
    kExitNoEntryPoint = -7,   // JNI_CreateJavaVM is missing from the JVM library
    kExitNoMemory = -8,       // no memory for the class paths, the JVM options or the argument array
    kExitCreateFailed = -9,   // JNI_CreateJavaVM failed
    kExitNoClass = -10,       // the main class was not found
    kExitNoMain = -11,        // the class has no static main(String[])
    kExitMainThrew = -12,     // main ended with a pending exception
    kExitAborted = -13,       // the JVM called its abort hook
};

}  // namespace kvo::launcher
