// Security descriptor of the shared mapping sections.
#pragma once

#include <windows.h>

namespace kvo::textconv {

// Section: everyone may read; only the creating account, SYSTEM and Administrators may write.
// Returns a descriptor to be freed with LocalFree, or null.
PSECURITY_DESCRIPTOR createSectionSecurity();

}  // namespace kvo::textconv
