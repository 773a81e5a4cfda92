// The two byte forms of 16-bit Unicode units that the library reads and writes itself:
// CompUnicode (NUL-free, 1 to 3 bytes a unit) and UTF-8 (1 to 3 bytes a unit, one sequence per unit).
// No Windows header: used by the DLL, the string classes and the native tests alike.
#pragma once

#include <cstdint>

namespace kvo::textconv {

// Replaces a malformed sequence where the output is Unicode and no default character applies.
constexpr uint16_t kReplacementUnit = 0xFFFD;

// --- CompUnicode -------------------------------------------------------------------------------

// Exchanges the two 2-bit halves of the low nibble; bits 4 to 6 stay. Its own inverse.
inline unsigned compSwap(unsigned g) {
    return ((g << 2) & 0x0C) | ((g >> 2) & 0x03) | (g & 0x70);
}

inline int compUnicodeLength(uint16_t u) {
    return u < 0x80 ? 1 : (u < 0x4000 ? 2 : 3);
}

// Writes the 1 to 3 bytes of u (never a zero byte for u != 0); returns their count.
inline int encodeCompUnicode(uint16_t u, unsigned char* out) {
    if (u < 0x80) {
        out[0] = static_cast<unsigned char>(compSwap(u));
        return 1;
    }
    out[0] = static_cast<unsigned char>(compSwap(u & 0x7F) | 0x80);
    if (u < 0x4000) {
        out[1] = static_cast<unsigned char>(compSwap(u >> 7));
        return 2;
    }
    out[1] = static_cast<unsigned char>(compSwap((u >> 7) & 0x7F) | 0x80);
    out[2] = static_cast<unsigned char>(compSwap(u >> 14));
    return 3;
}

// Reads one unit at p, which must not point at the terminator. Returns the bytes consumed (1 to 3),
// never consuming the terminator. Sets *bad for a unit cut by the terminator and for one that
// decodes to 0 (it would end the text early); *unit is then meaningless.
inline int decodeCompUnicode(const unsigned char* p, uint16_t* unit, bool* bad) {
    unsigned b = p[0];
    unsigned u = compSwap(b & 0x7F);
    *bad = false;
    if (!(b & 0x80)) {
        *unit = static_cast<uint16_t>(u);
        return 1;
    }
    b = p[1];
    if (b == 0) {
        *bad = true;
        return 1;
    }
    u |= compSwap(b & 0x7F) << 7;
    int n = 2;
    if (b & 0x80) {
        b = p[2];
        if (b == 0) {
            *bad = true;
            return 2;
        }
        u |= compSwap(b & 0x7F) << 14;
        n = 3;
    }
    *unit = static_cast<uint16_t>(u);
    if (*unit == 0)
        *bad = true;
    return n;
}

// --- UTF-8 (sequences of 1 to 3 bytes, one per 16-bit unit) ------------------------------------

inline int utf8Length(uint16_t u) {
    return u < 0x80 ? 1 : (u < 0x800 ? 2 : 3);
}

inline int encodeUtf8(uint16_t u, unsigned char* out) {
    if (u < 0x80) {
        out[0] = static_cast<unsigned char>(u);
        return 1;
    }
    if (u < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 2;
    }
    out[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    return 3;
}

inline bool isUtf8Continuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Reads one sequence at p, which must not point at the terminator; returns the bytes consumed and
// never reads past the terminator. Malformed input gives *bad and exactly one unit's worth of
// consumption: a stray continuation byte (1 byte), a sequence cut short by the terminator or by a
// byte that does not continue it (the lead byte and the continuation bytes seen), a lead byte of
// 0xF0 and up (with up to three continuation bytes after it), and an overlong sequence, one longer
// than its unit needs (the whole sequence): C0 AF is not "/", and C0 80 would end the text. Encoded
// surrogates (ED A0 80 to ED BF BF) are units like any other: a supplementary character comes as
// two of them, one per 16-bit unit, as the JVM writes it.
inline int decodeUtf8(const unsigned char* p, uint16_t* unit, bool* bad) {
    unsigned b = p[0];
    *bad = false;
    if (b < 0x80) {
        *unit = static_cast<uint16_t>(b);
        return 1;
    }
    if (b < 0xC0) {
        *bad = true;
        return 1;
    }
    if (b < 0xE0) {
        if (!isUtf8Continuation(p[1])) {
            *bad = true;
            return 1;
        }
        *unit = static_cast<uint16_t>(((b & 0x1F) << 6) | (p[1] & 0x3F));
        *bad = *unit < 0x80;  // lead byte C0 or C1
        return 2;
    }
    if (b < 0xF0) {
        if (!isUtf8Continuation(p[1])) {
            *bad = true;
            return 1;
        }
        if (!isUtf8Continuation(p[2])) {
            *bad = true;
            return 2;
        }
        *unit = static_cast<uint16_t>(((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
        *bad = *unit < 0x800;  // E0 followed by 80 to 9F
        return 3;
    }
    int n = 1;
    while (n < 4 && isUtf8Continuation(p[n]))
        ++n;
    *bad = true;
    return n;
}

// Units that decodeUtf8 produces for the text, without the terminator.
inline unsigned utf8UnitCount(const unsigned char* p) {
    unsigned count = 0;
    uint16_t u;
    bool bad;
    while (*p) {
        p += decodeUtf8(p, &u, &bad);
        ++count;
    }
    return count;
}

// Decodes the whole text into out (room for utf8UnitCount + 1 units), malformed sequences as
// U+FFFD, and terminates it. Returns the units written without the terminator.
template <class Unit>
unsigned decodeUtf8Text(const unsigned char* p, Unit* out) {
    unsigned n = 0;
    uint16_t u;
    bool bad;
    while (*p) {
        p += decodeUtf8(p, &u, &bad);
        out[n++] = static_cast<Unit>(bad ? kReplacementUnit : u);
    }
    out[n] = 0;
    return n;
}

}  // namespace kvo::textconv
