// Class path assembly: the boot class path, the application class path (fixed entries, extension
// files, launcher properties), the native library path and the protocol handler packages.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "bounded_path.h"
#include "classpath_rules.h"
#include "classpath.h"
#include "heap.h"
#include "java_arguments.h"
#include "local_code_page.h"
#include "os_calls.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"

namespace kvo::launcher {

namespace {

// The first array of a list; it doubles whenever it is full.
constexpr int kInitialListCapacity = 8;

// Joins the list with ";" into a new string; traces the outcome under the caller's name.
char* joinList(const ClasspathList& list, const char* function, const char* what) {
    const size_t size = joinedSize(list.entries, list.count, kClasspathSeparator);
    char* joined = heapArray<char>(size);
    if (joined == nullptr) {
        KVO_TRACE(traceError, "%s: unable to allocate %d byte(s) for %s", function, static_cast<int>(size),
                  what);
        KVO_TRACE(traceExit, "%s: return ( NIL )", function);
        return nullptr;
    }
    joinEntries(joined, list.entries, list.count, kClasspathSeparator);
    KVO_TRACE(traceExit, "%s: return ( \"%s\" )", function, joined);
    return joined;
}

void addRootRelative(ClasspathList* list, const char* relative) {
    char path[kPathBufferSize];
    joinPath(path, rootDirectory, relative);
    AddClasspathEntryToList(list, path);
}

// New copy of text, or null with the given trace line.
char* copyOrTrace(const char* text, const char* failureFormat) {
    const size_t size = std::strlen(text) + 1;
    char* copy = heapArray<char>(size);
    if (copy == nullptr) {
        KVO_TRACE(traceError, failureFormat, static_cast<int>(size));
        return nullptr;
    }
    std::memcpy(copy, text, size);
    return copy;
}

// The class path entry a "classpath.append.N" value stands for (new string), or null.
char* entryForValue(const char* text) {
    const char* pattern = nullptr;
    switch (classifyClasspathValue(text, &pattern)) {
        case ClasspathValueKind::SystemClasspath:
            return GetEntryFromSystemClasspath(pattern);
        case ClasspathValueKind::Verbatim:
            return copyOrTrace(text, "ProcessClasspathProperties: unable to allocate %d byte(s) for entry");
        case ClasspathValueKind::RootRelative:
        default: {
            const size_t needed = std::strlen(rootDirectory) + std::strlen(text) + 1;
            const size_t size = needed < static_cast<size_t>(kPathBufferSize) ? needed : kPathBufferSize;
            char* entry = heapArray<char>(size);
            if (entry == nullptr) {
                KVO_TRACE(traceError, "ProcessClasspathProperties: unable to allocate %d byte(s) for entry",
                          static_cast<int>(size));
                return nullptr;
            }
            joinPath(entry, rootDirectory, text);  // at most size bytes: cut at 259 characters
            return entry;
        }
    }
}

}  // namespace

void freeClasspathList(ClasspathList* list) {
    for (int i = 0; i < list->count; ++i)
        heapRelease(list->entries[i]);
    heapRelease(list->entries);
    list->entries = nullptr;
    list->count = 0;
    list->capacity = 0;
}

char* BuildBootClasspath() {
    KVO_TRACE(traceEntry, "BuildBootClasspath");
    ClasspathList list;
    for (int i = 0; i < kBootClasspathEntryCount; ++i)
        addRootRelative(&list, kBootClasspathEntries[i]);
    char* result = joinList(list, "BuildBootClasspath", "boot classpath");
    freeClasspathList(&list);
    return result;
}

char* BuildClasspath() {
    KVO_TRACE(traceEntry, "BuildClasspath");
    ClasspathList list;
    for (int i = 0; i < kFixedClasspathEntryCount; ++i)
        addRootRelative(&list, kFixedClasspathEntries[i]);
    const Variant& variant = currentVariant();
    for (int i = 0; i < variant.extensionFilterCount(); ++i)
        SearchExtensions(&list, variant.extensionFilter(i));
    ProcessClasspathProperties(&list, &launcherProperties);
    char* result = joinList(list, "BuildClasspath", "classpath");
    freeClasspathList(&list);
    return result;
}

void AddClasspathEntryToList(ClasspathList* list, const char* entry) {
    KVO_TRACE(traceEntry, "AddClasspathEntryToList: list = %p, entries = %d, entry = \"%s\"",
              static_cast<void*>(list), list->count, entry ? entry : "");
    if (entry == nullptr) {
        KVO_TRACE(traceExit, "AddClasspathEntryToList");
        return;
    }
    for (int i = 0; i < list->count; ++i) {
        if (equalsIgnoreCase(list->entries[i], entry, isLocalLeadByte)) {
            KVO_TRACE(traceExit, "AddClasspathEntryToList");
            return;
        }
    }
    if (list->count == list->capacity) {
        const int capacity = list->capacity > 0 ? list->capacity * 2 : kInitialListCapacity;
        char** grown = heapArray<char*>(static_cast<size_t>(capacity));
        if (grown == nullptr) {
            KVO_TRACE(traceError, "AddClasspathEntryToList: unable to allocate %d byte(s) for list",
                      static_cast<int>(static_cast<size_t>(capacity) * sizeof(char*)));
            KVO_TRACE(traceExit, "AddClasspathEntryToList");
            return;
        }
        if (list->count > 0)
            std::memcpy(grown, list->entries, static_cast<size_t>(list->count) * sizeof(char*));
        heapRelease(list->entries);
        list->entries = grown;
        list->capacity = capacity;
    }
    char* copy = copyOrTrace(entry, "AddClasspathEntryToList: unable to allocate %d byte(s) for entry");
    if (copy != nullptr)
        list->entries[list->count++] = copy;
    KVO_TRACE(traceExit, "AddClasspathEntryToList");
}

void SearchExtensions(ClasspathList* list, const char* filter) {
    KVO_TRACE(traceEntry, "SearchExtensions: list = %p, entries = %d, filter = \"%s\"",
              static_cast<void*>(list), list->count, filter);
    char pattern[kPathBufferSize];
    joinPath(pattern, rootDirectory, kExtensionDirectory);
    appendPath(pattern, filter);
    KVO_TRACE(traceInfo, "SearchExtensions: file name filter = \"%s\"", pattern);

    WIN32_FIND_DATAA found;
    HANDLE search = os.FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        KVO_TRACE(traceInfo, "SearchExtensions: unable to open search handle; rc = X'%lX'", GetLastError());
        KVO_TRACE(traceExit, "SearchExtensions");
        return;
    }
    do {
        char path[kPathBufferSize];
        joinPath(path, rootDirectory, kExtensionDirectory);
        appendPath(path, found.cFileName);
        KVO_TRACE(traceInfo, "SearchExtensions: extension file name = \"%s\"", path);
        FILE* file = os.fopen(path, "r");
        if (file == nullptr) {
            KVO_TRACE(traceInfo, "SearchExtensions: unable to open file \"%s\"; rc = X'%X'", path, errno);
            continue;
        }
        Properties extension;
        // What was read before memory ran out is used.
        if (!extension.load(file))
            KVO_TRACE(traceError, "SearchExtensions: insufficient storage to load file \"%s\"", path);
        std::fclose(file);
        ProcessClasspathProperties(list, &extension);
    } while (os.FindNextFileA(search, &found));
    if (!os.FindClose(search))
        KVO_TRACE(traceInfo, "SearchExtensions: unable close search handle; rc = X'%lX'", GetLastError());
    KVO_TRACE(traceExit, "SearchExtensions");
}

void ProcessClasspathProperties(ClasspathList* list, const Properties* properties) {
    KVO_TRACE(traceEntry, "ProcessClasspathProperties: list = %p, entries = %d", static_cast<void*>(list),
              list->count);
    for (int n = 1; properties != nullptr && n > 0; ++n) {
        wchar_t key[kPathBufferSize];
        std::swprintf(key, kPathBufferSize, L"classpath.append.%d", n);
        KVO_TRACE(traceInfo, "ProcessClasspathProperties: key = \"%S\"", key);
        const wchar_t* value = properties->getProperty(key);
        if (value == nullptr) {
            KVO_TRACE(traceInfo, "ProcessClasspathProperties: key \"%S\" not found", key);
            break;
        }
        KVO_TRACE(traceInfo, "ProcessClasspathProperties: %S = \"%S\"", key, value);
        // A value that cannot be had in the local code page is skipped, as a failed allocation is.
        const LocalText local = localTextOf(value);
        if (!local.text) {
            if (local.noMemory)
                KVO_TRACE(traceError, "ProcessClasspathProperties: unable to allocate %d byte(s) for buffer",
                          local.size);
            else
                KVO_TRACE(traceError, "ProcessClasspathProperties: unable to convert \"%S\"; rc = X'%lX'",
                          value, local.error);
            continue;
        }
        HeapArray<char> entry(entryForValue(local.text.get()));
        if (entry) {
            NormalizeFileName(entry.get());
            AddClasspathEntryToList(list, entry.get());
        }
    }
    KVO_TRACE(traceExit, "ProcessClasspathProperties");
}

char* GetEntryFromSystemClasspath(const char* pattern) {
    KVO_TRACE(traceEntry, "GetEntryFromSystemClasspath: pattern = \"%s\"", pattern ? pattern : "");
    const char* value = std::getenv("CLASSPATH");
    char* result = nullptr;
    if (value == nullptr) {
        KVO_TRACE(traceInfoHigh, "GetEntryFromSystemClasspath: CLASSPATH = NIL");
    } else if (pattern != nullptr) {
        KVO_TRACE(traceInfoHigh, "GetEntryFromSystemClasspath: CLASSPATH = \"%s\"", value);
        HeapArray<char> patternCopy(
            copyOrTrace(pattern, "GetEntryFromSystemClasspath: unable to allocate %d byte(s) for pattern"));
        HeapArray<char> classpathCopy(
            patternCopy
                ? copyOrTrace(value,
                              "GetEntryFromSystemClasspath: unable to allocate %d byte(s) for classpath")
                : nullptr);
        if (classpathCopy) {
            NormalizeFileName(patternCopy.get());
            NormalizeFileName(classpathCopy.get());
            KVO_TRACE(traceInfoHigh, "GetEntryFromSystemClasspath: searching for pattern \"%s\" in \"%s\"",
                      patternCopy.get(), classpathCopy.get());
            const char* match = firstEntryEndingWith(
                classpathCopy.get(), patternCopy.get(), isLocalLeadByte, [](const char* entry) {
                    KVO_TRACE(traceInfoHigh, "GetEntryFromSystemClasspath: entry = \"%s\"", entry);
                });
            if (match != nullptr)
                result = copyOrTrace(
                    match, "GetEntryFromSystemClasspath: unable to allocate %d byte(s) for classpath entry");
        }
    }
    if (result != nullptr)
        KVO_TRACE(traceExit, "GetEntryFromSystemClasspath: return ( \"%s\" )", result);
    else
        KVO_TRACE(traceExit, "GetEntryFromSystemClasspath: return ( NIL )");
    return result;
}

char* BuildLibraryPath() {
    KVO_TRACE(traceEntry, "BuildLibraryPath");
    const char* path = std::getenv("PATH");
    if (path != nullptr)
        KVO_TRACE(traceInfoHigh, "BuildLibraryPath: PATH = \"%s\"", path);
    const size_t size = libraryPathSize(jniDirectory, binDirectory, path);
    char* result = heapArray<char>(size);
    if (result == nullptr) {
        KVO_TRACE(traceError, "BuildLibraryPath: unable to allocate %d byte(s) for library path",
                  static_cast<int>(size));
        KVO_TRACE(traceExit, "BuildLibraryPath: return ( NIL )");
        return nullptr;
    }
    std::memset(result, 0, size);
    composeLibraryPath(result, jniDirectory, binDirectory, path);
    KVO_TRACE(traceExit, "BuildLibraryPath: return ( \"%s\" )", result);
    return result;
}

char* BuildProtocolHandler() {
    KVO_TRACE(traceEntry, "BuildProtocolHandler");
    const size_t size =
        joinedSize(kProtocolHandlerPackages, kProtocolHandlerPackageCount, kProtocolHandlerSeparator);
    char* result = heapArray<char>(size);
    if (result == nullptr) {
        KVO_TRACE(traceError, "BuildProtocolHandler: unable to allocate %d byte(s) for protocol handler",
                  static_cast<int>(size));
        KVO_TRACE(traceExit, "BuildProtocolHandler: return ( NIL )");
        return nullptr;
    }
    joinEntries(result, kProtocolHandlerPackages, kProtocolHandlerPackageCount, kProtocolHandlerSeparator);
    KVO_TRACE(traceExit, "BuildProtocolHandler: return ( \"%s\" )", result);
    return result;
}

}  // namespace kvo::launcher
