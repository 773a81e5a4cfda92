// Memory that ends at an inaccessible page: a read or write one unit past the end faults, and the test
// program ends there.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "heap.h"
#include "seam.h"

namespace kvotest {

// One readable and writable page followed by a PAGE_NOACCESS page, released at the end.
class GuardPage {
public:
    GuardPage();
    ~GuardPage();
    GuardPage(const GuardPage&) = delete;
    GuardPage& operator=(const GuardPage&) = delete;
    bool ok() const { return base_ != nullptr; }
    // Copies the bytes and their terminator so that the terminator ends the readable page.
    const char* place(const std::string& bytes) const;
    // The same for 16-bit units.
    const wchar_t* placeWide(const std::wstring& units) const;
    // count wide characters that end where the guard page begins.
    wchar_t* wideEnd(std::size_t count) const;

private:
    std::size_t page_ = 0;
    char* base_ = nullptr;
};

// While it lives, every allocation through kvo::heap is placed so that its end touches a guard page.
class GuardedHeap {
public:
    GuardedHeap();
    GuardedHeap(const GuardedHeap&) = delete;
    GuardedHeap& operator=(const GuardedHeap&) = delete;

private:
    kvo::Replacement<void* (*)(std::size_t)> allocate_;
    kvo::Replacement<void (*)(void*)> release_;
};

}  // namespace kvotest
