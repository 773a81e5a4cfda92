// Table-driven conversions of whole NUL-terminated texts on a validated code-page image.
//
// Buffer contract shared by every function here: the result is the size of the complete output
// including its terminator, in output units, whatever dst and dstLen are; nothing is written when dst
// is null; output is written only in whole characters that fit within dstLen, the terminator only
// where a unit of room is left. The used-default flag (may be null) is set to 1 when a character had
// no mapping (or was malformed) and became the default character, else to 0.
//
// No Windows header: the same loops run in the DLL and, natively, in the tests.
#pragma once

#include <cstdint>

#include "codecs.h"
#include "cp_image.h"

namespace kvo::textconv {

// The default character for byte outputs: the low byte of def (0 would end the text: '?').
inline unsigned char defaultByte(int def) {
    const unsigned char b = static_cast<unsigned char>(def & 0xFF);
    return b != 0 ? b : static_cast<unsigned char>('?');
}

// The default character for Unicode and CompUnicode outputs (0 would end the text: U+FFFD).
inline uint16_t defaultUnit(int def) {
    const uint16_t u = static_cast<uint16_t>(def & 0xFFFF);
    return u != 0 ? u : kReplacementUnit;
}

inline unsigned roomOf(int dstLen) {
    return dstLen > 0 ? static_cast<unsigned>(dstLen) : 0u;
}

inline void setUsed(int* used, bool value) {
    if (used)
        *used = value ? 1 : 0;
}

// The exports take and give char texts; the conversions read and write bytes.
inline const unsigned char* bytesOf(const char* s) {
    return reinterpret_cast<const unsigned char*>(s);
}

inline unsigned char* bytesOf(char* s) {
    return reinterpret_cast<unsigned char*>(s);
}

namespace detail {

// Appends one code-page code (or the default byte) to a byte output.
struct CpByteWriter {
    unsigned char* dst;
    unsigned room;
    unsigned pos = 0;
    unsigned char def;
    bool usedDefault = false;

    void put(uint16_t code) {
        if (code == kNoMapping) {
            usedDefault = true;
            code = def;
        }
        if (code < 0x100) {
            if (dst && pos < room)
                dst[pos] = static_cast<unsigned char>(code);
            pos += 1;
        } else {
            if (dst && pos + 2 <= room) {
                dst[pos] = static_cast<unsigned char>(code >> 8);
                dst[pos + 1] = static_cast<unsigned char>(code & 0xFF);
            }
            pos += 2;
        }
    }
    int finish(int* used) {
        if (dst && pos < room)
            dst[pos] = 0;
        setUsed(used, usedDefault);
        return static_cast<int>(pos + 1);
    }
};

struct CompUnicodeWriter {
    unsigned char* dst;
    unsigned room;
    unsigned pos = 0;

    void put(uint16_t u) {
        unsigned char bytes[3];
        const int n = encodeCompUnicode(u, bytes);
        if (dst && pos + n <= room) {
            for (int i = 0; i < n; ++i)
                dst[pos + i] = bytes[i];
        }
        pos += n;
    }
    int finish() {
        if (dst && pos < room)
            dst[pos] = 0;
        return static_cast<int>(pos + 1);
    }
};

}  // namespace detail

// Unicode -> code page (ordinals 1 and 2 on a table).
template <class Unit>
int tableUnicodeToCp(const CpRecords& t, const Unit* src, unsigned char* dst, int dstLen, int def,
                     int* used) {
    detail::CpByteWriter w{dst, roomOf(dstLen), 0, defaultByte(def)};
    if (src) {
        for (; *src; ++src)
            w.put(cpUnicodeToCp(t, static_cast<uint16_t>(*src)));
    }
    return w.finish(used);
}

// CompUnicode -> code page (ordinals 5, 6 and 7 on a table). A malformed unit is one default byte.
inline int tableCompUnicodeToCp(const CpRecords& t, const unsigned char* src, unsigned char* dst, int dstLen,
                                int def, int* used) {
    detail::CpByteWriter w{dst, roomOf(dstLen), 0, defaultByte(def)};
    if (src) {
        while (*src) {
            uint16_t u;
            bool bad;
            src += decodeCompUnicode(src, &u, &bad);
            w.put(bad ? kNoMapping : cpUnicodeToCp(t, u));
        }
    }
    return w.finish(used);
}

// Code page -> Unicode (ordinals 3 and 4 on a table).
template <class Unit>
int tableCpToUnicode(const CpRecords& t, const unsigned char* src, Unit* dst, int dstLen, int def,
                     int* used) {
    const unsigned room = roomOf(dstLen);
    const uint16_t defUnit = defaultUnit(def);
    bool usedDefault = false;
    unsigned n = 0;
    if (src) {
        while (*src) {
            int dbcs;
            uint16_t u = cpToUnicode(t, src, &dbcs);
            src += 1 + dbcs;
            if (u == kNoMapping) {
                u = defUnit;
                usedDefault = true;
            }
            if (dst && n < room)
                dst[n] = static_cast<Unit>(u);
            ++n;
        }
    }
    if (dst && n < room)
        dst[n] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(n + 1);
}

// Code page -> CompUnicode (ordinals 8 to 11, 25 and 30 on a table).
inline int tableCpToCompUnicode(const CpRecords& t, const unsigned char* src, unsigned char* dst, int dstLen,
                                int def, int* used) {
    detail::CompUnicodeWriter w{dst, roomOf(dstLen)};
    const uint16_t defUnit = defaultUnit(def);
    bool usedDefault = false;
    if (src) {
        while (*src) {
            int dbcs;
            uint16_t u = cpToUnicode(t, src, &dbcs);
            src += 1 + dbcs;
            if (u == kNoMapping) {
                u = defUnit;
                usedDefault = true;
            }
            w.put(u);
        }
    }
    setUsed(used, usedDefault);
    return w.finish();
}

// Size of the CompUnicode form of a local text on a table, counting an unmapped character as one
// byte (NFGetEncodedLength).
inline int tableEncodedLength(const CpRecords& t, const unsigned char* src) {
    unsigned n = 0;
    if (src) {
        while (*src) {
            int dbcs;
            const uint16_t u = cpToUnicode(t, src, &dbcs);
            src += 1 + dbcs;
            n += u == kNoMapping ? 1 : compUnicodeLength(u);
        }
    }
    return static_cast<int>(n + 1);
}

// --- Codecs without a table --------------------------------------------------------------------

// Decodes CompUnicode into units (room for strlen(src) + 1), malformed units as `bad`; terminates.
template <class Unit>
unsigned decodeCompUnicodeText(const unsigned char* src, Unit* out, uint16_t badUnit) {
    unsigned n = 0;
    while (*src) {
        uint16_t u;
        bool bad;
        src += decodeCompUnicode(src, &u, &bad);
        out[n++] = static_cast<Unit>(bad ? badUnit : u);
    }
    out[n] = 0;
    return n;
}

// Units that decodeCompUnicodeText produces for the text, without the terminator.
inline unsigned compUnicodeUnitCount(const unsigned char* src) {
    unsigned n = 0;
    while (*src) {
        uint16_t u;
        bool bad;
        src += decodeCompUnicode(src, &u, &bad);
        ++n;
    }
    return n;
}

// Bytes of the UTF-8 or CompUnicode form of units (terminator counted as 1).
template <class Unit, class Length>
unsigned encodedSizeOf(const Unit* src, Length length) {
    unsigned n = 1;
    for (; *src; ++src)
        n += length(static_cast<uint16_t>(*src));
    return n;
}

template <class Unit>
unsigned utf8SizeOf(const Unit* src) {
    return encodedSizeOf(src, utf8Length);
}

template <class Unit>
unsigned compUnicodeSizeOf(const Unit* src) {
    return encodedSizeOf(src, compUnicodeLength);
}

// Encodes units and their terminator; the caller has checked the room.
template <class Unit>
void encodeUtf8Text(const Unit* src, unsigned char* dst) {
    for (; *src; ++src)
        dst += encodeUtf8(static_cast<uint16_t>(*src), dst);
    *dst = 0;
}

template <class Unit>
void encodeCompUnicodeText(const Unit* src, unsigned char* dst) {
    for (; *src; ++src)
        dst += encodeCompUnicode(static_cast<uint16_t>(*src), dst);
    *dst = 0;
}

// NFIsAllASCII: every byte in 0x01..0x7D except 0x1A, 0x1C and the backslash.
inline int isAllAscii(const unsigned char* text) {
    if (text == nullptr)
        return 1;
    for (; *text; ++text) {
        const unsigned char b = *text;
        if (b > 0x7D || b == 0x1A || b == 0x1C || b == 0x5C)
            return 0;
    }
    return 1;
}

}  // namespace kvo::textconv
