// Local conversions the system's way (the ANSI code page), used where the local code page is
// system-converted or its table can't be loaded. Same buffer contract as the table-driven way.
// Unicode to local never maps look-alikes (WC_NO_BEST_FIT_CHARS): a character without an exact
// equivalent becomes the default character and raises the flag.
#pragma once

#include <windows.h>

namespace kvo::textconv {

int systemUnicodeToLocal(const wchar_t* src, char* dst, int dstLen, int def, int* used);
int systemCompUnicodeToLocal(const unsigned char* src, char* dst, int dstLen, int def, int* used);
int systemLocalToUnicode(const unsigned char* src, wchar_t* dst, int dstLen, int def, int* used);
int systemLocalToCompUnicode(const unsigned char* src, unsigned char* dst, int dstLen, int def, int* used);
int systemUnicodeCharToLocal(wchar_t unit, char* dst, int def, int* used);
int systemLocalCharToUnicode(const unsigned char* src, wchar_t* dst, int def, int* used);

}  // namespace kvo::textconv
