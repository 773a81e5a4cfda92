// The operating-system calls of kvoucd32 whose failures its tests provoke, as a seam table (see
// seam.h). The shipped library never changes it.
#pragma once

#include <windows.h>

namespace kvo::textconv {

struct OsCalls {
    decltype(&::GetModuleFileNameA) GetModuleFileNameA = ::GetModuleFileNameA;
    decltype(&::CreateFileA) CreateFileA = ::CreateFileA;
    decltype(&::GetFileSizeEx) GetFileSizeEx = ::GetFileSizeEx;
    decltype(&::ReadFile) ReadFile = ::ReadFile;
    decltype(&::SetFilePointer) SetFilePointer = ::SetFilePointer;
    decltype(&::CreateFileMappingA) CreateFileMappingA = ::CreateFileMappingA;
    decltype(&::OpenFileMappingA) OpenFileMappingA = ::OpenFileMappingA;
    decltype(&::MapViewOfFile) MapViewOfFile = ::MapViewOfFile;
    decltype(&::VirtualAlloc) VirtualAlloc = ::VirtualAlloc;
    decltype(&::VirtualQuery) VirtualQuery = ::VirtualQuery;
    decltype(&::VirtualProtect) VirtualProtect = ::VirtualProtect;
    decltype(&::CreateMutexA) CreateMutexA = ::CreateMutexA;
    decltype(&::OpenMutexA) OpenMutexA = ::OpenMutexA;
    decltype(&::WaitForSingleObject) WaitForSingleObject = ::WaitForSingleObject;
};

extern OsCalls os;

}  // namespace kvo::textconv
