// The process the JVM runs in: dump environment variables, one processor, the system's locale.
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "heap.h"
#include "process_environment.h"
#include "state.h"
#include "trace_log.h"
#include "locale_map.h"
#include "processor_choice.h"

namespace kvo::launcher {

namespace {

struct DumpVariable {
    const char* name;
    const char* value;  // null: the log directory
};

const DumpVariable kDumpVariables[] = {
    {"JAVA_DUMP_OPTS", "ONANYSIGNAL(JAVADUMP),ONINTERRUPT(NONE)"},
    {"ZAL_HEAPDUMP", "true"},
    {"ZAL_HEAPDUMPDIR", nullptr},
    {"ZAL_HEAPDUMP_OUTOFMEMORY", "true"},
    {"ZAL_JAVADUMP", "true"},
    {"ZAL_JAVACOREDIR", nullptr},
    {"ZAL_JAVADUMP_OUTOFMEMORY", "true"},
};

}  // namespace

void SetEnvironmentVariables() {
    KVO_TRACE(traceEntry, "SetEnvironmentVariables");
    for (const DumpVariable& variable : kDumpVariables) {
        const char* value = variable.value != nullptr ? variable.value : logDirectory;
        size_t nameLength = std::strlen(variable.name);
        size_t valueLength = std::strlen(value);
        size_t size = nameLength + 1 + valueLength + 1;
        HeapArray<char> assignment = makeHeapArray<char>(size);
        if (!assignment) {
            KVO_TRACE(traceError, "SetEnvironmentVariables: unable to allocate %d byte(s) for \"%s\"",
                      static_cast<int>(size), variable.name);
            continue;
        }
        std::memcpy(assignment.get(), variable.name, nameLength);
        assignment[nameLength] = '=';
        std::memcpy(assignment.get() + nameLength + 1, value, valueLength + 1);
        // The run-time library copies the text into its own environment and the process's.
        if (_putenv(assignment.get()) != 0)
            KVO_TRACE(traceInfo, "SetEnvironmentVariables: unable to set \"%s\"; rc = X'%X'",
                      assignment.get(), errno);
    }
    KVO_TRACE(traceExit, "SetEnvironmentVariables");
}

void BindToOneProcessor() {
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask))
        return;
    int processor = chooseProcessor(processMask, GetTickCount());
    if (processor < 0)
        return;
    HMODULE kernel = GetModuleHandleA("KERNEL32");
    if (kernel == nullptr)
        return;
    using SetProcessAffinityMaskFunction = BOOL(WINAPI*)(HANDLE, DWORD_PTR);
    auto setProcessAffinityMask = reinterpret_cast<SetProcessAffinityMaskFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessAffinityMask")));
    if (setProcessAffinityMask == nullptr)
        return;
    setProcessAffinityMask(GetCurrentProcess(), static_cast<DWORD_PTR>(1) << processor);
}

void GetLocale(const char** language, const char** region) {
    KVO_TRACE(traceEntry, "GetLocale");
    localeForLanguageId(GetSystemDefaultLangID(), language, region);
    KVO_TRACE(traceExit, "GetLocale");
}

}  // namespace kvo::launcher
