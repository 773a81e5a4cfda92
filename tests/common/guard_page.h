// Memory that ends at an inaccessible page: a read or write one unit past the end faults, and the test
// program ends there. GuardPage is built natively too (mmap and mprotect there).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include "heap.h"
#include "seam.h"
#endif

namespace kvotest {

// Readable and writable pages (one unless more are asked for) followed by an inaccessible page,
// released at the end.
class GuardPage {
public:
    explicit GuardPage(std::size_t readablePages = 1);
    ~GuardPage();
    GuardPage(const GuardPage&) = delete;
    GuardPage& operator=(const GuardPage&) = delete;
    bool ok() const { return base_ != nullptr; }
    std::size_t pageSize() const { return page_; }
    // Copies the bytes and their terminator so that the terminator ends the readable pages.
    const char* place(const std::string& bytes) const;
    // The same for 16-bit units.
    const wchar_t* placeWide(const std::wstring& units) const;
    // count wide characters that end where the guard page begins.
    wchar_t* wideEnd(std::size_t count) const;
    // Fills the readable pages with the byte fill, then copies n elements and a terminator so that gap
    // bytes lie between the terminator and the guard page.
    template <class T>
    T* placeBefore(const T* s, std::size_t n, std::size_t gap, unsigned char fill) const {
        std::memset(base_, fill, readable_);
        T* at = reinterpret_cast<T*>(base_ + readable_ - gap) - (n + 1);
        std::memcpy(at, s, n * sizeof(T));
        at[n] = 0;
        return at;
    }

private:
    std::size_t page_ = 0;
    std::size_t readable_ = 0;
    char* base_ = nullptr;
};

#if defined(_WIN32)
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
#endif

}  // namespace kvotest
