#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>

#include "unique_handle.h"

namespace kvotest {

std::string readTextFile(const std::wstring& path) {
    const kvo::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return "<missing>";
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        content.append(buffer, read);
    return content;
}

void writeTextFile(const std::wstring& path, const std::string& content) {
    const kvo::UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        ADD_FAILURE() << "CreateFileW " << toNarrow(path) << ": rc = " << error;
        return;
    }
    DWORD written = 0;
    WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void makeDirectory(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

namespace {

bool isLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Under Wine, runs a program of the host on the host's names of Windows paths until done() holds
// (Wine does not wait for a host program), through cmd and start: once a test program had started
// a host program itself, its message boxes were never found.
template <class Done>
void runOnHostPaths(const std::wstring& program, std::initializer_list<std::wstring> paths, Done done) {
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName == nullptr)
        return;
    std::wstring command = L"start /wait /unix " + program;
    for (const std::wstring& path : paths) {
        char* host = unixFileName(path.c_str());
        command += L" \"" + (host != nullptr ? toWide(host) : path) + L"\"";
        HeapFree(GetProcessHeap(), 0, host);
    }
    _wsystem(command.c_str());
    for (int waited = 0; waited < 10000 && !done(); waited += 10)
        Sleep(10);
}

}  // namespace

bool makeDirectoryLink(const std::wstring& link, const std::wstring& target) {
    if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) || !isLink(link))
        runOnHostPaths(L"/bin/ln -s", {target, link}, [&] { return isLink(link); });
    return isLink(link);
}

void removeLink(const std::wstring& link) {
    if (!RemoveDirectoryW(link.c_str()) && isLink(link))
        runOnHostPaths(L"/bin/rm -f", {link}, [&] { return !exists(link); });
}

void removeTree(const std::wstring& path) {
    std::wstring directory = path;
    if (!directory.empty() && directory.back() != L'\\')
        directory += L'\\';
    // Trees may hold paths longer than 259 characters.
    if (directory.size() > 2 && directory[1] == L':')
        directory = L"\\\\?\\" + directory;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((directory + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring full = directory + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                removeLink(full);
                continue;
            }
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full + L"\\");
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(directory.c_str());
}

std::string programDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string program(path, length < MAX_PATH ? length : 0);
    return program.substr(0, program.rfind('\\') + 1);
}

std::wstring toWide(const std::string& text, UINT codePage) {
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(), n);
    return result;
}

std::string toNarrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string result(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr,
                        nullptr);
    return result;
}

}  // namespace kvotest
