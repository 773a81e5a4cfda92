#include "system_convert.h"

#include <cstring>
#include <memory>

#include "table_convert.h"

using namespace kvo::textconv;

namespace {

// Converts the one local character at src (1 or 2 bytes, by the system's lead-byte test; a lead byte
// before the terminator is one byte) into a unit. Returns the bytes it takes; *ok is false when the
// system can't convert it.
int systemDecodeChar(const unsigned char* src, wchar_t* unit, bool* ok) {
    const int n = (IsDBCSLeadByte(src[0]) && src[1] != 0) ? 2 : 1;
    const bool cut = n == 1 && IsDBCSLeadByte(src[0]);
    *ok = !cut && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(src), n, unit,
                                      1) == 1;
    return n;
}

size_t unitLength(const wchar_t* s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

}  // namespace

int systemUnicodeToLocal(const wchar_t* src, char* dst, int dstLen, int def, int* used) {
    static const wchar_t kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const int room = dst != nullptr ? static_cast<int>(roomOf(dstLen)) : 0;
    const int length = static_cast<int>(unitLength(src));
    const char defChar = static_cast<char>(defaultByte(def));
    BOOL usedDefault = FALSE;
    if (length == 0) {
        if (room > 0)
            dst[0] = 0;
        setUsed(used, false);
        return 1;
    }
    int produced =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, length, room > 0 ? dst : nullptr, room, &defChar,
                            &usedDefault);
    if (produced == 0 && room > 0) {
        // Too small for the whole text: it gets an empty string, the result still the full size.
        dst[0] = 0;
        produced = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, length, nullptr, 0, &defChar,
                                       &usedDefault);
        setUsed(used, usedDefault != FALSE);
        return produced + 1;
    }
    if (room > 0 && produced < room)
        dst[produced] = 0;
    setUsed(used, usedDefault != FALSE);
    return produced + 1;
}

int systemCompUnicodeToLocal(const unsigned char* src, char* dst, int dstLen, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    // One unit per source byte at most, plus the terminator.
    std::unique_ptr<wchar_t[]> units(new wchar_t[std::strlen(reinterpret_cast<const char*>(src)) + 1]);
    decodeCompUnicodeText(src, units.get(), kReplacementUnit);
    return systemUnicodeToLocal(units.get(), dst, dstLen, def, used);
}

int systemLocalToUnicode(const unsigned char* src, wchar_t* dst, int dstLen, int def, int* used) {
    const unsigned room = dst != nullptr ? roomOf(dstLen) : 0;
    const wchar_t defUnit = static_cast<wchar_t>(defaultUnit(def));
    bool usedDefault = false;
    unsigned n = 0;
    if (src != nullptr) {
        while (*src) {
            wchar_t unit;
            bool ok;
            src += systemDecodeChar(src, &unit, &ok);
            if (!ok) {
                unit = defUnit;
                usedDefault = true;
            }
            if (n < room)
                dst[n] = unit;
            ++n;
        }
    }
    if (n < room)
        dst[n] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(n + 1);
}

int systemLocalToCompUnicode(const unsigned char* src, unsigned char* dst, int dstLen, int def, int* used) {
    const unsigned room = dst != nullptr ? roomOf(dstLen) : 0;
    const uint16_t defUnit = defaultUnit(def);
    bool usedDefault = false;
    unsigned pos = 0;
    if (src != nullptr) {
        while (*src) {
            wchar_t unit;
            bool ok;
            src += systemDecodeChar(src, &unit, &ok);
            if (!ok) {
                unit = static_cast<wchar_t>(defUnit);
                usedDefault = true;
            }
            unsigned char bytes[3];
            const int k = encodeCompUnicode(static_cast<uint16_t>(unit), bytes);
            if (pos + k <= room)
                std::memcpy(dst + pos, bytes, k);
            pos += k;
        }
    }
    if (pos < room)
        dst[pos] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(pos + 1);
}

int systemUnicodeCharToLocal(wchar_t unit, char* dst, int def, int* used) {
    const char defChar = static_cast<char>(defaultByte(def));
    BOOL usedDefault = FALSE;
    char bytes[2];
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &unit, 1, bytes, 2, &defChar, &usedDefault);
    if (n <= 0)
        return 0;
    if (dst != nullptr)
        std::memcpy(dst, bytes, n);
    setUsed(used, usedDefault != FALSE);
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
