// Byte-level helpers for narrow text in the local code page, which may be a double-byte code page:
// a lead byte is followed by a trail byte that can look like an ASCII letter or a backslash, so
// scans step over whole characters. Platform-free: callers pass the code page's lead-byte test
// (IsDBCSLeadByte on Windows); null means a single-byte code page. A lead byte right before the
// terminator (a cut character) is a character of its own.
#pragma once

#include <cstddef>

namespace kvo {

using LeadBytePredicate = bool (*)(unsigned char byte);

// Compares two strings ignoring the case of ASCII letters (bytes of double-byte characters compare
// exactly).
bool equalsIgnoreCase(const char* a, const char* b, LeadBytePredicate isLeadByte);

// True when text ends with suffix ignoring case, and the suffix starts on a character boundary.
bool endsWithIgnoreCase(const char* text, const char* suffix, LeadBytePredicate isLeadByte);

// True when text begins with prefix, ignoring the case of ASCII letters (prefix is plain ASCII).
bool startsWithAsciiIgnoreCase(const char* text, const char* prefix);

// Last backslash that is a character of its own (not the trail byte of a double-byte character),
// or null.
const char* findLastBackslash(const char* text, LeadBytePredicate isLeadByte);
inline char* findLastBackslash(char* text, LeadBytePredicate isLeadByte) {
    return const_cast<char*>(findLastBackslash(static_cast<const char*>(text), isLeadByte));
}

// True when the last character of text is a backslash (a 0x5C trail byte is none); false for "".
bool endsWithBackslash(const char* text, LeadBytePredicate isLeadByte);

// Turns every "/" into "\\" in place ("/" is never a trail byte). Accepts null.
void replaceSlashes(char* text);

// Turns every "\\" that is a character of its own into "/" in place; the trail bytes of double-byte
// characters (0x5C is one in code page 932) stay as they are. Accepts null.
void replaceBackslashes(char* text, LeadBytePredicate isLeadByte);

}  // namespace kvo
