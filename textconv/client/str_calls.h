// The calls Str makes into kvoucd32 (by ordinal) and user32, as a seam table: tests make a
// conversion report failure by replacing an entry (see seam.h).
#pragma once

#include <windows.h>

#include "kvoucd32.h"

namespace kvo {

// The entries are plain function pointers: a test's stand-in need not be noexcept like the exports.
struct StrCalls {
    using LocalToUnicode = int(WINAPI*)(const char*, wchar_t*, int, int, int*);
    using UnicodeToLocal = int(WINAPI*)(const wchar_t*, char*, int, int, int*);
    using ByteConversion = int(WINAPI*)(const char*, char*, int, int, int*);

    LocalToUnicode NFConvertLocalToUnicode = ::NFConvertLocalToUnicode;
    UnicodeToLocal NFConvertUnicodeToLocal = ::NFConvertUnicodeToLocal;
    ByteConversion NFConvertLocalToCompUnicode = ::NFConvertLocalToCompUnicode;
    ByteConversion NFConvertCompUnicodeToLocal = ::NFConvertCompUnicodeToLocal;
    ByteConversion NFConvertBuiltInToCompUnicode = ::NFConvertBuiltInToCompUnicode;
    decltype(&::LoadStringA) LoadStringA = ::LoadStringA;
};

extern StrCalls strCalls;

}  // namespace kvo
