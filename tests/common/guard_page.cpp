#include "guard_page.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kvotest {

#if defined(_WIN32)
namespace {

std::size_t systemPageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

void* guardedAllocate(std::size_t size) {
    const std::size_t page = systemPageSize();
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

GuardPage::GuardPage(std::size_t readablePages) : page_(systemPageSize()), readable_(readablePages * page_) {
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, readable_ + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    if (base_ != nullptr && !VirtualProtect(base_ + readable_, page_, PAGE_NOACCESS, &old)) {
        VirtualFree(base_, 0, MEM_RELEASE);
        base_ = nullptr;
    }
}

GuardPage::~GuardPage() {
    if (base_ != nullptr)
        VirtualFree(base_, 0, MEM_RELEASE);
}
#else
GuardPage::GuardPage(std::size_t readablePages)
    : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))), readable_(readablePages * page_) {
    void* p = mmap(nullptr, readable_ + page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
    if (base_ != nullptr && mprotect(base_ + readable_, page_, PROT_NONE) != 0) {
        munmap(base_, readable_ + page_);
        base_ = nullptr;
    }
}

GuardPage::~GuardPage() {
    if (base_ != nullptr)
        munmap(base_, readable_ + page_);
}
#endif

const char* GuardPage::place(const std::string& bytes) const {
    char* at = base_ + readable_ - bytes.size() - 1;
    std::memcpy(at, bytes.c_str(), bytes.size() + 1);
    return at;
}

const wchar_t* GuardPage::placeWide(const std::wstring& units) const {
    wchar_t* at = wideEnd(units.size() + 1);
    std::memcpy(at, units.c_str(), (units.size() + 1) * sizeof(wchar_t));
    return at;
}

wchar_t* GuardPage::wideEnd(std::size_t count) const {
    return reinterpret_cast<wchar_t*>(base_ + readable_) - count;
}

#if defined(_WIN32)
GuardedHeap::GuardedHeap()
    : allocate_(kvo::replace(kvo::heap.allocate, guardedAllocate)),
      release_(kvo::replace(kvo::heap.release, guardedRelease)) {}
#endif

}  // namespace kvotest
