// Security descriptors of the shared mapping sections and of the lock that guards their first fill.
#pragma once

#include <windows.h>

namespace kvo::textconv {

// Section: everyone may read; only the creating account, SYSTEM and Administrators may write.
// Returns a descriptor to be freed with LocalFree, or null.
PSECURITY_DESCRIPTOR createSectionSecurity();

// Fill lock: everyone may wait for it and release it; only the same three accounts may change it.
PSECURITY_DESCRIPTOR createFillLockSecurity();

}  // namespace kvo::textconv
