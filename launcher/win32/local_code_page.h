// The process's ANSI code page as seen by the launcher's text helpers.
#pragma once

namespace kvo::launcher {

// IsDBCSLeadByte of the ANSI code page, in the form local_text.h expects.
bool isLocalLeadByte(unsigned char byte);

}  // namespace kvo::launcher
