#include "section_security.h"

#include <sddl.h>

#include <cstdio>
#include <cstring>

#include "unique_handle.h"

namespace kvo::textconv {

namespace {

// Section rights: SECTION_ALL_ACCESS (0xF001F) and read (READ_CONTROL | SECTION_MAP_READ | SECTION_QUERY).
constexpr const char* kSectionFull = "0xF001F";
constexpr const char* kSectionRead = "0x20005";

// The SID of the account this process runs as, in string form, into sid (size bytes); false if it
// can't be read or does not fit.
bool currentUserSid(char* sid, size_t size) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    const UniqueHandle tokenOwner(token);
    alignas(TOKEN_USER) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    char* text = nullptr;
    if (!GetTokenInformation(token, TokenUser, user, sizeof(user), &length) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text))
        return false;
    const UniqueLocal textOwner(text);
    if (std::strlen(text) >= size)
        return false;
    std::memcpy(sid, text, std::strlen(text) + 1);
    return true;
}

}  // namespace

PSECURITY_DESCRIPTOR createSectionSecurity() {
    char user[256];
    char userEntry[300] = "";
    if (currentUserSid(user, sizeof(user)))
        std::snprintf(userEntry, sizeof(userEntry), "(A;;%s;;;%s)", kSectionFull, user);
    char sddl[512];
    const int length = std::snprintf(sddl, sizeof(sddl), "D:P(A;;%s;;;SY)(A;;%s;;;BA)%s(A;;%s;;;WD)",
                                     kSectionFull, kSectionFull, userEntry, kSectionRead);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(sddl))
        return nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return descriptor;
}

}  // namespace kvo::textconv
