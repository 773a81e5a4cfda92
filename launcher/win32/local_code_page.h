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

}  // namespace kvo::launcher
