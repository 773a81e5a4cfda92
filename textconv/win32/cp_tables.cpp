// Loading a table: the named shared section "KVO" + file name is filled once from the mapping file
// (under a named lock, so no process ever sees a half-filled image) and mapped read-only by every
// other user; the image is validated before any record is used.
#include "cp_tables.h"

#include <cstdio>
#include <cstring>

#include "codepage_numbers.h"
#include "kvoucd32.h"
#include "module_handle.h"
#include "os_calls.h"
#include "section_security.h"
#include "unique_handle.h"

namespace kvo::textconv {

HMODULE libraryModule = nullptr;
OsCalls os;

namespace {

constexpr DWORD kFillLockTimeoutMs = 10000;

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

// Held while a section is created and filled; an abandoned lock (its holder died mid-fill) counts as
// not acquired, since the section may then hold a partial image.
class FillLock {
public:
    explicit FillLock(const char* name) {
        SECURITY_ATTRIBUTES sa{sizeof(sa), createFillLockSecurity(), FALSE};
        mutex_ = os.CreateMutexA(sa.lpSecurityDescriptor ? &sa : nullptr, FALSE, name);
        if (mutex_ == nullptr)
            mutex_ = os.OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
        if (sa.lpSecurityDescriptor)
            LocalFree(sa.lpSecurityDescriptor);
        if (mutex_ == nullptr)
            return;
        const DWORD wait = os.WaitForSingleObject(mutex_, kFillLockTimeoutMs);
        if (wait == WAIT_OBJECT_0)
            held_ = true;
        else if (wait == WAIT_ABANDONED)
            ReleaseMutex(mutex_);
    }
    ~FillLock() {
        if (held_)
            ReleaseMutex(mutex_);
        if (mutex_ != nullptr)
            CloseHandle(mutex_);
    }
    FillLock(const FillLock&) = delete;
    FillLock& operator=(const FillLock&) = delete;
    bool held() const { return held_; }

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
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

bool readExactly(HANDLE file, unsigned char* into, DWORD count) {
    while (count > 0) {
        DWORD got = 0;
        if (!os.ReadFile(file, into, count, &got, nullptr) || got == 0)
            return false;
        into += got;
        count -= got;
    }
    return true;
}

// Fills a new section's view from the mapping file; returns the image size or 0.
DWORD fillFromFile(const char* path, unsigned char* view) {
    UniqueHandle file(os.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return 0;
    LARGE_INTEGER fileSize;
    if (!os.GetFileSizeEx(file.get(), &fileSize) ||
        fileSize.QuadPart < static_cast<LONGLONG>(kCpImageHeaderSize))
        return 0;
    unsigned char head[4];
    if (!readExactly(file.get(), head, sizeof(head)))
        return 0;
    const DWORD size = readLe32(head);
    // A file shorter than its size field is truncated; one larger than the section can't be held.
    if (size < kCpImageHeaderSize || size > kCpImageMaxSize ||
        static_cast<LONGLONG>(size) > fileSize.QuadPart)
        return 0;
    if (os.SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return 0;
    if (os.VirtualAlloc(view, size, MEM_COMMIT, PAGE_READWRITE) == nullptr)
        return 0;
    if (!readExactly(file.get(), view, size))
        return 0;
    return size;
}

// Makes the image of an existing section readable in this process's read-only view; returns its
// size or 0.
DWORD openExisting(unsigned char* view) {
    if (os.VirtualAlloc(view, 4, MEM_COMMIT, PAGE_READONLY) == nullptr)
        return 0;
    const DWORD size = readLe32(view);
    if (size < kCpImageHeaderSize || size > kCpImageMaxSize)
        return 0;
    if (os.VirtualAlloc(view, size, MEM_COMMIT, PAGE_READONLY) == nullptr)
        return 0;
    MEMORY_BASIC_INFORMATION info;
    if (os.VirtualQuery(view, &info, sizeof(info)) == 0 || info.State != MEM_COMMIT || info.RegionSize < size)
        return 0;
    return size;
}

}  // namespace

cp_tables::cp_tables(unsigned codePage) {
    descriptor = createSectionSecurity();
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = descriptor;
    security.bInheritHandle = TRUE;
    if (codePage == 0)
        codePage = static_cast<unsigned>(NFGetCodepage());
    code_page = kvo::textconv::mappingCodePageOf(codePage);
}

cp_tables::~cp_tables() {
    release();
    if (descriptor != nullptr)
        LocalFree(descriptor);
}

void cp_tables::release() {
    if (view != nullptr)
        UnmapViewOfFile(const_cast<unsigned char*>(view));
    if (section != nullptr)
        CloseHandle(section);
    view = nullptr;
    section = nullptr;
    records = kvo::textconv::CpRecords{};
    fast = kvo::textconv::CpFastTables{};
}

int cp_tables::load() {
    if (loaded.load(std::memory_order_acquire))
        return 1;
    const ExclusiveLock guard(&loadLock);
    // Loaded by another thread while this one waited; readers are using the tables already.
    if (loaded.load(std::memory_order_relaxed))
        return 1;
    int result = 0;
    if (descriptor != nullptr) {
        char path[1024];
        char sectionName[64];
        char lockName[80];
        if (mappingNames(code_page, path, sizeof(path), sectionName, sizeof(sectionName))) {
            std::snprintf(lockName, sizeof(lockName), "%s.fill", sectionName);
            FillLock lock(lockName);
            if (lock.held()) {
                UniqueHandle mapping(os.CreateFileMappingA(INVALID_HANDLE_VALUE, &security,
                                                           PAGE_READWRITE | SEC_RESERVE, 0,
                                                           static_cast<DWORD>(kCpImageMaxSize), sectionName));
                const DWORD error = GetLastError();
                bool existed = error == ERROR_ALREADY_EXISTS;
                if (!mapping.valid() && error == ERROR_ACCESS_DENIED) {
                    // Created by an account that lets this one only read it.
                    mapping.reset(os.OpenFileMappingA(FILE_MAP_READ, FALSE, sectionName));
                    existed = true;
                }
                if (mapping.valid()) {
                    DWORD size = 0;
                    if (existed) {
                        UniqueView mapped(os.MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
                        if (mapped.get() != nullptr && (size = openExisting(mapped.get())) != 0 &&
                            parseCpImage(mapped.get(), size, &records)) {
                            view = static_cast<unsigned char*>(mapped.release());
                        }
                    } else {
                        UniqueView mapped(
                            os.MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
                        if (mapped.get() != nullptr && (size = fillFromFile(path, mapped.get())) != 0 &&
                            parseCpImage(mapped.get(), size, &records)) {
                            DWORD old;
                            os.VirtualProtect(mapped.get(), size, PAGE_READONLY, &old);
                            view = static_cast<unsigned char*>(mapped.release());
                        }
                    }
                    if (view != nullptr) {
                        section = mapping.release();
                        result = 1;
                    } else {
                        records = kvo::textconv::CpRecords{};
                    }
                }
            }
        }
    }
    if (result && !kvo::textconv::buildFastTables(records, &fast)) {
        release();  // the tables' memory can't be had: not loaded, tried again at the next call
        result = 0;
    }
    if (result)
        loaded.store(true, std::memory_order_release);
    return result;
}

}  // namespace kvo::textconv
