// Owners of the installer's handles and of directory searches: each closes what it holds when it
// goes out of scope, and before an installer call fills in a new handle (receive), so a loop that
// fetches record after record into the same owner never leaks one. Both close through the library's
// system calls, so that tests can watch and fail the closing.
#pragma once

#include <windows.h>
#include <msi.h>

#include "os_calls.h"
#include "unique_handle.h"

namespace kvo::installer {

// A database, view or record handle; never the session handle the installer passes in.
struct MsiHandleTraits {
    using Value = MSIHANDLE;
    static MSIHANDLE none() { return 0; }
    static bool owns(MSIHANDLE handle) { return handle != 0; }
    static void close(MSIHANDLE handle) { os.MsiCloseHandle(handle); }
};
using UniqueMsiHandle = UniqueResource<MsiHandleTraits>;

struct InstallerFindTraits : FindSearchTraits {
    static void close(HANDLE search) { os.FindClose(search); }
};

// A directory search from FindFirstFileW.
class UniqueFind : public UniqueResource<InstallerFindTraits> {
public:
    using UniqueResource::UniqueResource;
    // Ends the search now; the result of FindClose (TRUE when there was none to close).
    BOOL close() { return valid() ? os.FindClose(release()) : TRUE; }
};

}  // namespace kvo::installer
