// kvoucd32: conversions between the local code page, UTF-16, CompUnicode, UTF-8, Latin-1 (819),
// EBCDIC (37), OEM (850) and BuiltIn (1252).
//
// Every string conversion returns the size of its complete output including the terminator, in
// output units (bytes, or 16-bit units for Unicode output), whatever dst and dstLen are. Convert in two
// calls: a size query (null dst, dstLen 0) that writes nothing, then a call with a buffer of exactly
// that size, which receives the whole output and its terminator. def replaces a character the target
// cannot represent (callers pass '*'); used, if not null, receives 1 when that happened, else 0.
//
// 0 is the one failure result, and nothing is written then: a needed code-page table is unavailable
// (the fixed code pages, the locale tables, NFGetEncodedLength; the local conversions take the
// system's way instead), or a temporary buffer of the conversion cannot be allocated (the UTF-8
// conversions 12, 13 and 26 to 29, the two-stage EBCDIC conversions 18 and 19, and 5 on the system's
// way). NFLoadCPMapping gives null for both.
//
// A buffer smaller than the result is a caller error; the result is still the full size, nothing is
// ever written past dstLen, and what the buffer holds then depends on the conversion:
//  - whole characters that fit: the characters (one or two bytes, one unit, or a whole CompUnicode
//    unit) that fit within dstLen, in order, then the terminator if a unit of room is left. The
//    table-driven conversions 1 to 11, 25 and 30, and 3 and 8 on the system's way too.
//  - left untouched: not a byte is written. The UTF-8 conversions 12, 13, 26, 28 and 29.
//  - an empty string: dst[0] becomes the terminator if dstLen is not 0. NFConvertUnicodeToUTF8 (27),
//    and 1 and 5 on the system's way (where the local code page is system-converted or its table does
//    not load).
// The two-stage conversions write what their second stage writes: 18 as 7, 19 as 5.
//
// No exception ever leaves an export (they are noexcept to C++ callers).
// Clients link the ordinal import library (CMake target kvoucd32_ordinals).
#pragma once

#ifdef __cplusplus
#define KVO_TEXTCONV_NOEXCEPT noexcept
extern "C" {
#else
#define KVO_TEXTCONV_NOEXCEPT
#endif

#define KVO_TEXTCONV_API __stdcall

typedef void* NFCPMapping;  // a mapping handle from NFLoadCPMapping

int KVO_TEXTCONV_API NFConvertUnicodeToLocal(const wchar_t* src, char* dst, int dstLen, int def,
                                             int* used) KVO_TEXTCONV_NOEXCEPT;  // 1
int KVO_TEXTCONV_API NFConvertUnicodeToLatin1(const wchar_t* src, char* dst, int dstLen, int def,
                                              int* used) KVO_TEXTCONV_NOEXCEPT;  // 2
int KVO_TEXTCONV_API NFConvertLocalToUnicode(const char* src, wchar_t* dst, int dstLen, int def,
                                             int* used) KVO_TEXTCONV_NOEXCEPT;  // 3
int KVO_TEXTCONV_API NFConvertLatin1ToUnicode(const char* src, wchar_t* dst, int dstLen, int def,
                                              int* used) KVO_TEXTCONV_NOEXCEPT;  // 4
int KVO_TEXTCONV_API NFConvertCompUnicodeToLocal(const char* src, char* dst, int dstLen, int def,
                                                 int* used) KVO_TEXTCONV_NOEXCEPT;  // 5
int KVO_TEXTCONV_API NFConvertCompUnicodeToLatin1(const char* src, char* dst, int dstLen, int def,
                                                  int* used) KVO_TEXTCONV_NOEXCEPT;  // 6
int KVO_TEXTCONV_API NFConvertCompUnicodeToEBCDIC(const char* src, char* dst, int dstLen, int def,
                                                  int* used) KVO_TEXTCONV_NOEXCEPT;  // 7
int KVO_TEXTCONV_API NFConvertLocalToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                                 int* used) KVO_TEXTCONV_NOEXCEPT;  // 8
int KVO_TEXTCONV_API NFConvertLatin1ToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                                  int* used) KVO_TEXTCONV_NOEXCEPT;  // 9
int KVO_TEXTCONV_API NFConvertEBCDICToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                                  int* used) KVO_TEXTCONV_NOEXCEPT;  // 10
int KVO_TEXTCONV_API NFConvertBuiltInToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                                   int* used) KVO_TEXTCONV_NOEXCEPT;  // 11
int KVO_TEXTCONV_API NFConvertUTF8ToLocal(const char* src, char* dst, int dstLen, int ignored1,
                                          int ignored2) KVO_TEXTCONV_NOEXCEPT;  // 12
int KVO_TEXTCONV_API NFConvertLocalToUTF8(const char* src, char* dst, int dstLen, int ignored1,
                                          int ignored2) KVO_TEXTCONV_NOEXCEPT;  // 13
int KVO_TEXTCONV_API NFGetCodepage(void) KVO_TEXTCONV_NOEXCEPT;                 // 14
int KVO_TEXTCONV_API NFIsAllASCII(const char* text) KVO_TEXTCONV_NOEXCEPT;      // 15
int KVO_TEXTCONV_API NFConvertUnicodeCharToLocal(int unit, char* dst, int def,
                                                 int* used) KVO_TEXTCONV_NOEXCEPT;  // 16
int KVO_TEXTCONV_API NFConvertLocalCharToUnicode(const char* src, wchar_t* dst, int def,
                                                 int* used) KVO_TEXTCONV_NOEXCEPT;  // 17
int KVO_TEXTCONV_API NFConvertLocalToEBCDIC(const char* src, char* dst, int dstLen, int def,
                                            int* used) KVO_TEXTCONV_NOEXCEPT;  // 18
int KVO_TEXTCONV_API NFConvertEBCDICToLocal(const char* src, char* dst, int dstLen, int def,
                                            int* used) KVO_TEXTCONV_NOEXCEPT;  // 19
int KVO_TEXTCONV_API NFConvertUnicodeCharToCP(NFCPMapping mapping, int unit, char* dst, int def,
                                              int* used) KVO_TEXTCONV_NOEXCEPT;  // 20
int KVO_TEXTCONV_API NFConvertCPCharToUnicode(NFCPMapping mapping, const char* src, wchar_t* dst, int def,
                                              int* used) KVO_TEXTCONV_NOEXCEPT;    // 21
NFCPMapping KVO_TEXTCONV_API NFLoadCPMapping(int codePage) KVO_TEXTCONV_NOEXCEPT;  // 22
int KVO_TEXTCONV_API NFFreeCPMapping(NFCPMapping mapping) KVO_TEXTCONV_NOEXCEPT;   // 23
int KVO_TEXTCONV_API NFGetEncodedLength(const char* src) KVO_TEXTCONV_NOEXCEPT;    // 24
int KVO_TEXTCONV_API NFConvertLocaleToCompUnicode(const char* locale, const char* src, char* dst, int dstLen,
                                                  int def, int* used) KVO_TEXTCONV_NOEXCEPT;  // 25
int KVO_TEXTCONV_API NFConvertUTF8ToCompUnicode(const char* src, char* dst, int dstLen, int ignored1,
                                                int ignored2) KVO_TEXTCONV_NOEXCEPT;  // 26
int KVO_TEXTCONV_API NFConvertUnicodeToUTF8(const wchar_t* src, char* dst,
                                            int dstLen) KVO_TEXTCONV_NOEXCEPT;  // 27
int KVO_TEXTCONV_API NFConvertUTF8ToLatin1(const char* src, char* dst, int dstLen, int ignored1,
                                           int ignored2) KVO_TEXTCONV_NOEXCEPT;  // 28
int KVO_TEXTCONV_API NFConvertLatin1ToUTF8(const char* src, char* dst, int dstLen, int ignored1,
                                           int ignored2) KVO_TEXTCONV_NOEXCEPT;  // 29
int KVO_TEXTCONV_API NFConvertOEMToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                               int* used) KVO_TEXTCONV_NOEXCEPT;  // 30

#ifdef __cplusplus
}
#endif
