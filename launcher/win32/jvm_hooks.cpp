// Hooks the JVM calls when the Java program exits or the JVM aborts. They run on a JVM thread and
// end the launcher by posting WM_QUIT, carrying the exit code, to the main thread.
#include <windows.h>

#include "process_environment.h"
#include "state.h"
#include "trace_log.h"

namespace kvo::launcher {

namespace {

constexpr int kAbortExitCode = -13;

// Traced before posting: once the quit is read the main thread tears the trace log down.
void postQuit(int code) {
    PostThreadMessageA(static_cast<DWORD>(mainThreadId), WM_QUIT,
                       static_cast<WPARAM>(static_cast<INT_PTR>(code)), 0);
}

}  // namespace

void JNICALL JvmExit(jint code) {
    KVO_TRACE(traceEntry, "JvmExit: code = X'%lX'", static_cast<unsigned long>(code));
    KVO_TRACE(traceExit, "JvmExit");
    postQuit(static_cast<int>(code));
}

void JNICALL JvmAbort() {
    KVO_TRACE(traceEntry, "JvmAbort");
    KVO_TRACE(traceExit, "JvmAbort");
    postQuit(kAbortExitCode);
}

}  // namespace kvo::launcher
