// Installation directories below which the removal actions walk nothing: the roots of drives and
// shares, and the folders the system shares between products and users.
#pragma once

#include <windows.h>
#include <msi.h>

namespace kvo::installer {

// Whether a removal action may walk the installation directory `location` for `what` it removes
// ("empty folders"); when it may not, the reason is logged as an info line. The system's shared
// folders are those the installer resolved for this session (its folder properties: both program
// files folders whatever the library's own bitness, the Windows, system, common-files and
// ProgramData folders, the user's application-data, documents, desktop and temporary folders), and,
// for what it has no property for, the system's folder of the user profiles and the user's profile;
// any folder directly in the profiles folder is a profile too.
bool mayWalkBelow(MSIHANDLE session, const wchar_t* location, const wchar_t* what);

}  // namespace kvo::installer
