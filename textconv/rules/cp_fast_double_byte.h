// Code page <-> Unicode for a double-byte table: to Unicode for a table with lead bytes, each lead
// byte and trail byte with a mapping looked up with one read (pairUnits); from Unicode for a table with
// codes of two bytes, each unit's code read in its stored form (storedCodes) and put with one store.
//
// The code page <-> Unicode conversions (cp_fast_tables.h) start these ways inline in the export that
// calls them, with a loop over the leading characters of two bytes (all of a short Japanese text):
// eight at a time, each looked up with one read (units by the raw two bytes in pairUnits, codes in
// their stored form) and put at a fixed place, since text and output move alike. Whatever else the text
// holds goes out of line, so that the export saves no registers for it.
//
// No Windows header.
#pragma once

#include "cp_fast_blocks.h"

namespace kvo::textconv {

namespace detail {

#if defined(__SSE2__)
// ---- Code page -> Unicode

// The index into pairUnits of the two bytes at p, which may reach past the terminator, where p lies in
// the text's page: the first byte in the low half.
KVO_READ_PAST_TERMINATOR inline unsigned pairIndexInPage(const unsigned char* p) {
    uint16_t x;
    std::memcpy(&x, p, 2);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    x = static_cast<uint16_t>((x >> 8) | (x << 8));
#endif
    return x;
}

// Where the text starts with double-byte characters that have a mapping (most of Japanese text), as
// many of them as lie in its page and fit the room (in units) in groups of eight: their units, one read
// each by their two bytes (pairUnits), put at fixed places, one test per character; as text and output
// move alike (two bytes a character), one count runs over both. Returns that count in bytes (twice the
// characters converted). Inline in the conversion, so that a short Japanese text costs no more than
// this loop and the terminator. (The last few characters of an exactly sized buffer are left to the
// caller: a test of the room per character costs the 32-bit build more than it gives.)
KVO_ALWAYS_INLINE inline size_t leadingPairUnits(const uint16_t* pairs, const unsigned char* src, void* dst,
                                                 size_t room) {
    constexpr ptrdiff_t kGroup = 16;  // bytes of text and output a group
    unsigned char* const out = static_cast<unsigned char*>(dst);
    // The last group start (signed: below 0, no group).
    const ptrdiff_t limit =
        std::min(static_cast<ptrdiff_t>(4096 - kGroup - (reinterpret_cast<uintptr_t>(src) & 4095)),
                 static_cast<ptrdiff_t>(2 * room) - kGroup);
    ptrdiff_t i = 0;
    for (; i <= limit; i += kGroup) {
#pragma GCC unroll 8
        for (ptrdiff_t k = 0; k < kGroup; k += 2) {
            const unsigned u = pairs[pairIndexInPage(src + i + k)];
            if (u == 0)
                return static_cast<size_t>(i + k);
            const uint16_t unit = static_cast<uint16_t>(u);
            std::memcpy(out + i + k, &unit, 2);
        }
    }
    return static_cast<size_t>(i);
}

// Double-byte text, only counted: character by character.
KVO_NOINLINE inline int doubleBytesCounted(const CpFastTables& f, const unsigned char* p, int* used) {
    const uint16_t* const* const rows = f.trail;  // null for a byte that is no lead byte
    bool usedDefault = false;
    size_t n = 0;
    for (;; ++n) {
        const unsigned b = *p;
        const uint16_t* const row = rows[b];
        uint16_t u;
        if (row != nullptr) {
            if (p[1] == 0) {  // a lead byte before the terminator: one unmapped byte
                u = kNoMapping;
                p += 1;
            } else {
                u = row[p[1]];
                p += 2;
            }
        } else {
            if (b == 0)
                break;
            u = f.single[b];
            p += 1;
        }
        usedDefault = usedDefault || u == kNoMapping;
    }
    setUsed(used, usedDefault);
    return static_cast<int>(n + 1);
}

// Double-byte text, from byte start on (all before it converted, one unit per two bytes). Where the
// next 16 bytes lie in the text's page and the room holds 16 units more: an ASCII run widened at once
// (16 bytes, or at least 4 up to the next other byte), else up to four characters one by one, each by
// its pair or single-byte unit, up to a character that has neither (the terminator, a lead byte
// without a mapped trail byte, an unmapped byte); after four of them, the last a double-byte one, a run
// of double-byte characters as at the start (leadingPairUnits). Near the page end or the end of the
// room, and at a character that has neither, one character with every test; where the room ends,
// character by character to the end. With no room only counted.
template <class Unit>
KVO_NOINLINE KVO_REGISTER_ARGUMENTS int doubleBytesToUnicodeFrom(const CpFastTables& f,
                                                                 const unsigned char* src, Unit* dst,
                                                                 size_t room, Unit defUnit, int* used,
                                                                 size_t start) {
    if (room == 0)
        return doubleBytesCounted(f, src, used);
    const uint16_t* const pairs = f.pairUnits.get();
    const uint16_t* const single = f.single;
    const __m128i zero = _mm_setzero_si128();
    bool usedDefault = false;
    const unsigned char* p = src + start;
    Unit* out = dst + start / 2;
    Unit* const outEnd = dst + room;
    for (;;) {
        if (inPage(p, 16) && outEnd - out >= 16) {
            // An ASCII run at p: 16 bytes widened at once, or at least 4 up to the next other byte.
            if (f.asciiIdentity) {
                const __m128i v = loadBlockInPage(p);
                const unsigned ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(v, zero)));
                if (ascii == 0xFFFF) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
                    p += 16;
                    out += 16;
                    continue;
                }
                const unsigned run = static_cast<unsigned>(__builtin_ctz(~ascii));
                if (run >= 4) {
                    widenBytes(out, p, run);
                    p += run;
                    out += run;
                    continue;
                }
            }
            unsigned k = 0;
            bool pair = false;
            for (; k < 4; ++k) {
                unsigned u = pairs[pairIndexInPage(p)];
                pair = u != 0;
                if (!pair) {
                    u = single[*p];
                    if (u == kNoMapping)
                        break;
                }
                *out++ = static_cast<Unit>(u);
                p += pair ? 2 : 1;
            }
            if (k == 4) {
                if (pair) {  // Japanese again, most likely
                    const size_t done = leadingPairUnits(pairs, p, out, static_cast<size_t>(outEnd - out));
                    p += done;
                    out += done / 2;
                }
                continue;
            }
        } else if (out >= outEnd) {
            return cpToUnicodeSteps(f, src, static_cast<size_t>(p - src), dst, static_cast<size_t>(out - dst),
                                    room, defUnit, usedDefault, used);
        }
        // One character with every test. A lead byte before the terminator is one unmapped byte.
        const unsigned b = *p;
        if (b == 0) {
            *out = 0;
            setUsed(used, usedDefault);
            return static_cast<int>(out - dst + 1);
        }
        size_t i = 0;
        uint16_t u = fastReadLocal(f, p, &i);
        p += i;
        if (u == kNoMapping) {
            u = defUnit;
            usedDefault = true;
        }
        *out++ = static_cast<Unit>(u);
    }
}

// Where the room ended the leading characters (an exactly sized buffer): the double-byte characters
// that have a mapping one by one while the room holds them (each read only where its first byte is no
// terminator), then the terminator, or the rest as doubleBytesToUnicodeFrom converts it.
template <class Unit>
KVO_NOINLINE KVO_REGISTER_ARGUMENTS int lastPairUnits(const CpFastTables& f, const unsigned char* src,
                                                      Unit* dst, size_t room, Unit defUnit, int* used,
                                                      size_t start) {
    const uint16_t* const pairs = f.pairUnits.get();
    size_t i = start;  // the output has i / 2 units
    for (; i / 2 < room && src[i] != 0; i += 2) {
        const unsigned u = pairs[src[i] | (src[i + 1] << 8)];
        if (u == 0)
            break;
        dst[i / 2] = static_cast<Unit>(u);
    }
    if (src[i] == 0 && i / 2 < room) {
        dst[i / 2] = 0;
        setUsed(used, false);
        return static_cast<int>(i / 2 + 1);
    }
    return doubleBytesToUnicodeFrom(f, src, dst, room, defUnit, used, i);
}

// ---- Unicode -> code page

// Bits 2k and 2k + 1 set where unit k of a block of 8 units is ASCII other than 0.
inline unsigned asciiUnitsWithoutZeroBits(__m128i v) {
    const __m128i ascii =
        _mm_and_si128(_mm_cmpgt_epi16(v, _mm_setzero_si128()), _mm_cmplt_epi16(v, _mm_set1_epi16(0x80)));
    return static_cast<unsigned>(_mm_movemask_epi8(ascii));
}

// The unit of 2 bytes at p (which may be unaligned).
inline unsigned unitAt(const void* p) {
    uint16_t u;
    std::memcpy(&u, p, 2);
    return u;
}

// Where the text starts with units whose codes all have two bytes (most of Japanese text), as many of
// them as fit the room in groups of eight: their codes, read in their stored form, put at fixed places,
// one test per code; as text and output move alike (two bytes a unit), one count runs over both. Each
// unit is read only after the one before it had a code, so nothing past the terminator. Returns that
// count in bytes (twice the units converted). Inline in the conversion, so that a short Japanese text
// costs no more than this loop and the terminator. (The last few units of an exactly sized buffer are
// left to the caller, as in leadingPairUnits.)
KVO_ALWAYS_INLINE inline size_t leadingPairCodes(const uint16_t* stored, const void* src, unsigned char* dst,
                                                 size_t room) {
    constexpr ptrdiff_t kGroup = 16;  // bytes of text and output a group
    const unsigned char* const text = static_cast<const unsigned char*>(src);
    const ptrdiff_t limit = static_cast<ptrdiff_t>(room) - kGroup;  // the last group start (below 0: none)
    // The unit at at: its code put where it has two bytes; false where not.
    const auto pair = [&](ptrdiff_t at) KVO_ALWAYS_INLINE {
        const unsigned s = stored[unitAt(text + at)];
        if (s < 0x100)
            return false;
        const uint16_t bytes = static_cast<uint16_t>(s);
        std::memcpy(dst + at, &bytes, 2);
        return true;
    };
    ptrdiff_t i = 0;
    for (; i <= limit; i += kGroup) {
#pragma GCC unroll 8
        for (ptrdiff_t k = 0; k < kGroup; k += 2) {
            if (!pair(i + k))
                return static_cast<size_t>(i + k);
        }
    }
    return static_cast<size_t>(i);
}

// Codes of two bytes, only counted: unit by unit, each code read in its stored form.
template <class Unit>
KVO_NOINLINE int storedCodesCounted(const CpFastTables& f, const Unit* src, int* used) {
    const uint16_t* const stored = f.storedCodes.get();
    bool usedDefault = false;
    size_t pos = 0;
    for (const Unit* q = src; *q != 0; ++q) {
        const unsigned s = stored[static_cast<uint16_t>(*q)];
        if (s == kNoStoredCode) {
            usedDefault = true;
            pos += 1;
        } else {
            pos += 1 + storedCodeIsWide(s);
        }
    }
    setUsed(used, usedDefault);
    return static_cast<int>(pos + 1);
}

// Codes of two bytes, from the unit at start on (all before it converted, two bytes each). Where the
// next 8 units lie in the text's page and the room holds 18 bytes more: an ASCII run narrowed at once
// (8 units, or at least 4 up to the next other unit), then up to four units each put with one store
// and the output moved past it (the byte after a code of one byte is written again by what follows:
// the two bytes more of room see to it), up to a unit without a code or the terminator; after four of
// them, the last with a code of two bytes, a run of such units as at the start (leadingPairCodes).
// Near the page end or the end of the room, and at a unit without a code, unit by unit with every test
// and each code put exactly (where fewer than two bytes of room are left, to the end). With no room
// only counted.
template <class Unit>
KVO_NOINLINE KVO_REGISTER_ARGUMENTS int storedCodesToCpFrom(const CpFastTables& f, const Unit* src,
                                                            unsigned char* dst, size_t room, int def,
                                                            int* used, size_t start) {
    const uint16_t* const stored = f.storedCodes.get();
    const unsigned char defByte = defaultByte(def);
    if (room == 0)
        return storedCodesCounted(f, src, used);
    bool usedDefault = false;
    const Unit* q = src + start;
    unsigned char* out = dst + 2 * start;
    unsigned char* const outEnd = dst + room;
    // The code of the unit at q (not the terminator, 0 where it has none) at out, both moved past it.
    const auto put = [&](unsigned s) KVO_ALWAYS_INLINE {
        if (s == kNoStoredCode) {
            s = defByte;
            usedDefault = true;
        }
        const uint16_t bytes = static_cast<uint16_t>(s);
        std::memcpy(out, &bytes, 2);
        out += 1 + storedCodeIsWide(s);
        ++q;
    };
    for (;;) {
        if (inPage(q, 16) && outEnd - out >= 18) {
            // An ASCII run at q: 8 units narrowed at once, or at least 4 up to the next other unit.
            if (f.asciiIdentity) {
                const __m128i v = loadBlockInPage(q);
                const unsigned ascii = asciiUnitsWithoutZeroBits(v);
                if (ascii == 0xFFFF) {
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
                    q += 8;
                    out += 8;
                    continue;
                }
                const unsigned run = static_cast<unsigned>(__builtin_ctz(~ascii)) / 2;
                if (run >= 4) {
                    narrowUnits(out, q, run);
                    q += run;
                    out += run;
                }
            }
            unsigned s = 0;
            unsigned k = 0;
            for (; k < 4; ++k) {
                s = stored[unitAt(q)];
                if (s == kNoStoredCode)
                    break;
                put(s);
            }
            if (k == 4) {
                if (s >= 0x100) {  // Japanese again, most likely
                    const size_t done = leadingPairCodes(stored, q, out, static_cast<size_t>(outEnd - out));
                    q += done / 2;
                    out += done;
                }
                continue;
            }
        } else if (outEnd - out < 2) {
            return unicodeToCpSteps(f, src, static_cast<size_t>(q - src), dst, static_cast<size_t>(out - dst),
                                    room, defByte, usedDefault, used);
        }
        // One unit with every test, its code put exactly (nothing after it may be written again).
        const unsigned u = static_cast<uint16_t>(*q);
        if (u == 0) {
            *out = 0;
            setUsed(used, usedDefault);
            return static_cast<int>(out - dst + 1);
        }
        const unsigned s = stored[u];
        if (s >= 0x100) {
            put(s);
        } else {
            *out++ = s != kNoStoredCode ? static_cast<unsigned char>(s) : defByte;
            usedDefault = usedDefault || s == kNoStoredCode;
            ++q;
        }
    }
}

// Where the room ended the leading units (an exactly sized buffer): the units whose codes have two bytes
// one by one while the room holds them, then the terminator, or the rest as storedCodesToCpFrom
// converts it. With no room only counted.
template <class Unit>
KVO_NOINLINE KVO_REGISTER_ARGUMENTS int lastPairCodes(const CpFastTables& f, const Unit* src,
                                                      unsigned char* dst, size_t room, int def, int* used,
                                                      size_t start) {
    if (room == 0)
        return storedCodesCounted(f, src, used);
    const uint16_t* const stored = f.storedCodes.get();
    size_t i = start;
    for (; 2 * i + 2 <= room; ++i) {
        const unsigned s = stored[static_cast<uint16_t>(src[i])];
        if (s < 0x100)
            break;
        const uint16_t bytes = static_cast<uint16_t>(s);
        std::memcpy(dst + 2 * i, &bytes, 2);
    }
    if (src[i] == 0 && 2 * i < room) {
        dst[2 * i] = 0;
        setUsed(used, false);
        return static_cast<int>(2 * i + 1);
    }
    return storedCodesToCpFrom(f, src, dst, room, def, used, i);
}

#endif

}  // namespace detail

}  // namespace kvo::textconv
