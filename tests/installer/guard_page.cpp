#include "guard_page.h"

namespace kvotest {

namespace {

std::size_t pageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

void* guardedAllocate(std::size_t size) {
    const std::size_t page = pageSize();
    const std::size_t pages = (size + page - 1) / page;
    char* base = static_cast<char*>(
        VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr)
        return nullptr;
    DWORD old;
    VirtualProtect(base + pages * page, page, PAGE_NOACCESS, &old);
    return base + pages * page - size;
}

void guardedRelease(void* block) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(block, &info, sizeof info) != 0)
        VirtualFree(info.AllocationBase, 0, MEM_RELEASE);
}

}  // namespace

GuardPage::GuardPage() : page_(pageSize()) {
    base_ = static_cast<char*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    if (base_ != nullptr)
        VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
}

GuardPage::~GuardPage() {
    if (base_ != nullptr)
        VirtualFree(base_, 0, MEM_RELEASE);
}

wchar_t* GuardPage::wideEnd(std::size_t count) const {
    return reinterpret_cast<wchar_t*>(base_ + page_) - count;
}

GuardedHeap::GuardedHeap() : saved_(kvo::heap) {
    kvo::heap.allocate = guardedAllocate;
    kvo::heap.release = guardedRelease;
}

GuardedHeap::~GuardedHeap() {
    kvo::heap = saved_;
}

}  // namespace kvotest
