// Entry point of kvoucd32.dll: records the module handle, nothing else.
#include <windows.h>

#include "module_handle.h"

HMODULE g_kvoucd32Module = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        g_kvoucd32Module = instance;
    return TRUE;
}
