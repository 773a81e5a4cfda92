// Owners of the installer's handles and of directory searches: each closes what it holds when it
// goes out of scope, and before an installer call fills in a new handle (receive), so a loop that
// fetches record after record into the same owner never leaks one.
#pragma once

#include <windows.h>
#include <msi.h>

#include "os_calls.h"

namespace kvo::installer {

// A database, view or record handle; never the session handle the installer passes in.
class UniqueMsiHandle {
public:
    UniqueMsiHandle() = default;
    explicit UniqueMsiHandle(MSIHANDLE handle) : handle_(handle) {}
    ~UniqueMsiHandle() { reset(); }
    UniqueMsiHandle(UniqueMsiHandle&& other) noexcept : handle_(other.release()) {}
    UniqueMsiHandle& operator=(UniqueMsiHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueMsiHandle(const UniqueMsiHandle&) = delete;
    UniqueMsiHandle& operator=(const UniqueMsiHandle&) = delete;

    MSIHANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }

    // Closes the handle held and gives the address for an installer call to fill in.
    MSIHANDLE* receive() {
        reset();
        return &handle_;
    }
    MSIHANDLE release() {
        MSIHANDLE handle = handle_;
        handle_ = 0;
        return handle;
    }
    void reset(MSIHANDLE handle = 0) {
        if (handle_ != 0)
            os.MsiCloseHandle(handle_);
        handle_ = handle;
    }

private:
    MSIHANDLE handle_ = 0;
};

// A directory search from FindFirstFileW.
class UniqueFind {
public:
    explicit UniqueFind(HANDLE search) : search_(search) {}
    ~UniqueFind() { close(); }
    UniqueFind(const UniqueFind&) = delete;
    UniqueFind& operator=(const UniqueFind&) = delete;

    bool valid() const { return search_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return search_; }
    // Ends the search now; the result of FindClose (TRUE when there was none to close).
    BOOL close() {
        if (search_ == INVALID_HANDLE_VALUE)
            return TRUE;
        const BOOL closed = os.FindClose(search_);
        search_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE search_;
};

}  // namespace kvo::installer
