// The names a directory listing collects before it builds its Java array: heap copies in a list that
// grows by 32 entries at a time. Platform-free.
#pragma once

#include <cstddef>

#include "heap.h"

namespace kvo::fsnative {

class NameList {
public:
    static constexpr std::size_t kGrowth = 32;

    NameList() = default;
    ~NameList();
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;

    // Appends a copy of name; false (the list unchanged) when memory is short.
    bool add(const char* name);
    std::size_t size() const { return size_; }
    const char* operator[](std::size_t i) const { return names_[i]; }

private:
    HeapArray<char*> names_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace kvo::fsnative
