// Loading a table. The named shared section "KVO" + file name is filled once, from the mapping file,
// by the process that creates it, and only read by every other process. The creator writes the size
// field at the start of the image last, so a section whose size field is still 0 is being filled (or
// its filler failed): a process that finds it so, or finds the name taken by something it can't use,
// loads the file into a section of its own instead of waiting for anyone. No lock is shared between
// processes, so nothing another process holds can stall a conversion. The image is validated before
// any record is used.
#include "cp_tables.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "codepage_numbers.h"
#include "kvoucd32.h"
#include "module_handle.h"
#include "os_calls.h"
#include "section_security.h"

namespace kvo::textconv {

HMODULE libraryModule = nullptr;
OsCalls os;

namespace {

// Holds an SRW lock exclusively for its scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK* lock_;
};

// Full path of the mapping file beside the library and the section name; false if the library's
// path has no backslash or the names do not fit.
bool mappingNames(unsigned codePage, char* path, size_t pathSize, char* sectionName, size_t nameSize) {
    const DWORD n = os.GetModuleFileNameA(libraryModule, path, static_cast<DWORD>(pathSize));
    if (n == 0 || n >= pathSize)
        return false;
    char* lastSlash = nullptr;
    for (char* p = path; *p; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != 0)
            ++p;
        else if (*p == '\\')
            lastSlash = p;
    }
    if (lastSlash == nullptr)
        return false;
    char fileName[32];
    std::snprintf(fileName, sizeof(fileName), "CP%u.UNI", codePage);
    const size_t dirLength = static_cast<size_t>(lastSlash + 1 - path);
    if (dirLength + std::strlen(fileName) + 1 > pathSize)
        return false;
    std::memcpy(lastSlash + 1, fileName, std::strlen(fileName) + 1);
    return std::snprintf(sectionName, nameSize, "KVO%s", fileName) < static_cast<int>(nameSize);
}

// Reads up to count bytes, as far as the file goes; false only when a read fails.
bool readUpTo(HANDLE file, unsigned char* into, DWORD count, DWORD* got) {
    *got = 0;
    while (*got < count) {
        DWORD n = 0;
        if (!os.ReadFile(file, into + *got, count - *got, &n, nullptr))
            return false;
        if (n == 0)
            break;  // end of the file
        *got += n;
    }
    return true;
}

bool sizeInRange(DWORD size) {
    return size >= kCpImageHeaderSize && size <= kCpImageMaxSize;
}

// The size field of a mapped image, read once: 0 while the image is still being filled.
DWORD publishedSize(const unsigned char* view) {
    const uint32_t word = *reinterpret_cast<const volatile uint32_t*>(view);
    std::atomic_thread_fence(std::memory_order_acquire);
    unsigned char bytes[4];
    std::memcpy(bytes, &word, sizeof(bytes));
    return readLe32(bytes);
}

// Fills a new section's writable view from the mapping file: the image as far as the file goes, the
// rest of it zero (a fresh commit is zero), then, last, its size field. Returns the size or 0.
DWORD fillFromFile(const char* path, unsigned char* view) {
    UniqueHandle file(os.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return 0;
    unsigned char head[4];
    DWORD got = 0;
    if (!readUpTo(file.get(), head, sizeof(head), &got) || got != sizeof(head))
        return 0;
    const DWORD size = readLe32(head);
    if (!sizeInRange(size))
        return 0;  // also what would not fit in the section
    if (os.VirtualAlloc(view, size, MEM_COMMIT, PAGE_READWRITE) == nullptr)
        return 0;
    if (!readUpTo(file.get(), view + sizeof(head), size - sizeof(head), &got))
        return 0;
    uint32_t word;
    std::memcpy(&word, head, sizeof(word));
    std::atomic_thread_fence(std::memory_order_release);
    *reinterpret_cast<volatile uint32_t*>(view) = word;
    return size;
}

// Makes the complete image of an existing section readable in this process's view; returns its size,
// or 0 if the section holds no complete image.
DWORD completeImage(unsigned char* view) {
    if (os.VirtualAlloc(view, 4, MEM_COMMIT, PAGE_READONLY) == nullptr)
        return 0;
    const DWORD size = publishedSize(view);
    if (!sizeInRange(size))
        return 0;
    if (os.VirtualAlloc(view, size, MEM_COMMIT, PAGE_READONLY) == nullptr)
        return 0;
    MEMORY_BASIC_INFORMATION info;
    if (os.VirtualQuery(view, &info, sizeof(info)) == 0 || info.State != MEM_COMMIT || info.RegionSize < size)
        return 0;
    return size;
}

// A section with a validated image in this process's view.
struct Mapped {
    UniqueHandle section;
    UniqueView view;
    CpRecords records{};
};

// Maps an existing section read-only; true if it holds a complete, valid image.
bool useExisting(UniqueHandle section, Mapped* out) {
    UniqueView view(os.MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
    if (view.get() == nullptr)
        return false;
    const DWORD size = completeImage(static_cast<unsigned char*>(view.get()));
    if (size == 0 || !parseCpImage(static_cast<const unsigned char*>(view.get()), size, &out->records))
        return false;
    out->section = std::move(section);
    out->view = std::move(view);
    return true;
}

// The named section if it exists: no lock, no waiting.
bool openShared(const char* name, Mapped* out) {
    UniqueHandle section(os.OpenFileMappingA(FILE_MAP_READ, FALSE, name));
    return section.valid() && useExisting(std::move(section), out);
}

// Creates a section (named with the given security, or, with a null name, of this process alone) and
// fills it from the file. A named section that another process created meanwhile is used as it is.
bool createAndFill(const char* name, SECURITY_ATTRIBUTES* security, const char* path, Mapped* out) {
    SetLastError(ERROR_SUCCESS);
    UniqueHandle section(os.CreateFileMappingA(INVALID_HANDLE_VALUE, security, PAGE_READWRITE | SEC_RESERVE,
                                               0, static_cast<DWORD>(kCpImageMaxSize), name));
    if (!section.valid())
        return false;
    if (name != nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        return useExisting(std::move(section), out);
    UniqueView view(os.MapViewOfFile(section.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    if (view.get() == nullptr)
        return false;
    unsigned char* image = static_cast<unsigned char*>(view.get());
    const DWORD size = fillFromFile(path, image);
    if (size == 0 || !parseCpImage(image, size, &out->records))
        return false;
    DWORD old;
    os.VirtualProtect(image, size, PAGE_READONLY, &old);
    out->section = std::move(section);
    out->view = std::move(view);
    return true;
}

}  // namespace

cp_tables::cp_tables(unsigned codePage) : descriptor(createSectionSecurity()) {
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = descriptor.get();
    security.bInheritHandle = TRUE;
    if (codePage == 0)
        codePage = static_cast<unsigned>(NFGetCodepage());
    code_page = kvo::textconv::mappingCodePageOf(codePage);
}

cp_tables::~cp_tables() = default;

int cp_tables::loadOnce() {
    const ExclusiveLock guard(&loadLock);
    // Loaded by another thread while this one waited: readers may be using the tables already.
    if (loaded.load(std::memory_order_relaxed) || loadImage())
        return 1;
    return 0;
}

// The shared section if it exists with a complete, valid image; else a new shared section filled
// here; else (the name taken by a section that is being filled, holds something else, or is no
// section) a section of this process alone. Everything acquired by a failed attempt is released.
bool cp_tables::loadImage() {
    char path[1024];
    char sectionName[64];
    if (!mappingNames(code_page, path, sizeof(path), sectionName, sizeof(sectionName)))
        return false;
    Mapped mapped;
    const bool ok = openShared(sectionName, &mapped) ||
                    (descriptor.get() != nullptr && createAndFill(sectionName, &security, path, &mapped)) ||
                    createAndFill(nullptr, nullptr, path, &mapped);
    if (!ok || !kvo::textconv::buildFastTables(mapped.records, &fast))
        return false;
    records = mapped.records;
    section = std::move(mapped.section);
    view = std::move(mapped.view);
    loaded.store(true, std::memory_order_release);
    return true;
}

}  // namespace kvo::textconv
