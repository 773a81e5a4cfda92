#include "system_convert.h"

#include <cstring>

#include "heap.h"
#include "table_convert.h"

namespace kvo::textconv {

namespace {

// Converts the one local character at src (1 or 2 bytes, by the system's lead-byte test; a lead byte
// before the terminator is one byte) into a unit. Returns the bytes it takes; *ok is false when the
// system can't convert it.
int systemDecodeChar(const unsigned char* src, wchar_t* unit, bool* ok) {
    const int n = (IsDBCSLeadByte(src[0]) && src[1] != 0) ? 2 : 1;
    const bool cut = n == 1 && IsDBCSLeadByte(src[0]);
    *ok = !cut && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(src), n,
                                      unit, 1) == 1;
    return n;
}

// Calls put with the unit of every local character of the text, the default unit for one that the
// system can't convert (and then sets *usedDefault).
template <class Put>
void forEachLocalUnit(const unsigned char* src, wchar_t defUnit, bool* usedDefault, Put put) {
    if (src == nullptr)
        return;
    while (*src) {
        wchar_t unit;
        bool ok;
        src += systemDecodeChar(src, &unit, &ok);
        if (!ok) {
            unit = defUnit;
            *usedDefault = true;
        }
        put(unit);
    }
}

size_t unitLength(const wchar_t* s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

}  // namespace

// Converts one unit exactly (never a look-alike) into at most 2 bytes; 0 when the local code page has
// no exact equivalent. The system's own default character is not used: callers substitute theirs.
int systemEncodeUnit(wchar_t unit, char* out) {
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &unit, 1, out, 2, nullptr, &usedDefault);
    return usedDefault ? 0 : n;
}

int systemUnicodeToLocal(const wchar_t* src, char* dst, int dstLen, int def, int* used) {
    static const wchar_t kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const int room = dst != nullptr ? static_cast<int>(roomOf(dstLen)) : 0;
    const int length = static_cast<int>(unitLength(src));
    BOOL usedDefault = FALSE;
    int needed = 0;
    if (length > 0)
        needed =
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, length, nullptr, 0, nullptr, &usedDefault);
    // Where some character has no exact equivalent, the text goes unit by unit with the caller's
    // default character: once to count, once to write.
    const char defChar = static_cast<char>(defaultByte(def));
    const auto substitute = [&](char* out) {
        int n = 0;
        for (int i = 0; i < length; ++i) {
            char bytes[2];
            int k = systemEncodeUnit(src[i], bytes);
            if (k == 0) {
                bytes[0] = defChar;
                k = 1;
            }
            if (out != nullptr)
                std::memcpy(out + n, bytes, static_cast<size_t>(k));
            n += k;
        }
        return n;
    };
    if (usedDefault)
        needed = substitute(nullptr);
    if (room > 0) {
        if (needed > room) {
            // Too small for the whole text: it gets an empty string; the result is still the full size.
            dst[0] = 0;
        } else {
            if (usedDefault)
                substitute(dst);
            else if (needed > 0)
                WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, length, dst, room, nullptr, nullptr);
            if (needed < room)
                dst[needed] = 0;
        }
    }
    setUsed(used, usedDefault != FALSE);
    return needed + 1;
}

// The one temporary buffer of the system's way: 0 (nothing written) when it can't be had.
int systemCompUnicodeToLocal(const unsigned char* src, char* dst, int dstLen, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    // One unit per source byte at most, plus the terminator.
    const kvo::HeapArray<wchar_t> units =
        kvo::makeHeapArray<wchar_t>(std::strlen(reinterpret_cast<const char*>(src)) + 1);
    if (!units)
        return 0;
    decodeCompUnicodeText(src, units.get(), kReplacementUnit);
    return systemUnicodeToLocal(units.get(), dst, dstLen, def, used);
}

int systemLocalToUnicode(const unsigned char* src, wchar_t* dst, int dstLen, int def, int* used) {
    const unsigned room = dst != nullptr ? roomOf(dstLen) : 0;
    bool usedDefault = false;
    unsigned n = 0;
    forEachLocalUnit(src, static_cast<wchar_t>(defaultUnit(def)), &usedDefault, [&](wchar_t unit) {
        if (n < room)
            dst[n] = unit;
        ++n;
    });
    if (n < room)
        dst[n] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(n + 1);
}

int systemLocalToCompUnicode(const unsigned char* src, unsigned char* dst, int dstLen, int def, int* used) {
    const unsigned room = dst != nullptr ? roomOf(dstLen) : 0;
    bool usedDefault = false;
    unsigned pos = 0;
    forEachLocalUnit(src, static_cast<wchar_t>(defaultUnit(def)), &usedDefault, [&](wchar_t unit) {
        unsigned char bytes[3];
        const int k = encodeCompUnicode(static_cast<uint16_t>(unit), bytes);
        if (pos + k <= room)
            std::memcpy(dst + pos, bytes, k);
        pos += k;
    });
    if (pos < room)
        dst[pos] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(pos + 1);
}

int systemUnicodeCharToLocal(wchar_t unit, char* dst, int def, int* used) {
    char bytes[2];
    int n = systemEncodeUnit(unit, bytes);
    setUsed(used, n == 0);
    if (n == 0) {
        bytes[0] = static_cast<char>(defaultByte(def));
        n = 1;
    }
    if (dst != nullptr)
        std::memcpy(dst, bytes, n);
    return n;
}

int systemLocalCharToUnicode(const unsigned char* src, wchar_t* dst, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    setUsed(used, false);
    wchar_t unit = 0;
    bool ok = false;
    int n = 1;
    if (*src)
        n = systemDecodeChar(src, &unit, &ok);
    if (!ok) {
        setUsed(used, true);
        unit = static_cast<wchar_t>(defaultUnit(def));
    }
    if (dst != nullptr)
        *dst = unit;
    return n;
}

}  // namespace kvo::textconv
