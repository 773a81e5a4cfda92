// The operating-system calls of nqfsfunc that its tests replace (see seam.h): those whose failures
// the tests provoke, and those that Wine does not serve as Windows does (NetUseEnum answers "not
// supported"; a creation time set alone is ignored; the code-page conversions take flags that Windows
// refuses for UTF-8 and other code pages). The shipped library never changes the table.
#pragma once

#include <windows.h>

#include <lm.h>

namespace kvo::fsnative {

struct OsCalls {
    decltype(&::NetUseEnum) NetUseEnum = ::NetUseEnum;
    decltype(&::NetApiBufferFree) NetApiBufferFree = ::NetApiBufferFree;
    decltype(&::GetLogicalDriveStringsA) GetLogicalDriveStringsA = ::GetLogicalDriveStringsA;
    decltype(&::CreateFileA) CreateFileA = ::CreateFileA;
    decltype(&::GetFileTime) GetFileTime = ::GetFileTime;
    decltype(&::SetFileTime) SetFileTime = ::SetFileTime;
    decltype(&::ReadFile) ReadFile = ::ReadFile;
    decltype(&::WriteFile) WriteFile = ::WriteFile;
    decltype(&::SetFilePointer) SetFilePointer = ::SetFilePointer;
    decltype(&::GetFileSize) GetFileSize = ::GetFileSize;
    decltype(&::GetACP) GetACP = ::GetACP;
    decltype(&::WideCharToMultiByte) WideCharToMultiByte = ::WideCharToMultiByte;
    decltype(&::MultiByteToWideChar) MultiByteToWideChar = ::MultiByteToWideChar;
    decltype(&::FindFirstFileW) FindFirstFileW = ::FindFirstFileW;
    decltype(&::FindNextFileW) FindNextFileW = ::FindNextFileW;
    decltype(&::SetThreadErrorMode) SetThreadErrorMode = ::SetThreadErrorMode;
    // The trace of what a listing leaves out (the library has no log of its own).
    decltype(&::OutputDebugStringA) OutputDebugStringA = ::OutputDebugStringA;
};

extern OsCalls os;

}  // namespace kvo::fsnative
