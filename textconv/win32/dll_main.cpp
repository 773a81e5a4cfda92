// Entry point of kvoucd32.dll: records the module handle, nothing else.
#include <windows.h>

#include "module_handle.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        kvo::textconv::libraryModule = instance;
    return TRUE;
}
