// Exact conversions between UTF-16 and a Windows code page through the system's own calls: a text
// converts only when its result converts back to exactly the same text.
//
// WideCharToMultiByte without best fit still lets some one-way mappings of a code page through (units
// it gives a byte that MultiByteToWideChar refuses or reads as another unit), and UTF-8, UTF-7 and
// several other code pages refuse the best-fit flag and the used-default parameter altogether. So the
// calls get only the flags each code page takes, never a default character or a used-default flag,
// and every result is checked by converting it back.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "heap.h"

namespace kvo {

// The system's two conversion calls, as a library's seam table holds them.
struct CodePageCalls {
    decltype(&::WideCharToMultiByte) WideCharToMultiByte;
    decltype(&::MultiByteToWideChar) MultiByteToWideChar;
};

// The flags the two calls take for a code page, as Windows documents them: UTF-8 and GB18030 (54936)
// take only the invalid-character flags; the ISO-2022 and HZ pages (50220-50229, 52936), ISCII
// (57002-57011), UTF-7 (65000) and Symbol (42) take none; every other code page takes the no-best-fit
// flag one way and the invalid-character flag the other.
struct CodePageFlags {
    DWORD toBytes;  // WideCharToMultiByte
    DWORD toUnits;  // MultiByteToWideChar
};

inline CodePageFlags codePageFlags(UINT codePage) {
    if (codePage == CP_UTF8 || codePage == 54936)
        return {WC_ERR_INVALID_CHARS, MB_ERR_INVALID_CHARS};
    if ((codePage >= 50220 && codePage <= 50229) || codePage == 52936 ||
        (codePage >= 57002 && codePage <= 57011) || codePage == CP_UTF7 || codePage == CP_SYMBOL)
        return {0, 0};
    return {WC_NO_BEST_FIT_CHARS, MB_ERR_INVALID_CHARS};
}

// The count units at `units` (count > 0) converted into out (outSize bytes), when the result converts
// back to exactly those units: the bytes written. 0 when the text has no exact form in the code page
// or does not fit. back (room for count units) receives the check's conversion. No heap memory is
// used.
inline int exactBytesInto(const CodePageCalls& calls, UINT codePage, const wchar_t* units, int count,
                          char* out, int outSize, wchar_t* back) {
    const CodePageFlags flags = codePageFlags(codePage);
    const int n =
        calls.WideCharToMultiByte(codePage, flags.toBytes, units, count, out, outSize, nullptr, nullptr);
    if (n <= 0 || calls.MultiByteToWideChar(codePage, flags.toUnits, out, n, back, count) != count)
        return 0;
    return std::memcmp(back, units, static_cast<std::size_t>(count) * sizeof(wchar_t)) == 0 ? n : 0;
}

// The size bytes at `bytes` (size > 0) converted into out (outCount units), when the result converts
// back to exactly those bytes: the units written. 0 when the text has no exact Unicode form or does
// not fit. back (room for size bytes) receives the check's conversion. No heap memory is used.
inline int exactUnitsInto(const CodePageCalls& calls, UINT codePage, const char* bytes, int size,
                          wchar_t* out, int outCount, char* back) {
    const CodePageFlags flags = codePageFlags(codePage);
    const int n = calls.MultiByteToWideChar(codePage, flags.toUnits, bytes, size, out, outCount);
    if (n <= 0 ||
        calls.WideCharToMultiByte(codePage, flags.toBytes, out, n, back, size, nullptr, nullptr) != size)
        return 0;
    return std::memcmp(back, bytes, static_cast<std::size_t>(size)) == 0 ? n : 0;
}

// A text in a code page, exactly (exactBytes): its bytes, or none and why.
struct ExactBytes {
    HeapArray<char> text;     // the bytes with a terminator added, or null
    bool noMemory = false;    // null because memory ran out (else because there is no exact form)
    int size = 0;             // bytes the text needs, terminator included (0 when the call failed)
    unsigned long error = 0;  // why there is none: the call's error, or ERROR_NO_UNICODE_TRANSLATION
};

// The count units at `units` (count >= 0; none give an empty text) in the code page, when that text
// converts back to exactly those units.
inline ExactBytes exactBytes(const CodePageCalls& calls, UINT codePage, const wchar_t* units, int count) {
    ExactBytes result;
    int needed = 0;
    if (count > 0) {
        needed = calls.WideCharToMultiByte(codePage, codePageFlags(codePage).toBytes, units, count, nullptr,
                                           0, nullptr, nullptr);
        if (needed <= 0) {
            result.error = GetLastError();
            return result;
        }
    }
    result.size = needed + 1;
    result.text = makeHeapArray<char>(static_cast<std::size_t>(result.size));
    const HeapArray<wchar_t> back =
        count > 0 ? makeHeapArray<wchar_t>(static_cast<std::size_t>(count)) : HeapArray<wchar_t>();
    if (!result.text || (count > 0 && !back)) {
        result.text.reset();
        result.noMemory = true;
        return result;
    }
    if (count > 0 &&
        exactBytesInto(calls, codePage, units, count, result.text.get(), needed, back.get()) != needed) {
        result.text.reset();
        result.error = ERROR_NO_UNICODE_TRANSLATION;
        return result;
    }
    result.text[needed] = 0;
    return result;
}

// The most bytes one character takes in exactCharBytes and exactCharUnits.
constexpr int kMaxExactCharBytes = 16;

// One character (1 unit, or the 2 units of a surrogate pair) into out, exactly: the bytes written, or
// 0 when it has no exact form in the code page. No heap memory is used.
inline int exactCharBytes(const CodePageCalls& calls, UINT codePage, const wchar_t* units, int count,
                          char (&out)[kMaxExactCharBytes]) {
    wchar_t back[2];
    return count >= 1 && count <= 2
               ? exactBytesInto(calls, codePage, units, count, out, kMaxExactCharBytes, back)
               : 0;
}

// The character of size bytes at `bytes` as 1 unit or a surrogate pair, exactly: the units written, or
// 0 when those bytes are no one character with an exact Unicode form. No heap memory is used.
inline int exactCharUnits(const CodePageCalls& calls, UINT codePage, const char* bytes, int size,
                          wchar_t (&units)[2]) {
    char back[kMaxExactCharBytes];
    if (size < 1 || size > kMaxExactCharBytes)
        return 0;
    const int n = exactUnitsInto(calls, codePage, bytes, size, units, 2, back);
    const bool oneCharacter = n == 1 || (n == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF &&
                                         units[1] >= 0xDC00 && units[1] <= 0xDFFF);
    return oneCharacter ? n : 0;
}

}  // namespace kvo
