#include "system_convert.h"

#include <cstring>

#include "exact_code_page.h"
#include "heap.h"
#include "os_calls.h"
#include "table_convert.h"

namespace kvo::textconv {

namespace {

bool isHighSurrogate(wchar_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

bool isLowSurrogate(wchar_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The units of the character that starts at src[i] (of length units): 2 for a surrogate pair, else 1.
int unitsOfCharacter(const wchar_t* src, int i, int length) {
    return isHighSurrogate(src[i]) && i + 1 < length && isLowSurrogate(src[i + 1]) ? 2 : 1;
}

// The bytes of the UTF-8 character that starts at src, as far as it is well formed: a lead byte and
// the continuation bytes it announces, fewer where one is missing (the terminator is none).
int utf8CharLength(const unsigned char* src) {
    const unsigned char b = src[0];
    const int more = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : 0;
    int n = 1;
    while (n <= more && src[n] >= 0x80 && src[n] <= 0xBF)
        ++n;
    return n;
}

size_t unitLength(const wchar_t* s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

}  // namespace

SystemCodePage::SystemCodePage(UINT number) : number_(number) {
    CPINFO info;
    if (os.GetCPInfo(number, &info)) {
        maxCharSize_ = info.MaxCharSize;
        for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
            for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b)
                leadByte_[b] = true;
        }
    }
}

SystemCodePage SystemCodePage::ansi() {
    return SystemCodePage(os.GetACP());
}

kvo::CodePageCalls SystemCodePage::calls() const {
    return {os.WideCharToMultiByte, os.MultiByteToWideChar};
}

int SystemCodePage::encodeChar(const wchar_t* units, int count, char (&out)[kMaxExactCharBytes]) const {
    return kvo::exactCharBytes(calls(), number_, units, count, out);
}

int SystemCodePage::decodeChar(const unsigned char* src, wchar_t (&units)[2], int* count) const {
    const char* bytes = reinterpret_cast<const char*>(src);
    if (number_ == CP_UTF8 || maxCharSize_ <= 2) {
        int n = 1;
        if (number_ == CP_UTF8)
            n = utf8CharLength(src);
        else if (maxCharSize_ == 2 && leadByte_[src[0]] && src[1] != 0)
            n = 2;
        // A lead byte cut off by the terminator converts alone, and that fails.
        *count = kvo::exactCharUnits(calls(), number_, bytes, n, units);
        return n;
    }
    // Characters of other lengths (GB18030, the stateful pages): the shortest run of bytes that is a
    // character with an exact Unicode form.
    for (int n = 1; n <= static_cast<int>(maxCharSize_) && src[n - 1] != 0; ++n) {
        *count = kvo::exactCharUnits(calls(), number_, bytes, n, units);
        if (*count != 0)
            return n;
    }
    *count = 0;
    return 1;
}

namespace {

// Texts up to this many bytes or units go through the system in one piece when they convert exactly;
// longer ones, and those that don't, character by character. No heap memory is used either way.
constexpr int kWholeText = 512;

// Calls put with the unit of every local character of the text in the ANSI code page, the default
// unit for one that has no exact Unicode form (and then sets *usedDefault).
template <class Put>
void forEachLocalUnit(const unsigned char* src, wchar_t defUnit, bool* usedDefault, Put put) {
    if (src == nullptr || *src == 0)
        return;
    const SystemCodePage codePage = SystemCodePage::ansi();
    const size_t length = std::strlen(reinterpret_cast<const char*>(src));
    if (length <= static_cast<size_t>(kWholeText)) {
        wchar_t units[kWholeText];
        char back[kWholeText];
        const int count =
            kvo::exactUnitsInto(codePage.calls(), codePage.number(), reinterpret_cast<const char*>(src),
                                static_cast<int>(length), units, kWholeText, back);
        for (int i = 0; i < count; ++i)
            put(units[i]);
        if (count != 0)
            return;
    }
    while (*src) {
        wchar_t units[2];
        int n = 0;
        src += codePage.decodeChar(src, units, &n);
        if (n == 0) {
            units[0] = defUnit;
            n = 1;
            *usedDefault = true;
        }
        for (int k = 0; k < n; ++k)
            put(units[k]);
    }
}

// The length units at src in the ANSI code page, with the buffer contract of ordinal 1. A unit that
// bad marks (a malformed unit of the source) becomes the default character like one without an exact
// form.
int unitsToLocal(const wchar_t* src, int length, const bool* bad, char* dst, int dstLen, int def, int* used) {
    const int room = dst != nullptr ? static_cast<int>(roomOf(dstLen)) : 0;
    const SystemCodePage codePage = SystemCodePage::ansi();
    bool anyBad = false;
    for (int i = 0; bad != nullptr && i < length; ++i)
        anyBad = anyBad || bad[i];
    // The whole text at once where it is short enough and converts exactly.
    char whole[4 * kWholeText];
    int needed = 0;
    if (length > 0 && length <= kWholeText && !anyBad) {
        wchar_t back[kWholeText];
        needed =
            kvo::exactBytesInto(codePage.calls(), codePage.number(), src, length, whole, sizeof(whole), back);
    }
    const bool exact = length == 0 || needed != 0;
    // Else character by character (a surrogate pair is one character), each without an exact form
    // becoming the caller's default character, one per unit: once to count, once to write.
    const char defChar = static_cast<char>(defaultByte(def));
    bool usedDefault = false;
    const auto substitute = [&](char* out) {
        int n = 0;
        for (int i = 0; i < length;) {
            const bool malformed = bad != nullptr && bad[i];
            const int units = malformed || (bad != nullptr && i + 1 < length && bad[i + 1])
                                  ? 1
                                  : unitsOfCharacter(src, i, length);
            char bytes[kMaxExactCharBytes];
            int k = malformed ? 0 : codePage.encodeChar(src + i, units, bytes);
            if (k == 0) {
                std::memset(bytes, defChar, static_cast<size_t>(units));
                k = units;
                usedDefault = true;
            }
            if (out != nullptr)
                std::memcpy(out + n, bytes, static_cast<size_t>(k));
            n += k;
            i += units;
        }
        return n;
    };
    if (!exact)
        needed = substitute(nullptr);
    if (room > 0) {
        if (needed > room) {
            // Too small for the whole text: it gets an empty string; the result is still the full size.
            dst[0] = 0;
        } else {
            if (exact)
                std::memcpy(dst, whole, static_cast<size_t>(needed));
            else
                substitute(dst);
            if (needed < room)
                dst[needed] = 0;
        }
    }
    setUsed(used, usedDefault);
    return needed + 1;
}

}  // namespace

int systemUnicodeToLocal(const wchar_t* src, char* dst, int dstLen, int def, int* used) {
    static const wchar_t kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    return unitsToLocal(src, static_cast<int>(unitLength(src)), nullptr, dst, dstLen, def, used);
}

// The one temporary buffer of the system's way: 0 (nothing written) when it can't be had.
int systemCompUnicodeToLocal(const unsigned char* src, char* dst, int dstLen, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    // One unit per source byte at most, and a mark for each unit that is malformed.
    const size_t most = std::strlen(reinterpret_cast<const char*>(src));
    const kvo::HeapArray<wchar_t> units = kvo::makeHeapArray<wchar_t>(most + 1);
    const kvo::HeapArray<bool> bad = kvo::makeHeapArray<bool>(most + 1);
    if (!units || !bad)
        return 0;
    int count = 0;
    while (*src) {
        uint16_t unit = 0;
        bool malformed = false;
        src += decodeCompUnicode(src, &unit, &malformed);
        units[static_cast<size_t>(count)] = static_cast<wchar_t>(unit);
        bad[static_cast<size_t>(count++)] = malformed;
    }
    return unitsToLocal(units.get(), count, bad.get(), dst, dstLen, def, used);
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
    char bytes[kMaxExactCharBytes];
    int n = SystemCodePage::ansi().encodeChar(&unit, 1, bytes);
    // The caller's buffer holds two bytes: a character that takes more (UTF-8 from U+0800 up) has no
    // form that fits.
    if (n > 2)
        n = 0;
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
    wchar_t units[2] = {0, 0};
    int count = 0;
    int n = 1;
    if (*src)
        n = SystemCodePage::ansi().decodeChar(src, units, &count);
    // One unit is all the caller has room for: a character beyond the BMP does not fit.
    if (count != 1) {
        setUsed(used, true);
        units[0] = static_cast<wchar_t>(defaultUnit(def));
    }
    if (dst != nullptr)
        *dst = units[0];
    return n;
}

}  // namespace kvo::textconv
