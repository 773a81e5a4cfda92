// The system's error mode while code touches files, drives or libraries on behalf of the product.
#pragma once

#include <windows.h>

namespace kvo {

// Critical errors and unopenable files give error codes instead of system dialogs.
inline constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

// Sets the process's quiet error mode for its lifetime and restores the mode it found: for a program
// that owns its process (the launcher), never for code that other threads run beside.
class QuietErrorMode {
public:
    QuietErrorMode() : saved_(SetErrorMode(kQuietErrorMode)) {}
    ~QuietErrorMode() { SetErrorMode(saved_); }
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

private:
    UINT saved_;
};

// Sets the calling thread's quiet error mode for its lifetime and restores the thread's mode it found
// (Windows 7 and later): for a library called on other programs' threads (nqfsfunc), where sections
// of two threads may interleave and the process's mode belongs to the program. setThreadErrorMode is
// SetThreadErrorMode, or a library's seam entry for it.
class QuietThreadErrorMode {
public:
    explicit QuietThreadErrorMode(decltype(&::SetThreadErrorMode) setThreadErrorMode)
        : set_(setThreadErrorMode), saved_(0), changed_(set_(kQuietErrorMode, &saved_) != FALSE) {}
    ~QuietThreadErrorMode() {
        if (changed_)
            set_(saved_, nullptr);
    }
    QuietThreadErrorMode(const QuietThreadErrorMode&) = delete;
    QuietThreadErrorMode& operator=(const QuietThreadErrorMode&) = delete;

private:
    decltype(&::SetThreadErrorMode) set_;
    DWORD saved_;
    bool changed_;
};

}  // namespace kvo
