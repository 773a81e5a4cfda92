// The process's ANSI code page as seen by the launcher's text helpers.
#pragma once

#include "exact_code_page.h"

namespace kvo::launcher {

// IsDBCSLeadByte of the ANSI code page, in the form local_text.h expects.
bool isLocalLeadByte(unsigned char byte);

// Wide text (a property value) in the local code page, exactly: a heap string, or none, and why (a
// text without an exact local form fails with ERROR_NO_UNICODE_TRANSLATION).
using LocalText = ExactBytes;
LocalText localTextOf(const wchar_t* wide);

// The count units at `wide` (a path) in the local code page into a buffer of kPathBufferSize bytes,
// exactly and with its terminator, without heap memory: false, the buffer empty and the last error
// set, when the path has no exact local form or that form is longer than 259 bytes.
bool localPathInto(const wchar_t* wide, int count, char* buffer);

}  // namespace kvo::launcher
