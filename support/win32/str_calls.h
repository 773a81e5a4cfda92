// The calls Str makes into kvoucd32 (by ordinal) and user32, as a seam table: tests make a
// conversion report failure by replacing an entry (see seam.h).
#pragma once

#include <windows.h>

#include "kvoucd32.h"

namespace kvo {

struct StrCalls {
    decltype(&::NFConvertLocalToUnicode) NFConvertLocalToUnicode = ::NFConvertLocalToUnicode;
    decltype(&::NFConvertUnicodeToLocal) NFConvertUnicodeToLocal = ::NFConvertUnicodeToLocal;
    decltype(&::NFConvertLocalToCompUnicode) NFConvertLocalToCompUnicode = ::NFConvertLocalToCompUnicode;
    decltype(&::NFConvertCompUnicodeToLocal) NFConvertCompUnicodeToLocal = ::NFConvertCompUnicodeToLocal;
    decltype(&::NFConvertBuiltInToCompUnicode) NFConvertBuiltInToCompUnicode =
        ::NFConvertBuiltInToCompUnicode;
    decltype(&::LoadStringA) LoadStringA = ::LoadStringA;
};

extern StrCalls strCalls;

}  // namespace kvo
