// Trace calls of the launcher functions. The trace log object exists from early in main to the end
// of tear-down; outside that window (and in tests without a log) the calls do nothing.
#pragma once

#include "trace_log.h"

#define KVO_TRACE(kind, ...)               \
    do {                                   \
        if (::kvo::ras != nullptr)         \
            ::kvo::ras->kind(__VA_ARGS__); \
    } while (0)
