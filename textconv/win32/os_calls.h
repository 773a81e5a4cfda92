// The operating-system calls of kvoucd32 whose failures its tests provoke, and the code-page calls
// whose refusals Wine does not show (it ignores flags that Windows refuses for UTF-8 and other code
// pages), as a seam table (see seam.h). The shipped library never changes it.
#pragma once

#include <windows.h>

namespace kvo::textconv {

struct OsCalls {
    decltype(&::GetModuleFileNameA) GetModuleFileNameA = ::GetModuleFileNameA;
    decltype(&::CreateFileA) CreateFileA = ::CreateFileA;
    decltype(&::ReadFile) ReadFile = ::ReadFile;
    decltype(&::CreateFileMappingA) CreateFileMappingA = ::CreateFileMappingA;
    decltype(&::OpenFileMappingA) OpenFileMappingA = ::OpenFileMappingA;
    decltype(&::MapViewOfFile) MapViewOfFile = ::MapViewOfFile;
    decltype(&::VirtualAlloc) VirtualAlloc = ::VirtualAlloc;
    decltype(&::VirtualQuery) VirtualQuery = ::VirtualQuery;
    decltype(&::VirtualProtect) VirtualProtect = ::VirtualProtect;
    // The system way of the local conversions.
    decltype(&::GetACP) GetACP = ::GetACP;
    decltype(&::GetCPInfo) GetCPInfo = ::GetCPInfo;
    decltype(&::WideCharToMultiByte) WideCharToMultiByte = ::WideCharToMultiByte;
    decltype(&::MultiByteToWideChar) MultiByteToWideChar = ::MultiByteToWideChar;
};

extern OsCalls os;

}  // namespace kvo::textconv
