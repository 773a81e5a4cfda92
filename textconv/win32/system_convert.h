// Local conversions the system's way (the ANSI code page), used where the local code page is
// system-converted or its table can't be loaded. Same buffer contract as the table-driven way.
//
// Every conversion is exact or flagged, as on the table-driven way: a character converts only when its
// result converts back to it (exact_code_page.h), with the flags the code page takes (UTF-8 among
// others refuses the best-fit flag and the used-default parameter); any other becomes the default
// character and raises the flag. Local text is read in whole characters of the ANSI code page as it
// is: double-byte characters by the code page's lead bytes, UTF-8 sequences of one to four bytes (a
// four-byte one gives a surrogate pair), other lengths by the shortest run of bytes that converts.
#pragma once

#include <windows.h>

#include "exact_code_page.h"

namespace kvo::textconv {

using kvo::kMaxExactCharBytes;

// The system's conversions of one code page, character by character, through the seam table.
class SystemCodePage {
public:
    explicit SystemCodePage(UINT number);
    static SystemCodePage ansi();  // the ANSI code page of the process

    UINT number() const { return number_; }
    kvo::CodePageCalls calls() const;

    // One character (1 unit, or 2 for a surrogate pair) into out exactly: the bytes, or 0 when it has
    // no exact form.
    int encodeChar(const wchar_t* units, int count, char (&out)[kMaxExactCharBytes]) const;
    // The local character at src (never read past the terminator): returns its bytes; *count gets its
    // units (1, or 2 for a surrogate pair), 0 when it has no exact Unicode form.
    int decodeChar(const unsigned char* src, wchar_t (&units)[2], int* count) const;

private:
    UINT number_;
    unsigned maxCharSize_ = 1;
    bool leadByte_[256] = {};
};

int systemUnicodeToLocal(const wchar_t* src, char* dst, int dstLen, int def, int* used);
int systemCompUnicodeToLocal(const unsigned char* src, char* dst, int dstLen, int def, int* used);
int systemLocalToUnicode(const unsigned char* src, wchar_t* dst, int dstLen, int def, int* used);
int systemLocalToCompUnicode(const unsigned char* src, unsigned char* dst, int dstLen, int def, int* used);
int systemUnicodeCharToLocal(wchar_t unit, char* dst, int def, int* used);
int systemLocalCharToUnicode(const unsigned char* src, wchar_t* dst, int def, int* used);

}  // namespace kvo::textconv
