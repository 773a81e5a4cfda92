// Process-wide trace log of the launcher programs.
//
// Every call writes one complete, time-stamped line, tagged with its kind, to the trace file (opened,
// appended to and closed for each line, so a finished line survives a crash) or to standard output.
// Error lines of normal detail are written even when tracing is off.
#pragma once

#include <cstdarg>

namespace kvo {

#if defined(__MINGW_PRINTF_FORMAT)
#define KVO_PRINTF_LIKE(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__GNUC__)
#define KVO_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KVO_PRINTF_LIKE(fmt, args)
#endif

class RAS {
public:
    static constexpr unsigned kMaxFileName = 259;

    // fileName: trace file path, or null / "STDOUT" (any case) for standard output.
    // truncate: empty an existing trace file now. Unless debug is set, the environment variable
    // RIDOVI may switch tracing on ("DEBUG") or on with high detail ("HIGH").
    RAS(const char* fileName, int debug, int high, int truncate);
    virtual ~RAS();

    RAS(const RAS&) = delete;
    RAS& operator=(const RAS&) = delete;

    void traceEntry(const char* format, ...) KVO_PRINTF_LIKE(2, 3);
    void traceExit(const char* format, ...) KVO_PRINTF_LIKE(2, 3);
    void traceError(const char* format, ...) KVO_PRINTF_LIKE(2, 3);
    void traceInfo(const char* format, ...) KVO_PRINTF_LIKE(2, 3);
    void traceEntryHigh(const char* format, ...) KVO_PRINTF_LIKE(2, 3);
    void traceExitHigh(const char* format, ...) KVO_PRINTF_LIKE(2, 3);
    void traceErrorHigh(const char* format, ...) KVO_PRINTF_LIKE(2, 3);
    void traceInfoHigh(const char* format, ...) KVO_PRINTF_LIKE(2, 3);

    // Hex dump of a byte block as information lines; written only while tracing is on.
    void traceDump(const char* title, const void* data, unsigned length);

    // Clears the file name, then takes at most 259 characters of name unless it is null or "STDOUT".
    void setFileName(const char* name);
    const char* getFileName() const { return fileName; }

    // The single line writer behind all trace calls; does not look at debug or high.
    void writeLine(const char* tag, const char* format, va_list args);

private:
    void writeTagged(const char* tag, const char* format, ...) KVO_PRINTF_LIKE(3, 4);
    void lock();
    void unlock();

    char fileName[kMaxFileName + 1];

public:
    int debug;
    int high;

private:
    void* mutex;  // HANDLE of an unnamed, re-entrant Win32 mutex; null when it could not be made
};

// The launcher's trace log. The main thread creates it before anything else is traced and ends it at
// the end of tear-down, while the worker thread and the JVM's threads may still be tracing. Trace
// calls therefore reach it only through a TraceLogUse (the KVO_TRACE macro below): the log a use has
// found is not destroyed before the use ends.
class TraceLogUse {
public:
    TraceLogUse();
    ~TraceLogUse();
    TraceLogUse(const TraceLogUse&) = delete;
    TraceLogUse& operator=(const TraceLogUse&) = delete;

    explicit operator bool() const { return log_ != nullptr; }
    RAS* operator->() const { return log_; }

private:
    RAS* log_;  // null: no trace log (not yet created, or ended)
};

// Makes log, a RAS from heapNew, the launcher's trace log and takes it over; a log still in place is
// ended first.
void startTraceLog(RAS* log);

// Ends the launcher's trace log: trace calls made from now on do nothing, and the log is destroyed
// once the calls that already reached it have returned. Should one of them not return within
// kTraceLogEndWaitMs, the log is left alive (the process ends right after) rather than destroyed under it.
void endTraceLog();
constexpr unsigned kTraceLogEndWaitMs = 2000;

}  // namespace kvo

// One trace call on the launcher's trace log, if there is one:  KVO_TRACE(traceInfo, "f: x = %d", x);
#define KVO_TRACE(kind, ...)                      \
    do {                                          \
        const ::kvo::TraceLogUse kvoTraceLogUse_; \
        if (kvoTraceLogUse_)                      \
            kvoTraceLogUse_->kind(__VA_ARGS__);   \
    } while (0)
