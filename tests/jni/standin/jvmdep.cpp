// jvmdep.dll, a library of the dependent stand-in JVM's own: tells where it was loaded from.
#include <windows.h>

static HINSTANCE self = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD kvoJvmDependencyPath(char* buffer, DWORD size) {
    return GetModuleFileNameA(self, buffer, size);
}
