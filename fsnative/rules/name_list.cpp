#include "name_list.h"

#include <cstring>

namespace kvo::fsnative {

NameList::~NameList() {
    for (std::size_t i = 0; i < size_; ++i)
        heapRelease(names_[i]);
}

bool NameList::add(const char* name) {
    if (size_ == capacity_) {
        HeapArray<char*> grown = makeHeapArray<char*>(capacity_ + kGrowth);
        if (!grown)
            return false;
        if (size_ != 0)
            std::memcpy(grown.get(), names_.get(), size_ * sizeof(char*));
        names_ = std::move(grown);
        capacity_ += kGrowth;
    }
    const std::size_t length = std::strlen(name);
    char* copy = heapArray<char>(length + 1);
    if (copy == nullptr)
        return false;
    std::memcpy(copy, name, length + 1);
    names_[size_++] = copy;
    return true;
}

}  // namespace kvo::fsnative
