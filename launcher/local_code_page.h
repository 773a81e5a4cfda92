// The process's ANSI code page as seen by the launcher's text helpers.
#pragma once

// IsDBCSLeadByte of the ANSI code page, in the form local_text.h expects.
bool IsLocalLeadByte(unsigned char byte);
