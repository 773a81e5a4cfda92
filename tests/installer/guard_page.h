// Memory that ends at an inaccessible page: a write (or read) one unit past the end faults, and the
// test program ends with a message (installer_test_support.cpp reports the fault).
#pragma once

#include <windows.h>

#include <cstddef>

#include "heap.h"

namespace kvotest {

class GuardPage {
public:
    GuardPage();
    ~GuardPage();
    GuardPage(const GuardPage&) = delete;
    GuardPage& operator=(const GuardPage&) = delete;
    bool ok() const { return base_ != nullptr; }
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
    ~GuardedHeap();
    GuardedHeap(const GuardedHeap&) = delete;
    GuardedHeap& operator=(const GuardedHeap&) = delete;

private:
    kvo::HeapCalls saved_;
};

}  // namespace kvotest
