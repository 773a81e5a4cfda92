// kvoucd32: conversions between the local code page, UTF-16, CompUnicode, UTF-8, Latin-1 (819),
// EBCDIC (37), OEM (850) and BuiltIn (1252).
//
// Every string conversion returns the size of its complete output including the terminator, in
// output units (bytes, or 16-bit units for Unicode output), whatever dst and dstLen are; 0 only where
// a needed code-page table is unavailable. Convert in two calls: a size query (null dst, dstLen 0)
// that writes nothing, then a call with a buffer of exactly that size. def replaces a character the
// target cannot represent (callers pass '*'); used, if not null, receives 1 when that happened.
// Clients link the ordinal import library (CMake target kvoucd32_ordinals).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define KVO_TEXTCONV_API __stdcall

typedef void* NFCPMapping;  // a mapping handle from NFLoadCPMapping

int KVO_TEXTCONV_API NFConvertUnicodeToLocal(const wchar_t* src, char* dst, int dstLen, int def,
                                             int* used);  // 1
int KVO_TEXTCONV_API NFConvertUnicodeToLatin1(const wchar_t* src, char* dst, int dstLen, int def,
                                              int* used);  // 2
int KVO_TEXTCONV_API NFConvertLocalToUnicode(const char* src, wchar_t* dst, int dstLen, int def,
                                             int* used);  // 3
int KVO_TEXTCONV_API NFConvertLatin1ToUnicode(const char* src, wchar_t* dst, int dstLen, int def,
                                              int* used);  // 4
int KVO_TEXTCONV_API NFConvertCompUnicodeToLocal(const char* src, char* dst, int dstLen, int def,
                                                 int* used);  // 5
int KVO_TEXTCONV_API NFConvertCompUnicodeToLatin1(const char* src, char* dst, int dstLen, int def,
                                                  int* used);  // 6
int KVO_TEXTCONV_API NFConvertCompUnicodeToEBCDIC(const char* src, char* dst, int dstLen, int def,
                                                  int* used);  // 7
int KVO_TEXTCONV_API NFConvertLocalToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                                 int* used);  // 8
int KVO_TEXTCONV_API NFConvertLatin1ToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                                  int* used);  // 9
int KVO_TEXTCONV_API NFConvertEBCDICToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                                  int* used);  // 10
int KVO_TEXTCONV_API NFConvertBuiltInToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                                   int* used);  // 11
int KVO_TEXTCONV_API NFConvertUTF8ToLocal(const char* src, char* dst, int dstLen, int ignored1,
                                          int ignored2);  // 12
int KVO_TEXTCONV_API NFConvertLocalToUTF8(const char* src, char* dst, int dstLen, int ignored1,
                                          int ignored2);                                              // 13
int KVO_TEXTCONV_API NFGetCodepage(void);                                                             // 14
int KVO_TEXTCONV_API NFIsAllASCII(const char* text);                                                  // 15
int KVO_TEXTCONV_API NFConvertUnicodeCharToLocal(int unit, char* dst, int def, int* used);            // 16
int KVO_TEXTCONV_API NFConvertLocalCharToUnicode(const char* src, wchar_t* dst, int def, int* used);  // 17
int KVO_TEXTCONV_API NFConvertLocalToEBCDIC(const char* src, char* dst, int dstLen, int def,
                                            int* used);  // 18
int KVO_TEXTCONV_API NFConvertEBCDICToLocal(const char* src, char* dst, int dstLen, int def,
                                            int* used);  // 19
int KVO_TEXTCONV_API NFConvertUnicodeCharToCP(NFCPMapping mapping, int unit, char* dst, int def,
                                              int* used);  // 20
int KVO_TEXTCONV_API NFConvertCPCharToUnicode(NFCPMapping mapping, const char* src, wchar_t* dst, int def,
                                              int* used);    // 21
NFCPMapping KVO_TEXTCONV_API NFLoadCPMapping(int codePage);  // 22
int KVO_TEXTCONV_API NFFreeCPMapping(NFCPMapping mapping);   // 23
int KVO_TEXTCONV_API NFGetEncodedLength(const char* src);    // 24
int KVO_TEXTCONV_API NFConvertLocaleToCompUnicode(const char* locale, const char* src, char* dst, int dstLen,
                                                  int def, int* used);  // 25
int KVO_TEXTCONV_API NFConvertUTF8ToCompUnicode(const char* src, char* dst, int dstLen, int ignored1,
                                                int ignored2);                           // 26
int KVO_TEXTCONV_API NFConvertUnicodeToUTF8(const wchar_t* src, char* dst, int dstLen);  // 27
int KVO_TEXTCONV_API NFConvertUTF8ToLatin1(const char* src, char* dst, int dstLen, int ignored1,
                                           int ignored2);  // 28
int KVO_TEXTCONV_API NFConvertLatin1ToUTF8(const char* src, char* dst, int dstLen, int ignored1,
                                           int ignored2);  // 29
int KVO_TEXTCONV_API NFConvertOEMToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                               int* used);  // 30

#ifdef __cplusplus
}
#endif
