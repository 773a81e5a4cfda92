// The second process of the sharing tests. It binds kvoucd32 from the given file and prints one line.
//   cp_probe DLL load CODEPAGE [EVENT]  wait for the named event (if given), load the table and print
//                                       "ok <digest>", or "null" (exit code 2)
//   cp_probe DLL threads                eight threads do this process's first conversions at once;
//                                       prints "ok" (exit 0) when all of them got the right results
//   cp_probe DLL local                  converts a local text both ways; prints "ok" when right
//   cp_probe DLL hold CODEPAGE EVENT    holds the names a process filling the table's section holds
//                                       in the middle of the fill (the lock "KVOCP<n>.UNI.fill" and
//                                       an empty section "KVOCP<n>.UNI"), prints "held" and keeps them
//                                       until the named event is set
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "probe_api.h"

namespace {

ProbeApi api;

int loadCommand(int codePage, const char* eventName) {
    if (eventName != nullptr) {
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, eventName);
        if (event == nullptr || WaitForSingleObject(event, 30000) != WAIT_OBJECT_0) {
            std::printf("no start event\n");
            return 3;
        }
        CloseHandle(event);
    }
    NFCPMapping mapping = api.load(codePage);
    if (mapping == nullptr) {
        std::printf("null\n");
        return 2;
    }
    std::printf("ok %016llx\n", static_cast<unsigned long long>(api.digest(mapping)));
    api.free(mapping);
    return 0;
}

struct ThreadResult {
    HANDLE start;
    std::string big5, korean, local;
};

DWORD WINAPI firstConversion(void* arg) {
    ThreadResult* r = static_cast<ThreadResult*>(arg);
    WaitForSingleObject(r->start, INFINITE);
    char out[64];
    if (api.localeToCompUnicode("zhTW", "\xA4\x40\xA4\x41", out, sizeof(out), '*', nullptr) > 0)
        r->big5 = out;
    if (api.localeToCompUnicode("ko", "\xB0\xA1", out, sizeof(out), '*', nullptr) > 0)
        r->korean = out;
    wchar_t wide[16];
    if (api.localToUnicode("abc", wide, 16, '*', nullptr) == 4 && std::wcscmp(wide, L"abc") == 0)
        r->local = "abc";
    return 0;
}

int threadsCommand() {
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<ThreadResult> results(8);
    std::vector<HANDLE> threads;
    for (ThreadResult& r : results) {
        r.start = start;
        threads.push_back(CreateThread(nullptr, 0, firstConversion, &r, 0, nullptr));
    }
    Sleep(100);
    SetEvent(start);
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 30000);
    for (HANDLE t : threads)
        CloseHandle(t);
    CloseHandle(start);
    // U+4E00 U+4E59 and U+AC00 in CompUnicode.
    char out[64];
    api.utf8ToCompUnicode("\xE4\xB8\x80\xE4\xB9\x99", out, sizeof(out), 0, 0);
    const std::string big5 = out;
    api.utf8ToCompUnicode("\xEA\xB0\x80", out, sizeof(out), 0, 0);
    const std::string korean = out;
    for (const ThreadResult& r : results) {
        if (r.big5 != big5 || r.korean != korean || r.local != "abc") {
            std::printf("thread got zhTW %zu bytes, ko %zu bytes, local '%s'\n", r.big5.size(),
                        r.korean.size(), r.local.c_str());
            return 1;
        }
    }
    std::printf("ok\n");
    return 0;
}

int localCommand() {
    wchar_t wide[16];
    char back[16];
    if (api.localToUnicode("plain", wide, 16, '*', nullptr) != 6 || std::wcscmp(wide, L"plain") != 0 ||
        api.unicodeToLocal(L"plain", back, 16, '*', nullptr) != 6 || std::strcmp(back, "plain") != 0) {
        std::printf("local conversion failed\n");
        return 1;
    }
    std::printf("ok\n");
    return 0;
}

int holdCommand(int codePage, const char* eventName) {
    char section[64], lock[80];
    std::snprintf(section, sizeof(section), "KVOCP%d.UNI", codePage);
    std::snprintf(lock, sizeof(lock), "%s.fill", section);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, lock);
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE, 0, 0x40000, section);
    const bool fresh = mapping != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, eventName);
    int rc = 0;
    if (mutex == nullptr || !fresh || release == nullptr) {
        std::printf("could not take the names\n");
        rc = 1;
    } else {
        std::printf("held\n");
        std::fflush(stdout);
        if (WaitForSingleObject(release, 60000) != WAIT_OBJECT_0)
            rc = 3;
    }
    if (release != nullptr)
        CloseHandle(release);
    if (mapping != nullptr)
        CloseHandle(mapping);
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || !api.bind(argv[1])) {
        std::printf("usage: cp_probe DLL load|threads|local|hold ...\n");
        return 4;
    }
    const std::string command = argv[2];
    int rc = 4;
    if (command == "load" && argc >= 4)
        rc = loadCommand(std::atoi(argv[3]), argc >= 5 ? argv[4] : nullptr);
    else if (command == "threads")
        rc = threadsCommand();
    else if (command == "local")
        rc = localCommand();
    else if (command == "hold" && argc >= 5)
        rc = holdCommand(std::atoi(argv[3]), argv[4]);
    std::fflush(stdout);
    api.unbind();
    return rc;
}
