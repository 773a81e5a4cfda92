// The threads and window callbacks of a launcher program: the worker that runs the JVM, the hidden
// window's procedure and the callback that stops running console launchers.
#pragma once

#include <windows.h>

namespace kvo::launcher {

// Worker thread routine for _beginthread: runs the Java class and posts WM_QUIT with the exit code
// to the main thread. The argument is ignored.
void __cdecl JavaThread(void* ignored);

// Window procedure of the hidden window: WM_DESTROY and WM_ENDSESSION quit the launcher with 0.
LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// EnumWindows callback: posts message (wParam 0, lParam 0) to every window of the console
// launchers' class. Always continues the enumeration.
BOOL CALLBACK EnumerateConsoleWindows(HWND window, LPARAM message);

}  // namespace kvo::launcher
