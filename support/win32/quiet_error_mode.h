// The system's error mode while code touches files, drives or libraries on behalf of the product.
#pragma once

#include <windows.h>

namespace kvo {

// Critical errors and unopenable files give error codes instead of system dialogs.
inline constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

// Sets the quiet error mode for its lifetime and restores the mode it found.
class QuietErrorMode {
public:
    QuietErrorMode() : saved_(SetErrorMode(kQuietErrorMode)) {}
    ~QuietErrorMode() { SetErrorMode(saved_); }
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

private:
    UINT saved_;
};

}  // namespace kvo
