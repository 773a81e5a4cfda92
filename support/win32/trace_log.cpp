#include "trace_log.h"

#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "heap.h"
#include "local_text.h"

namespace kvo {

namespace {

// The launcher's trace log and the number of trace calls that may be using it.
std::atomic<RAS*> installedLog{nullptr};
std::atomic<int> logUsers{0};

const char kTagEntry[] = ">";
const char kTagExit[] = "<";
const char kTagError[] = "!";
const char kTagInfo[] = "-";

}  // namespace

// A use counts itself before it looks at the log a second time: endTraceLog, which takes the log away
// before it reads the count, either sees the use counted or the use sees the log gone.
TraceLogUse::TraceLogUse() : log_(nullptr) {
    RAS* seen = installedLog.load();
    if (seen == nullptr)
        return;
    logUsers.fetch_add(1);
    if (installedLog.load() == seen)
        log_ = seen;
    else
        logUsers.fetch_sub(1);
}

TraceLogUse::~TraceLogUse() {
    if (log_ != nullptr)
        logUsers.fetch_sub(1);
}

void startTraceLog(RAS* log) {
    endTraceLog();
    installedLog.store(log);
}

void endTraceLog() {
    RAS* log = installedLog.exchange(nullptr);
    if (log == nullptr)
        return;
    for (unsigned waited = 0; logUsers.load() != 0; ++waited) {
        if (waited >= kTraceLogEndWaitMs)
            return;  // a writer still inside: leave the log alive
        Sleep(1);
    }
    heapDelete(log);
}

RAS::RAS(const char* name, int debugArg, int highArg, int truncate)
    : debug(debugArg), high(highArg), mutex(nullptr) {
    fileName[0] = '\0';

    HANDLE created = CreateMutexA(nullptr, FALSE, nullptr);
    if (created == nullptr) {
        // Without a lock the trace still works, unserialised and on standard output.
        std::fprintf(stderr, "unable to create mutex semaphore; rc = X'%lX'\n", GetLastError());
        return;
    }
    mutex = created;

    setFileName(name);

    if (truncate && fileName[0] != '\0') {
        lock();
        FILE* file = std::fopen(fileName, "w");
        if (file != nullptr)
            std::fclose(file);
        else
            std::fprintf(stderr, "unable to open file \"%s\"\n", fileName);
        unlock();
    }

    if (!debug) {
        const char* value = std::getenv("RIDOVI");
        if (value != nullptr) {
            if (equalsIgnoreCase(value, "DEBUG", nullptr)) {
                debug = 1;
            } else if (equalsIgnoreCase(value, "HIGH", nullptr)) {
                debug = 1;
                high = 1;
            }
        }
    }
}

RAS::~RAS() {
    if (mutex != nullptr) {
        if (!CloseHandle(static_cast<HANDLE>(mutex)))
            std::fprintf(stderr, "unable to close mutex semaphore; rc = X'%lX'\n", GetLastError());
        mutex = nullptr;
    }
}

void RAS::setFileName(const char* name) {
    fileName[0] = '\0';
    if (name == nullptr || equalsIgnoreCase(name, "STDOUT", nullptr))
        return;
    std::strncpy(fileName, name, kMaxFileName);
    fileName[kMaxFileName] = '\0';
}

void RAS::lock() {
    if (mutex != nullptr)
        WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
}

void RAS::unlock() {
    if (mutex != nullptr)
        ReleaseMutex(static_cast<HANDLE>(mutex));
}

void RAS::writeLine(const char* tag, const char* format, va_list args) {
    lock();

    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (const std::tm* broken = std::localtime(&now))
        local = *broken;
    const int year = local.tm_year + 1900, month = local.tm_mon + 1;

    if (fileName[0] != '\0') {
        FILE* file = std::fopen(fileName, "a");
        if (file != nullptr) {
            std::setvbuf(file, nullptr, _IONBF, 0);
            std::fprintf(file, "%04d-%02d-%02d %02d.%02d.%02d X'%08lX %08lX' %s ", year, month, local.tm_mday,
                         local.tm_hour, local.tm_min, local.tm_sec, GetCurrentProcessId(),
                         GetCurrentThreadId(), tag);
            std::vfprintf(file, format, args);
            std::fputs("\n", file);
            std::fclose(file);
        } else {
            std::fprintf(stderr, "unable to open file \"%s\"\n", fileName);
            std::fprintf(stdout, "%04d-%02d-%02d %02d.%02d.%02d %s ", year, month, local.tm_mday,
                         local.tm_hour, local.tm_min, local.tm_sec, tag);
            std::vfprintf(stdout, format, args);
            std::fputs("\n", stdout);
        }
    } else {
        std::fprintf(stdout, "%04d-%02d-%02d %02d.%02d.%02d X'%08lX %08lX' %s ", year, month, local.tm_mday,
                     local.tm_hour, local.tm_min, local.tm_sec, GetCurrentProcessId(), GetCurrentThreadId(),
                     tag);
        std::vfprintf(stdout, format, args);
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }

    unlock();
}

void RAS::writeTagged(const char* tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(tag, format, args);
    va_end(args);
}

#define KVO_TRACE_BODY(condition, tag) \
    do {                               \
        if (!(condition))              \
            return;                    \
        va_list args;                  \
        va_start(args, format);        \
        writeLine(tag, format, args);  \
        va_end(args);                  \
    } while (0)

void RAS::traceEntry(const char* format, ...) {
    KVO_TRACE_BODY(debug, kTagEntry);
}
void RAS::traceExit(const char* format, ...) {
    KVO_TRACE_BODY(debug, kTagExit);
}
void RAS::traceError(const char* format, ...) {
    KVO_TRACE_BODY(true, kTagError);
}
void RAS::traceInfo(const char* format, ...) {
    KVO_TRACE_BODY(debug, kTagInfo);
}
void RAS::traceEntryHigh(const char* format, ...) {
    KVO_TRACE_BODY(debug && high, kTagEntry);
}
void RAS::traceExitHigh(const char* format, ...) {
    KVO_TRACE_BODY(debug && high, kTagExit);
}
void RAS::traceErrorHigh(const char* format, ...) {
    KVO_TRACE_BODY(debug && high, kTagError);
}
void RAS::traceInfoHigh(const char* format, ...) {
    KVO_TRACE_BODY(debug && high, kTagInfo);
}

#undef KVO_TRACE_BODY

void RAS::traceDump(const char* title, const void* data, unsigned length) {
    if (!debug)
        return;

    lock();  // held across the rows; writeLine takes it again on this thread
    writeTagged(kTagInfo, "%s:", title != nullptr ? title : "");
    if (length == 0) {
        writeTagged(kTagInfo, "  no data");
    } else {
        static const char kHex[] = "0123456789ABCDEF";
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (unsigned offset = 0; offset < length; offset += 16) {
            char hex[33];
            char text[17];
            for (unsigned i = 0; i < 16; ++i) {
                if (offset + i < length) {
                    const unsigned char b = bytes[offset + i];
                    hex[2 * i] = kHex[b >> 4];
                    hex[2 * i + 1] = kHex[b & 0x0F];
                    text[i] = (std::isprint(b) && b != '\t') ? static_cast<char>(b) : '.';
                } else {
                    hex[2 * i] = ' ';
                    hex[2 * i + 1] = ' ';
                    text[i] = ' ';
                }
            }
            hex[32] = '\0';
            text[16] = '\0';
            writeTagged(kTagInfo, "  %08X  %s  %s", offset, hex, text);
        }
    }
    unlock();
}

}  // namespace kvo
