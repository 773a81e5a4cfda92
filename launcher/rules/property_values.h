// Conversions of launcher property values (wide text). Platform-free.
#pragma once

namespace kvo::launcher {

// Unsigned decimal number at the beginning of text, as the run-time library's unsigned conversion
// reads it: leading white space and one sign are accepted ("-n" gives 2^32 - n), anything after the
// digits is ignored. False when no digit is found or the number does not fit in 32 bits.
bool parseUnsigned32(const wchar_t* text, unsigned long* value);

// 1 for "TRUE", "T", "YES" or "Y" in any letter case, or exactly "1"; -1 for anything else
// (the caller then keeps its default).
int parseBooleanText(const wchar_t* text);

}  // namespace kvo::launcher
