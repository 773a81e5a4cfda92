#include "section_security.h"

#include <sddl.h>

#include <cstdio>
#include <string>

namespace kvo::textconv {

namespace {

// Section rights: SECTION_ALL_ACCESS (0xF001F) and read (READ_CONTROL | SECTION_MAP_READ | SECTION_QUERY).
// Mutex rights: MUTEX_ALL_ACCESS (0x1F0001) and SYNCHRONIZE | MUTEX_MODIFY_STATE.
constexpr const char* kSectionFull = "0xF001F";
constexpr const char* kSectionRead = "0x20005";
constexpr const char* kMutexFull = "0x1F0001";
constexpr const char* kMutexUse = "0x100001";

// The SID of the account this process runs as, in string form; empty if it can't be read.
std::string currentUserSid() {
    std::string result;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return result;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size != 0) {
        void* buffer = LocalAlloc(LMEM_FIXED, size);
        if (buffer != nullptr) {
            char* sid = nullptr;
            if (GetTokenInformation(token, TokenUser, buffer, size, &size) &&
                ConvertSidToStringSidA(static_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
                result = sid;
                LocalFree(sid);
            }
            LocalFree(buffer);
        }
    }
    CloseHandle(token);
    return result;
}

PSECURITY_DESCRIPTOR fromSddl(const char* full, const char* everyone) {
    std::string sddl = "D:P";
    sddl += std::string("(A;;") + full + ";;;SY)";
    sddl += std::string("(A;;") + full + ";;;BA)";
    const std::string user = currentUserSid();
    if (!user.empty())
        sddl += std::string("(A;;") + full + ";;;" + user + ")";
    sddl += std::string("(A;;") + everyone + ";;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return nullptr;
    return descriptor;
}

}  // namespace

PSECURITY_DESCRIPTOR createSectionSecurity() {
    return fromSddl(kSectionFull, kSectionRead);
}

PSECURITY_DESCRIPTOR createFillLockSecurity() {
    return fromSddl(kMutexFull, kMutexUse);
}

}  // namespace kvo::textconv
