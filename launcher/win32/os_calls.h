// The operating-system and run-time library calls of the launcher whose failures its tests provoke,
// as a seam table (see seam.h). The programs never change it.
#pragma once

#include <windows.h>

#include <io.h>
#include <process.h>

#include <cstdio>

namespace kvo::launcher {

struct OsCalls {
    // Settings.
    decltype(&::RegOpenKeyExA) RegOpenKeyExA = ::RegOpenKeyExA;
    decltype(&::RegQueryValueExW) RegQueryValueExW = ::RegQueryValueExW;
    decltype(&::RegCloseKey) RegCloseKey = ::RegCloseKey;
    decltype(&::GetModuleFileNameW) GetModuleFileNameW = ::GetModuleFileNameW;
    // Working directory.
    decltype(&::GetCurrentDirectoryA) GetCurrentDirectoryA = ::GetCurrentDirectoryA;
    decltype(&::SetCurrentDirectoryA) SetCurrentDirectoryA = ::SetCurrentDirectoryA;
    // Files: properties, extension files, redirection files, the trust store, ".jexp" dumps.
    decltype(&::fopen) fopen = ::fopen;
    decltype(&::FindFirstFileA) FindFirstFileA = ::FindFirstFileA;
    decltype(&::FindNextFileA) FindNextFileA = ::FindNextFileA;
    decltype(&::FindClose) FindClose = ::FindClose;
    // Standard stream descriptors.
    decltype(&::_dup) _dup = ::_dup;
    decltype(&::_dup2) _dup2 = ::_dup2;
    // Text of property values, registry directories and the program path in the local code page.
    decltype(&::GetACP) GetACP = ::GetACP;
    decltype(&::WideCharToMultiByte) WideCharToMultiByte = ::WideCharToMultiByte;
    decltype(&::MultiByteToWideChar) MultiByteToWideChar = ::MultiByteToWideChar;
    // The hidden window and the worker thread.
    decltype(&::RegisterClassExA) RegisterClassExA = ::RegisterClassExA;
    decltype(&::CreateWindowExA) CreateWindowExA = ::CreateWindowExA;
    decltype(&::DestroyWindow) DestroyWindow = ::DestroyWindow;
    decltype(&::UnregisterClassA) UnregisterClassA = ::UnregisterClassA;
    decltype(&::_beginthread) _beginthread = ::_beginthread;
    // "shutdown": the windows of every process on the desktop.
    decltype(&::EnumWindows) EnumWindows = ::EnumWindows;
    // The JVM library, and the current directory taken out of the library search.
    decltype(&::SetDllDirectoryA) SetDllDirectoryA = ::SetDllDirectoryA;
    decltype(&::LoadLibraryExA) LoadLibraryExA = ::LoadLibraryExA;
    decltype(&::GetProcAddress) GetProcAddress = ::GetProcAddress;
    decltype(&::FreeLibrary) FreeLibrary = ::FreeLibrary;
};

extern OsCalls os;

}  // namespace kvo::launcher
