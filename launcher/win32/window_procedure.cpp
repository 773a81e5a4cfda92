// The hidden window's procedure and the "shutdown" enumeration callback.
#include <cstring>

#include "variant.h"
#include "launcher_threads.h"
#include "trace_log.h"

namespace kvo::launcher {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    KVO_TRACE(traceEntryHigh, "WindowProcedure: message = X'%lX'", static_cast<unsigned long>(message));
    LRESULT result = 0;
    if (message == WM_DESTROY || message == WM_ENDSESSION)
        PostQuitMessage(0);
    else
        result = DefWindowProcA(window, message, wParam, lParam);
    // The result is pointer-sized: all of it is traced, on 64-bit Windows too.
    KVO_TRACE(traceExitHigh, "WindowProcedure: return ( X'%llX' )",
              static_cast<unsigned long long>(static_cast<ULONG_PTR>(result)));
    return result;
}

BOOL CALLBACK EnumerateConsoleWindows(HWND window, LPARAM message) {
    char className[260];
    const int length = GetClassNameA(window, className, sizeof className);
    if (length <= 0 || std::strcmp(className, kConsoleWindowClass) != 0)
        return TRUE;
    PostMessageA(window, static_cast<UINT>(message), 0, 0);
    return TRUE;
}

}  // namespace kvo::launcher
