// The process's ANSI code page as seen by the launcher's text helpers.
#pragma once

#include "heap.h"

namespace kvo::launcher {

// IsDBCSLeadByte of the ANSI code page, in the form local_text.h expects.
bool isLocalLeadByte(unsigned char byte);

// Wide text (a property value) in the local code page, exactly: a heap string, or none, and why (a
// text without an exact local form fails with ERROR_NO_UNICODE_TRANSLATION).
struct LocalText {
    HeapArray<char> text;     // the converted text, or null
    bool noMemory = false;    // null because memory ran out (else because the conversion failed)
    int size = 0;             // bytes the converted text needs, terminator included
    unsigned long error = 0;  // the system's code when the conversion failed
};
LocalText localTextOf(const wchar_t* wide);

}  // namespace kvo::launcher
