// The operating-system and installer calls of kta_ca, as a seam table (see seam.h): the installer
// calls whose failures tests provoke, the file-time calls Wine cannot serve as Windows does (a
// file's creation time follows its last-write time there, and setting the creation time alone is
// ignored), and the system's known folders, which tests name. The shipped library never changes the
// table.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

namespace kvo::installer {

struct OsCalls {
    // Windows Installer
    decltype(&::MsiGetPropertyW) MsiGetPropertyW = ::MsiGetPropertyW;
    decltype(&::MsiSetPropertyW) MsiSetPropertyW = ::MsiSetPropertyW;
    decltype(&::MsiCreateRecord) MsiCreateRecord = ::MsiCreateRecord;
    decltype(&::MsiRecordSetStringW) MsiRecordSetStringW = ::MsiRecordSetStringW;
    decltype(&::MsiRecordSetInteger) MsiRecordSetInteger = ::MsiRecordSetInteger;
    decltype(&::MsiRecordGetStringW) MsiRecordGetStringW = ::MsiRecordGetStringW;
    decltype(&::MsiRecordGetInteger) MsiRecordGetInteger = ::MsiRecordGetInteger;
    decltype(&::MsiProcessMessage) MsiProcessMessage = ::MsiProcessMessage;
    decltype(&::MsiFormatRecordW) MsiFormatRecordW = ::MsiFormatRecordW;
    decltype(&::MsiGetActiveDatabase) MsiGetActiveDatabase = ::MsiGetActiveDatabase;
    decltype(&::MsiDatabaseOpenViewW) MsiDatabaseOpenViewW = ::MsiDatabaseOpenViewW;
    decltype(&::MsiViewExecute) MsiViewExecute = ::MsiViewExecute;
    decltype(&::MsiViewFetch) MsiViewFetch = ::MsiViewFetch;
    decltype(&::MsiViewModify) MsiViewModify = ::MsiViewModify;
    decltype(&::MsiViewClose) MsiViewClose = ::MsiViewClose;
    decltype(&::MsiCloseHandle) MsiCloseHandle = ::MsiCloseHandle;
    decltype(&::MsiGetProductInfoW) MsiGetProductInfoW = ::MsiGetProductInfoW;
    decltype(&::MsiEvaluateConditionW) MsiEvaluateConditionW = ::MsiEvaluateConditionW;
    decltype(&::MsiGetFeatureStateW) MsiGetFeatureStateW = ::MsiGetFeatureStateW;

    // Files and directory searches
    decltype(&::FindFirstFileW) FindFirstFileW = ::FindFirstFileW;
    decltype(&::FindNextFileW) FindNextFileW = ::FindNextFileW;
    decltype(&::FindClose) FindClose = ::FindClose;
    decltype(&::CreateFileW) CreateFileW = ::CreateFileW;
    decltype(&::SetFileTime) SetFileTime = ::SetFileTime;
    decltype(&::CloseHandle) CloseHandle = ::CloseHandle;
    decltype(&::CreateDirectoryW) CreateDirectoryW = ::CreateDirectoryW;
    decltype(&::CopyFileW) CopyFileW = ::CopyFileW;

    // Known folders of the system
    decltype(&::SHGetKnownFolderPath) SHGetKnownFolderPath = ::SHGetKnownFolderPath;
    decltype(&::CoTaskMemFree) CoTaskMemFree = ::CoTaskMemFree;

    // Machine registry
    decltype(&::RegOpenKeyExW) RegOpenKeyExW = ::RegOpenKeyExW;
    decltype(&::RegQueryValueExW) RegQueryValueExW = ::RegQueryValueExW;
    decltype(&::RegCreateKeyExW) RegCreateKeyExW = ::RegCreateKeyExW;
    decltype(&::RegSetValueExW) RegSetValueExW = ::RegSetValueExW;

    // Message boxes and response files
    decltype(&::GetForegroundWindow) GetForegroundWindow = ::GetForegroundWindow;
    decltype(&::MessageBoxW) MessageBoxW = ::MessageBoxW;
    decltype(&::GetPrivateProfileStringW) GetPrivateProfileStringW = ::GetPrivateProfileStringW;
};

extern OsCalls os;

}  // namespace kvo::installer
