// Entry point of nqfsfunc.dll: records the module handle, nothing else.
#include <windows.h>

#include "jni_support.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        kvo::fsnative::libraryModule = instance;
    return TRUE;
}
