// Code page <-> Unicode for a table of single bytes with ASCII standing for itself (1252, 819, 850):
// blocks of 16 bytes widened to units, or of 16 units narrowed to bytes, and the characters that do not
// stand for themselves looked up and put in place; a short text in one or two blocks read at once. The
// code page <-> Unicode conversions (cp_fast_tables.h) take these ways for such a table; a table
// without ASCII standing for itself (EBCDIC) goes character by character (cp_fast_blocks.h).
//
// No Windows header.
#pragma once

#include "cp_fast_blocks.h"

namespace kvo::textconv {

// ---- Code page -> Unicode

namespace detail {

// The single bytes at p that marked marks (bit k: byte k) looked up, and their units (the default
// where there is none) written at out where it is given; true where one had no mapping.
template <class Unit>
KVO_ALWAYS_INLINE inline bool lookUpMarkedBytes(const CpFastTables& f, const unsigned char* p,
                                                unsigned marked, Unit* out, Unit defUnit) {
    bool usedDefault = false;
    for (; marked != 0; marked &= marked - 1) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(marked));
        uint16_t u = f.single[p[k]];
        if (u == kNoMapping) {
            u = defUnit;
            usedDefault = true;
        }
        if (out != nullptr)
            out[k] = static_cast<Unit>(u);
    }
    return usedDefault;
}

#if defined(__SSE2__)
// Single bytes: a text of at most 31 bytes that all stand for themselves (ASCII and the bytes from
// singleIdentityFrom), whole: its units and terminator where the buffer holds them, and
// its size; 0 for any other text or buffer (the caller takes the loops). Its 32 bytes are read at
// once where they lie in the text's page.
template <class Unit>
KVO_ALWAYS_INLINE inline int shortSingleBytesToUnicode(const CpFastTables& f, const unsigned char* src,
                                                       Unit* dst, size_t room, int* used) {
    if (!inPage(src, 32))
        return 0;
    const __m128i v0 = loadBlockInPage(src);
    const __m128i v1 = loadBlockInPage(src + 16);
    const unsigned zeros = zeroBytes(v0) | (zeroBytes(v1) << 16);
    const __m128i limit = byteLimit(f.singleIdentityFrom);
    const unsigned others = bytesBelow(v0, limit) | (bytesBelow(v1, limit) << 16);
    if (zeros == 0)
        return 0;
    const unsigned t = static_cast<unsigned>(__builtin_ctz(zeros));  // bytes before the terminator
    if ((others & lowBits(t)) != 0 || (room != 0 && t + 1 > room))
        return 0;
    if (room != 0) {
        if (t + 1 >= 16) {
            const __m128i zero = _mm_setzero_si128();
            const __m128i tail = loadBlock(src + t + 1 - 16);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi8(v0, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 8), _mm_unpackhi_epi8(v0, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + t + 1 - 16), _mm_unpacklo_epi8(tail, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + t + 1 - 8), _mm_unpackhi_epi8(tail, zero));
        } else {
            widenBytes(dst, src, t + 1);
        }
    }
    setUsed(used, false);
    return static_cast<int>(t + 1);
}

// Single bytes, ASCII standing for itself, one unit each: blocks of 16 widened, and the bytes that do
// not stand for themselves (the non-ASCII bytes below singleIdentityFrom) looked up and put in place.
// In 1252 and 819 text such bytes are rare (accented letters stand for themselves). The first block
// is read where the text starts if it lies in that page (so a short text takes one block), the
// others aligned (the first may overlap the second: its units are written again alike); the block
// that holds the terminator gives its units up to and with it.
template <class Unit>
int singleBytesToUnicode(const CpFastTables& f, const unsigned char* src, Unit* dst, size_t room,
                         Unit defUnit, int* used) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i limit = byteLimit(f.singleIdentityFrom);
    bool usedDefault = false;
    size_t i = 0;  // the output position too
    if (!inPage(src, 16)) {
        // The bytes before the next aligned block, at the end of the page.
        for (const size_t head = 16 - (reinterpret_cast<uintptr_t>(src) & 15); i < head; ++i) {
            if (src[i] == 0)
                return cpToUnicodeSteps(f, src, i, dst, i, room, defUnit, usedDefault, used);
            uint16_t u = f.single[src[i]];
            if (u == kNoMapping) {
                u = defUnit;
                usedDefault = true;
            }
            if (i < room)
                dst[i] = static_cast<Unit>(u);
        }
    }
    // A block without the terminator, widened (or only counted); false where the buffer ends inside it.
    const auto whole = [&](__m128i v) KVO_ALWAYS_INLINE {
        const unsigned others = bytesBelow(v, limit);
        if (i + 16 <= room) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_unpackhi_epi8(v, zero));
            usedDefault |= lookUpMarkedBytes(f, src + i, others, dst + i, defUnit);
        } else if (i >= room) {
            usedDefault |= lookUpMarkedBytes(f, src + i, others, static_cast<Unit*>(nullptr), defUnit);
        } else {
            return false;
        }
        return true;
    };
    // i: 0 where the first block lies in the page, else aligned.
    __m128i v = loadBlockInPage(src + i);
    unsigned zeros = zeroBytes(v);
    if (zeros == 0) {
        if (!whole(v))
            return cpToUnicodeSteps(f, src, i, dst, i, room, defUnit, usedDefault, used);
        i = i != 0 ? i + 16 : 16 - (reinterpret_cast<uintptr_t>(src) & 15);
        for (;;) {  // aligned from here
            v = loadBlockInPage(src + i);
            zeros = zeroBytes(v);
            if (zeros != 0)
                break;
            if (!whole(v))
                return cpToUnicodeSteps(f, src, i, dst, i, room, defUnit, usedDefault, used);
            i += 16;
        }
    }
    // The block with the terminator: its units up to and with it.
    const unsigned t = static_cast<unsigned>(__builtin_ctz(zeros));  // bytes before it
    const unsigned before = bytesBelow(v, limit) & lowBits(t);
    if (i + t + 1 <= room) {
        widenBytes(dst + i, src + i, t + 1);
        usedDefault |= lookUpMarkedBytes(f, src + i, before, dst + i, defUnit);
    } else if (i >= room) {  // only counting
        usedDefault |= lookUpMarkedBytes(f, src + i, before, static_cast<Unit*>(nullptr), defUnit);
    } else {  // the buffer ends inside this block
        return cpToUnicodeSteps(f, src, i, dst, i, room, defUnit, usedDefault, used);
    }
    setUsed(used, usedDefault);
    return static_cast<int>(i + t + 1);
}

#endif

}  // namespace detail

// ---- Unicode -> code page

namespace detail {

// The units at p that marked marks (bit k: unit k) looked up where every code is one byte, and their
// bytes (the default where there is none) written at out where it is given; true where one had none.
template <class Unit>
KVO_ALWAYS_INLINE inline bool lookUpMarkedUnits(const CpFastTables& f, const Unit* p, unsigned marked,
                                                unsigned char* out, unsigned char defByte) {
    bool usedDefault = false;
    for (; marked != 0; marked &= marked - 1) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(marked));
        unsigned code = fastUnicodeToCp(f, static_cast<uint16_t>(p[k]));
        if (code >= 0x100) {
            code = defByte;
            usedDefault = true;
        }
        if (out != nullptr)
            out[k] = static_cast<unsigned char>(code);
    }
    return usedDefault;
}

#if defined(__SSE2__)
// Bit k set where unit k of 16 (a: the first 8, b: the next) is 0.
inline unsigned zeroUnits16(__m128i a, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero))));
}

// Every code one byte: a text of at most 31 units that all stand for their own byte (ASCII and the
// units from fromIdentityFrom up to U+00FF), whole: its bytes and terminator where the buffer
// holds them, and its size; 0 for any other text or buffer (the caller takes the loops). Its 64 bytes
// are read at once where they lie in the text's page; the text must be 2-byte aligned.
template <class Unit>
KVO_ALWAYS_INLINE inline int shortNarrowUnitsToCp(const CpFastTables& f, const Unit* src, unsigned char* dst,
                                                  size_t room, int* used) {
    if (!inPage(src, 64))
        return 0;
    const __m128i v0 = loadBlockInPage(src);
    const __m128i v1 = loadBlockInPage(src + 8);
    const __m128i v2 = loadBlockInPage(src + 16);
    const __m128i v3 = loadBlockInPage(src + 24);
    const unsigned zeros = zeroUnits16(v0, v1) | (zeroUnits16(v2, v3) << 16);
    if (zeros == 0)
        return 0;
    const __m128i limit = byteLimit(f.fromIdentityFrom);
    const __m128i low = _mm_packus_epi16(v0, v1);
    const unsigned others = unitsNotNarrowed(v0, v1, low, limit) |
                            (unitsNotNarrowed(v2, v3, _mm_packus_epi16(v2, v3), limit) << 16);
    const unsigned t = static_cast<unsigned>(__builtin_ctz(zeros));  // units before the terminator
    if ((others & lowBits(t)) != 0 || (room != 0 && t + 1 > room))
        return 0;
    if (room != 0) {
        if (t + 1 >= 16) {
            const __m128i tail = _mm_packus_epi16(loadBlock(src + t + 1 - 16), loadBlock(src + t + 1 - 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + t + 1 - 16), tail);
        } else {
            narrowUnits(dst, src, t + 1);
        }
    }
    setUsed(used, false);
    return static_cast<int>(t + 1);
}

// Every code one byte, ASCII standing for itself: blocks of 16 units narrowed, and the units that do
// not stand for their own byte (from 0x100, and the non-ASCII ones below fromIdentityFrom) looked up
// and put in place; rare in Western text. The first block is read where the text starts if its 32
// bytes lie in that page (so a short text takes one block), the others aligned (the first may overlap
// the second: its bytes are written again alike); the block that holds the terminator gives its bytes
// up to and with it. The second half of a block is read only where the first holds no terminator (it
// may lie on the next page). The text must be 2-byte aligned.
template <class Unit>
KVO_NOINLINE int narrowUnitsToCp(const CpFastTables& f, const Unit* src, unsigned char* dst, size_t room,
                                 unsigned char defByte, int* used) {
    const __m128i limit = byteLimit(f.fromIdentityFrom);
    bool usedDefault = false;
    size_t j = 0;  // the output position too
    if (!aligned16(src) && !inPage(src, 32)) {
        // The units before the next aligned block, at the end of the page.
        for (const size_t head = (16 - (reinterpret_cast<uintptr_t>(src) & 15)) / 2; j < head; ++j) {
            if (src[j] == 0)
                return unicodeToCpSteps(f, src, j, dst, j, room, defByte, usedDefault, used);
            unsigned code = fastUnicodeToCp(f, static_cast<uint16_t>(src[j]));
            if (code >= 0x100) {
                code = defByte;
                usedDefault = true;
            }
            if (j < room)
                dst[j] = static_cast<unsigned char>(code);
        }
    }
    // The 16 units at j: zeros (bits 2k and 2k + 1 for unit k), the first 8 and the next (the second
    // half read only where the first holds no terminator: it may lie on the next page).
    __m128i v0, v1;
    const auto load = [&]() KVO_ALWAYS_INLINE {
        v0 = loadBlockInPage(src + j);
        v1 = v0;
        unsigned zeros = zeroUnits(v0);
        if (zeros == 0) {
            v1 = loadBlockInPage(src + j + 8);
            zeros = zeroUnits(v1) << 16;
        }
        return zeros;
    };
    // A block without the terminator, narrowed (or only counted); false where the buffer ends inside it.
    const auto whole = [&]() KVO_ALWAYS_INLINE {
        const __m128i narrowed = _mm_packus_epi16(v0, v1);
        const unsigned others = unitsNotNarrowed(v0, v1, narrowed, limit);
        if (j + 16 <= room) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), narrowed);
            usedDefault |= lookUpMarkedUnits(f, src + j, others, dst + j, defByte);
        } else if (j >= room) {
            usedDefault |= lookUpMarkedUnits(f, src + j, others, nullptr, defByte);
        } else {
            return false;
        }
        return true;
    };
    // j: 0 where the first block lies in the page, else aligned.
    unsigned zeros = load();
    if (zeros == 0) {
        if (!whole())
            return unicodeToCpSteps(f, src, j, dst, j, room, defByte, usedDefault, used);
        j = j != 0 ? j + 16 : (32 - (reinterpret_cast<uintptr_t>(src) & 15)) / 2;
        for (;;) {  // aligned from here
            zeros = load();
            if (zeros != 0)
                break;
            if (!whole())
                return unicodeToCpSteps(f, src, j, dst, j, room, defByte, usedDefault, used);
            j += 16;
        }
    }
    // The block with the terminator: its bytes up to and with it.
    const unsigned t = static_cast<unsigned>(__builtin_ctz(zeros)) / 2;  // units before it
    const unsigned before = unitsNotNarrowed(v0, v1, _mm_packus_epi16(v0, v1), limit) & lowBits(t);
    if (j + t + 1 <= room) {
        narrowUnits(dst + j, src + j, t + 1);
        usedDefault |= lookUpMarkedUnits(f, src + j, before, dst + j, defByte);
    } else if (j >= room) {  // only counting
        usedDefault |= lookUpMarkedUnits(f, src + j, before, nullptr, defByte);
    } else {  // the buffer ends inside this block
        return unicodeToCpSteps(f, src, j, dst, j, room, defByte, usedDefault, used);
    }
    setUsed(used, usedDefault);
    return static_cast<int>(j + t + 1);
}

#endif

}  // namespace detail

}  // namespace kvo::textconv
