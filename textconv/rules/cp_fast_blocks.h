// What the conversion families on the flat tables (cp_fast_tables.h) share: the compiler attributes
// their hot loops rely on, the character-by-character ways to the end of a text, and the block
// helpers: reads and masks of 16-byte blocks (SSE2), byte shuffles (SSSE3), and the loop over the
// ASCII runs of a byte text that is mostly ASCII.
//
// The texts end with a terminator and come without a length: the conversions read 16 bytes at a time
// where those lie in the text's page (a read past the terminator that stays in its page can't fault),
// so that a text is converted in one pass, and a short one in a block or two.
//
// No Windows header.
#pragma once

#include "cp_fast_build.h"

#if defined(__GNUC__)
#define KVO_ALWAYS_INLINE __attribute__((always_inline))
#define KVO_NOINLINE __attribute__((noinline))
#if defined(__i386__)
// The first three arguments in registers, for a function only the library calls (the 32-bit convention
// passes them on the stack).
#define KVO_REGISTER_ARGUMENTS __attribute__((regparm(3)))
#else
#define KVO_REGISTER_ARGUMENTS
#endif
#else
#define KVO_REGISTER_ARGUMENTS
#define KVO_ALWAYS_INLINE
#define KVO_NOINLINE
#endif

namespace kvo::textconv {

namespace detail {

// A word in memory order.
inline uint32_t littleEndian32(uint32_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_bswap32(w);
#else
    return w;
#endif
}

// A lead byte directly before the terminator is one unmapped byte.
inline uint16_t fastReadLocal(const CpFastTables& f, const unsigned char* src, size_t* i) {
    const unsigned b = src[*i];
    if (!f.lead[b]) {
        *i += 1;
        return f.single[b];
    }
    const unsigned trail = src[*i + 1];
    if (trail == 0) {
        *i += 1;
        return kNoMapping;
    }
    *i += 2;
    return f.trail[b][trail];
}

// After a block's ASCII prefix, where take says so: one character (whatever it is) and the rest of a
// non-ASCII run, character by character.
template <class Unit, class Step>
KVO_ALWAYS_INLINE inline void takeNonAsciiRun(const Unit* src, const size_t& i, bool take, Step step) {
    if (take && src[i] != 0) {
        step();
        while (src[i] >= 0x80)
            step();
    }
}

// Puts a code of one byte (below 0x100) or two at pos where it fits, and moves pos past it.
KVO_ALWAYS_INLINE inline void putCode(unsigned char* dst, size_t& pos, size_t room, unsigned code) {
    if (pos + 3 <= room) {
        // Room for two bytes and whatever follows: write without a branch on the width; the byte
        // after a single-byte code is written again by the next character or the terminator.
        const unsigned wide = code >= 0x100 ? 1u : 0u;
        dst[pos] = static_cast<unsigned char>(wide ? code >> 8 : code);
        dst[pos + 1] = static_cast<unsigned char>(code & 0xFF);
        pos += 1 + wide;
    } else if (code < 0x100) {
        if (pos < room)
            dst[pos] = static_cast<unsigned char>(code);
        ++pos;
    } else {
        if (pos + 2 <= room) {
            dst[pos] = static_cast<unsigned char>(code >> 8);
            dst[pos + 1] = static_cast<unsigned char>(code & 0xFF);
        }
        pos += 2;
    }
}

// The characters left, one by one, then the terminator where it fits; the used-default flag; the size
// of the whole output with its terminator.
template <class Unit, class Out, class Step>
KVO_ALWAYS_INLINE inline int finishText(const Unit* src, const size_t& i, Step step, Out* dst,
                                        const size_t& n, size_t room, int* used, const bool& usedDefault) {
    while (src[i] != 0)
        step();
    if (n < room)
        dst[n] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(n + 1);
}

// The rest of a text from src + i character by character, its units from dst + n on: each written
// where it fits, the terminator where it fits. Sets the flag; returns the size of the whole output.
template <class Unit>
KVO_NOINLINE int cpToUnicodeSteps(const CpFastTables& f, const unsigned char* src, size_t i, Unit* dst,
                                  size_t n, size_t room, Unit defUnit, bool usedDefault, int* used) {
    while (src[i] != 0) {
        uint16_t u = fastReadLocal(f, src, &i);
        if (u == kNoMapping) {
            u = defUnit;
            usedDefault = true;
        }
        if (n < room)
            dst[n] = static_cast<Unit>(u);
        ++n;
    }
    if (n < room)
        dst[n] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(n + 1);
}

// The rest of a text from src + j unit by unit, its codes from dst + pos on: each written where it
// fits whole, the terminator where it fits. Sets the flag; returns the size of the whole output.
template <class Unit>
KVO_NOINLINE int unicodeToCpSteps(const CpFastTables& f, const Unit* src, size_t j, unsigned char* dst,
                                  size_t pos, size_t room, unsigned char defByte, bool usedDefault,
                                  int* used) {
    while (src[j] != 0) {
        unsigned code = fastUnicodeToCp(f, static_cast<uint16_t>(src[j++]));
        if (code == kNoMapping) {
            usedDefault = true;
            code = defByte;
        }
        putCode(dst, pos, room, code);
    }
    if (pos < room)
        dst[pos] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(pos + 1);
}

#if defined(__SSE2__)
// GCC announces AddressSanitizer with __SANITIZE_ADDRESS__, clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__clang__)
#define KVO_READ_PAST_TERMINATOR __attribute__((no_sanitize_address))
#else
#define KVO_READ_PAST_TERMINATOR
#endif

// Length in characters of a text of bytes or of 16-bit units, 16 bytes at a time. Only 16-byte aligned
// blocks are read beyond the terminator, and such a read never crosses into the next page. A text of
// units must be 2-byte aligned.
template <class Char>
KVO_READ_PAST_TERMINATOR inline size_t blockTextLength(const Char* s) {
    static_assert(sizeof(Char) == 1 || sizeof(Char) == 2, "bytes or 16-bit units");
    size_t i = 0;
    while ((reinterpret_cast<uintptr_t>(s + i) & 15) != 0) {
        if (s[i] == 0)
            return i;
        ++i;
    }
    const __m128i zero = _mm_setzero_si128();
    for (;; i += 16 / sizeof(Char)) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(s + i));
        const int mask =
            _mm_movemask_epi8(sizeof(Char) == 1 ? _mm_cmpeq_epi8(v, zero) : _mm_cmpeq_epi16(v, zero));
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / sizeof(Char);
    }
}

inline bool aligned16(const void* p) {
    return (reinterpret_cast<uintptr_t>(p) & 15) == 0;
}

inline __m128i loadBlock(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// Whether the bytes bytes from p lie in p's page, so that reading them can't fault even where the
// text's terminator comes before their end (pages are 4 KiB on every x86 Windows).
inline bool inPage(const void* p, unsigned bytes) {
    return (reinterpret_cast<uintptr_t>(p) & 4095u) <= 4096u - bytes;
}

// 16 bytes from p that may reach past the terminator, where inPage(p, 16) (or aligned).
KVO_READ_PAST_TERMINATOR inline __m128i loadBlockInPage(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// 4 bytes from p in memory order (the first the lowest), which may reach past the terminator, where
// inPage(p, 4).
KVO_READ_PAST_TERMINATOR inline uint32_t load32InPage(const void* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return littleEndian32(w);
}

// Bit k set where byte k of the block is 0.
inline unsigned zeroBytes(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
}

// Bits 2k and 2k + 1 set where unit k of a block of 8 units is 0.
inline unsigned zeroUnits(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, _mm_setzero_si128())));
}

// Bits below bit count (0 to 31).
inline unsigned lowBits(unsigned count) {
    return (1u << count) - 1;
}

// Bit k set when byte k of the block has bit 7 set (not ASCII).
inline unsigned highBits(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(v));
}

// The limit for bytesBelow: identityFrom (0x80 to 0x100) in every byte. Bytes from 0x80 are negative as
// signed bytes, in their order; 0x100 becomes 0, below which are all of them.
inline __m128i byteLimit(unsigned identityFrom) {
    return _mm_set1_epi8(static_cast<char>(identityFrom & 0xFF));
}

// Bit k set when byte k of the block is 0x80 or more and below the limit: the non-ASCII bytes that do
// not stand for themselves.
inline unsigned bytesBelow(__m128i v, __m128i limit) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, limit)));
}

// Bit k set when unit k of 16 (v0 the first 8, v1 the next) is 0x100 or more, or 0x80 or more and
// below identityFrom (0x80 to 0x100); packed holds the 16 units narrowed with unsigned saturation.
inline unsigned unitsNotNarrowed(__m128i v0, __m128i v1, __m128i packed, __m128i limit) {
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF00));
    const __m128i narrow0 = _mm_cmpeq_epi16(_mm_and_si128(v0, high), _mm_setzero_si128());
    const __m128i narrow1 = _mm_cmpeq_epi16(_mm_and_si128(v1, high), _mm_setzero_si128());
    const __m128i wide = _mm_andnot_si128(_mm_packs_epi16(narrow0, narrow1), _mm_set1_epi8(-1));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(wide, _mm_cmplt_epi8(packed, limit))));
}

// The number of set bits, without the processor's own instruction (which the 32-bit build may not
// assume) or a call.
KVO_ALWAYS_INLINE inline unsigned bitCount(unsigned x) {
    x = x - ((x >> 1) & 0x55555555u);
    x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0Fu;
    return (x * 0x01010101u) >> 24;
}

// Byte j is 0xFF from j = p on (p from 0 to 16).
struct BytesFrom {
    alignas(16) unsigned char v[17][16];
    constexpr BytesFrom() : v() {
        for (unsigned p = 0; p <= 16; ++p)
            for (unsigned j = 0; j < 16; ++j)
                v[p][j] = j >= p ? 0xFF : 0x00;
    }
};
inline constexpr BytesFrom kBytesFrom{};

// v without its byte p (0 to 15; 16: none): the bytes after it one place down.
inline __m128i withoutByte(__m128i v, unsigned p) {
    const __m128i from = _mm_load_si128(reinterpret_cast<const __m128i*>(kBytesFrom.v[p]));
    return _mm_or_si128(_mm_andnot_si128(from, v), _mm_and_si128(from, _mm_srli_si128(v, 1)));
}

// Stores v without the bytes whose bits are set in drop (16 bits) at out and returns how many bytes
// that leaves (the 16 bytes are stored: those past the count are garbage). Up to two bytes go without
// a branch on how many; more take a loop, from the highest down.
inline unsigned storeWithout(unsigned char* out, __m128i v, unsigned drop) {
    unsigned dropped;
    const unsigned rest = drop & (drop - 1);
    if ((rest & (rest - 1)) == 0) {
        const unsigned first = static_cast<unsigned>(__builtin_ctz(drop | 0x10000u));
        const unsigned second = static_cast<unsigned>(__builtin_ctz(rest | 0x10000u));
        v = withoutByte(withoutByte(v, second), first);
        dropped = 2 - (first >> 4) - (second >> 4);  // 16 stands for none
    } else {
        dropped = bitCount(drop);
        for (; drop != 0; drop &= ~(0x80000000u >> __builtin_clz(drop)))
            v = withoutByte(v, 31u - static_cast<unsigned>(__builtin_clz(drop)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    return 16 - dropped;
}

// Where a block loop run out of line stopped: the text and output positions, whether at a block of
// another kind (for the caller's own way with such a block) or where too little text or room is left,
// and whether it put in a default.
struct BlocksDone {
    size_t i, pos;
    bool otherBlock;
    bool usedDefault;
};

#if defined(KVO_BYTE_SHUFFLES)
// The SSSE3 block loops of the families (named ...Shuffled) run out of line (their callers keep their
// positions in registers). Each runs blocks of 32 bytes of the kind the text of a Western code page is
// made of, by shuffles, from i and pos, and stops at a block of another kind or where too little text
// or room is left (BlocksDone). Masks, counts and indices are 32-bit.

// Shuffles of 8 bytes by a mask of 8 bits (bit k for byte k). expand: each byte, and after each one
// whose bit is set byte 8 of the source (expandCount: 8 to 16 bytes); compress: the bytes whose bit
// is clear, in their order (compressCount: 0 to 8 bytes), and compressHigh the same for bytes 8 to 15.
struct ByteShuffles {
    alignas(16) unsigned char expand[256][16];
    alignas(8) unsigned char compress[256][8];
    alignas(8) unsigned char compressHigh[256][8];
    unsigned char expandCount[256];
    unsigned char compressCount[256];
    constexpr ByteShuffles() : expand(), compress(), compressHigh(), expandCount(), compressCount() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned e = 0, c = 0;
            for (unsigned k = 0; k < 8; ++k) {
                expand[m][e++] = static_cast<unsigned char>(k);
                if ((m >> k) & 1) {
                    expand[m][e++] = 8;
                } else {
                    compressHigh[m][c] = static_cast<unsigned char>(8 + k);
                    compress[m][c++] = static_cast<unsigned char>(k);
                }
            }
            expandCount[m] = static_cast<unsigned char>(e);
            compressCount[m] = static_cast<unsigned char>(c);
        }
    }
};
inline constexpr ByteShuffles kByteShuffles{};

// The low 8 bytes of v, byte 8 of v put in after each byte that mask (8 bits) marks, stored at out
// (16 bytes are stored); returns out past them.
KVO_SSSE3 inline unsigned char* storeExpanded(unsigned char* out, __m128i v, unsigned mask) {
    const __m128i control = _mm_load_si128(reinterpret_cast<const __m128i*>(kByteShuffles.expand[mask]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, control));
    return out + kByteShuffles.expandCount[mask];
}

// The 16 bytes of v without those that drop (16 bits) marks, stored at out as two halves of 8 (the
// bytes stored past the count are garbage, 8 at most): one shuffle gathers each half's bytes at its
// start. Returns out past them.
KVO_SSSE3 inline unsigned char* storeCompressed(unsigned char* out, __m128i v, unsigned drop) {
    const unsigned low = drop & 0xFFu, high = drop >> 8;
    const __m128 control = _mm_loadh_pi(
        _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kByteShuffles.compress[low]))),
        reinterpret_cast<const __m64*>(kByteShuffles.compressHigh[high]));
    const __m128i halves = _mm_shuffle_epi8(v, _mm_castps_si128(control));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), halves);
    out += kByteShuffles.compressCount[low];
    _mm_storeh_pi(reinterpret_cast<__m64*>(out), _mm_castsi128_ps(halves));
    return out + kByteShuffles.compressCount[high];
}

#endif

// Writes the first count bytes of a block.
inline void storePrefix(unsigned char* dst, __m128i v, unsigned count) {
    alignas(16) unsigned char bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), v);
    unsigned at = 0;  // fixed-size copies, which the compiler inlines
    if (count & 8) {
        std::memcpy(dst, bytes, 8);
        at = 8;
    }
    if (count & 4) {
        std::memcpy(dst + at, bytes + at, 4);
        at += 4;
    }
    if (count & 2) {
        std::memcpy(dst + at, bytes + at, 2);
        at += 2;
    }
    if (count & 1)
        dst[at] = bytes[at];
}

inline unsigned asciiPrefix(unsigned highMask) {
    return highMask == 0 ? 16u : static_cast<unsigned>(__builtin_ctz(highMask));
}

// A byte text that is mostly ASCII, 16 bytes at a time up to len: put(v, k) writes block v's ASCII
// prefix of k bytes at once (it may store the whole block where the bytes after the prefix are certain
// to be written again), then step() converts one character and the rest of a non-ASCII run. With
// double-byte tables the character after a whole ASCII block is taken whatever it is, which spares a
// branch on whether the block was all ASCII. put returns false where the output ends inside the
// prefix: the characters then go one by one.
template <class Put, class Step>
KVO_ALWAYS_INLINE inline void convertAsciiBlocks(const unsigned char* src, size_t& i, size_t& pos, size_t len,
                                                 bool hasLeadBytes, Put put, Step step) {
    while (i + 16 <= len) {
        const __m128i v = loadBlock(src + i);
        const unsigned k = asciiPrefix(highBits(v));
        if (!put(v, k)) {
            step();
            continue;
        }
        i += k;
        pos += k;
        takeNonAsciiRun(src, i, k < 16 || hasLeadBytes, step);
    }
}

// The m bytes at p (1 to 16, up to the terminator at most) as m units at out: two stores of 8 or 4
// units that may overlap, or unit by unit below 4; nothing past out + m.
template <class Unit>
KVO_ALWAYS_INLINE inline void widenBytes(Unit* out, const unsigned char* p, unsigned m) {
    const __m128i zero = _mm_setzero_si128();
    if (m >= 8) {
        const __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + m - 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(head, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + m - 8), _mm_unpacklo_epi8(tail, zero));
    } else if (m >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, p, 4);
        std::memcpy(&tail, p + m - 4, 4);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                         _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(head)), zero));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + m - 4),
                         _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(tail)), zero));
    } else {
        for (unsigned k = 0; k < m; ++k)
            out[k] = static_cast<Unit>(p[k]);
    }
}

// The m units at p (1 to 16, up to the terminator at most) narrowed into m bytes at out (units from
// 0x100 saturated): two stores of 8 or 4 bytes that may overlap, or byte by byte below 4; nothing past
// out + m.
template <class Unit>
KVO_ALWAYS_INLINE inline void narrowUnits(unsigned char* out, const Unit* p, unsigned m) {
    if (m >= 8) {
        const __m128i head = loadBlock(p);
        const __m128i tail = loadBlock(p + m - 8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(head, head));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + m - 8), _mm_packus_epi16(tail, tail));
    } else if (m >= 4) {
        const __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + m - 4));
        const uint32_t headBytes = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(head, head)));
        const uint32_t tailBytes = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(tail, tail)));
        std::memcpy(out, &headBytes, 4);
        std::memcpy(out + m - 4, &tailBytes, 4);
    } else {
        for (unsigned k = 0; k < m; ++k)
            out[k] = static_cast<unsigned char>(p[k]);
    }
}

// Whether all 16 bytes of a block are ASCII other than 0.
inline bool asciiWithoutZero(__m128i v) {
    return _mm_movemask_epi8(_mm_cmpgt_epi8(v, _mm_setzero_si128())) == 0xFFFF;
}

#endif

}  // namespace detail

}  // namespace kvo::textconv
