#include "guard_page.h"

#include <cstring>

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

const char* GuardPage::place(const std::string& bytes) const {
    char* at = base_ + page_ - bytes.size() - 1;
    std::memcpy(at, bytes.c_str(), bytes.size() + 1);
    return at;
}

const wchar_t* GuardPage::placeWide(const std::wstring& units) const {
    wchar_t* at = wideEnd(units.size() + 1);
    std::memcpy(at, units.c_str(), (units.size() + 1) * sizeof(wchar_t));
    return at;
}

wchar_t* GuardPage::wideEnd(std::size_t count) const {
    return reinterpret_cast<wchar_t*>(base_ + page_) - count;
}

GuardedHeap::GuardedHeap()
    : allocate_(kvo::replace(kvo::heap.allocate, guardedAllocate)),
      release_(kvo::replace(kvo::heap.release, guardedRelease)) {}

}  // namespace kvotest
