// Per-process flat expansions of a validated code-page image, and the whole-text conversions that
// run on them. The shared image stays the one source: these tables are derived from its records when
// a table is loaded (single bytes, one 256-entry page per lead byte and per Unicode high byte that
// has a record, the CompUnicode form of every single byte), so that the conversion loops do one
// array access per character instead of range tests. Results and buffer contract are exactly those
// of table_convert.h, which stays the reference the tests compare against.
//
// No Windows header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs.h"
#include "cp_image.h"
#include "heap.h"
#include "table_convert.h"

#if defined(__GNUC__)
#define KVO_ALWAYS_INLINE __attribute__((always_inline))
#else
#define KVO_ALWAYS_INLINE
#endif

namespace kvo::textconv {

struct CpFastTables {
    uint16_t single[256];        // single byte -> unit, kNoMapping where none (and for byte 0)
    unsigned char lead[256];     // 1 for a lead byte
    const uint16_t* trail[256];  // lead byte -> 256 units by trail byte (null when not a lead byte)
    const uint16_t*
        fromPage[256];         // Unicode high byte -> 256 codes by low byte (an all-kNoMapping page if none)
    uint32_t compSingle[256];  // CompUnicode bytes of single[b] (low 24 bits) and their count (top 8)
    const uint32_t* compTrail[256];  // lead byte -> the same for each trail byte (0: no mapping)
    bool hasLeadBytes = false;
    bool asciiIdentity = false;  // 0x01..0x7F are single bytes mapping to themselves, both ways
    bool narrowCodes = false;    // every code from Unicode is one byte (or kNoMapping)
    kvo::HeapArray<uint16_t> pages;
    kvo::HeapArray<uint32_t> compPages;
    // Where the codes of a CompUnicode unit of two or three bytes lie in `pages`, by its bytes after the
    // first: the low 7 bits of the second and third byte for three bytes, 0x4000 + those of the second
    // for two. The first byte's 7-bit group is then the index from there.
    kvo::HeapArray<uint32_t> compUnitPage;
};

// CompUnicode bytes of u (low 24 bits) and their count (top 8 bits); 0 for kNoMapping.
inline uint32_t packedCompUnicode(uint16_t u) {
    if (u == kNoMapping)
        return 0;
    unsigned char bytes[3] = {0, 0, 0};
    const int n = encodeCompUnicode(u, bytes);
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(n) << 24);
}

// Builds the tables of a validated image; false (and f left empty) when their memory can't be had.
inline bool buildFastTables(const CpRecords& t, CpFastTables* f) {
    unsigned leadCount = 0, fromCount = 0;
    for (unsigned i = 0; i < 256; ++i) {
        leadCount += cpIsLeadByte(t, static_cast<unsigned char>(i)) ? 1 : 0;
        fromCount += (i < t.fromUnicodeCount && t.fromUnicode[i] != nullptr) ? 1 : 0;
    }
    const size_t pageCount = 1 + leadCount + fromCount;
    constexpr size_t kCompUnitPages = 0x4080;
    *f = CpFastTables{};
    f->pages = kvo::makeHeapArray<uint16_t>(256 * pageCount);
    f->compPages = kvo::makeHeapArray<uint32_t>(256 * leadCount);
    f->compUnitPage = kvo::makeHeapArray<uint32_t>(kCompUnitPages);
    if (!f->pages || !f->compPages || !f->compUnitPage) {
        *f = CpFastTables{};
        return false;
    }
    std::fill_n(f->pages.get(), 256 * pageCount, kNoMapping);
    std::fill_n(f->compPages.get(), 256 * leadCount, 0u);
    uint32_t* nextComp = f->compPages.get();
    uint16_t* next = f->pages.get() + 256;  // page 0: all kNoMapping
    f->hasLeadBytes = leadCount != 0;
    f->narrowCodes = true;
    for (unsigned b = 0; b < 256; ++b) {
        f->lead[b] = cpIsLeadByte(t, static_cast<unsigned char>(b)) ? 1 : 0;
        f->single[b] = (b == 0 || f->lead[b] || t.toUnicode[0] == nullptr)
                           ? kNoMapping
                           : cpRecordLookup(t.toUnicode[0], b);
        f->trail[b] = nullptr;
        f->compTrail[b] = nullptr;
        if (f->lead[b]) {
            for (unsigned x = 1; x < 256; ++x) {
                next[x] = cpRecordLookup(t.toUnicode[b], x);
                nextComp[x] = packedCompUnicode(next[x]);
            }
            f->trail[b] = next;
            f->compTrail[b] = nextComp;
            next += 256;
            nextComp += 256;
        }
        f->fromPage[b] = f->pages.get();
        if (b < t.fromUnicodeCount && t.fromUnicode[b] != nullptr) {
            for (unsigned x = 0; x < 256; ++x) {
                next[x] = cpRecordLookup(t.fromUnicode[b], x);
                if (next[x] >= 0x100 && next[x] != kNoMapping)
                    f->narrowCodes = false;
            }
            if (b == 0)
                next[0] = kNoMapping;
            f->fromPage[b] = next;
            next += 256;
        }
        f->compSingle[b] = packedCompUnicode(f->single[b]);
    }
    // A unit's value is g0 | g1 << 7 | g2 << 14 cut to 16 bits: its high byte comes from g1 and g2, and
    // g1's low bit is bit 7 of its low byte.
    const auto pageAt = [&](unsigned g1, unsigned g2) {
        const unsigned high = ((g1 >> 1) | (g2 << 6)) & 0xFF;
        return static_cast<uint32_t>(f->fromPage[high] - f->pages.get()) + ((g1 & 1) << 7);
    };
    for (unsigned x = 0; x < 0x4000; ++x)
        f->compUnitPage[x] = pageAt(compSwap(x & 0x7F), compSwap(x >> 7));
    for (unsigned x = 0; x < 0x80; ++x)
        f->compUnitPage[0x4000 + x] = pageAt(compSwap(x), 0);
    f->asciiIdentity = true;
    for (unsigned b = 1; b < 0x80; ++b) {
        if (f->single[b] != b || f->fromPage[0][b] != b)
            f->asciiIdentity = false;
    }
    return true;
}

inline uint16_t fastUnicodeToCp(const CpFastTables& f, uint16_t u) {
    return f.fromPage[u >> 8][u & 0xFF];
}

namespace detail {

// The 7-bit group that a CompUnicode byte carries (bit 7 ignored).
struct CompGroups {
    uint16_t v[256];
    constexpr CompGroups() : v() {
        for (unsigned b = 0; b < 256; ++b)
            v[b] = static_cast<uint16_t>(((b << 2) & 0x0C) | ((b >> 2) & 0x03) | (b & 0x70));
    }
};
constexpr CompGroups kCompGroupTable{};
constexpr const uint16_t* kCompGroup = kCompGroupTable.v;

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

#if defined(__SSE2__)
#if defined(__SANITIZE_ADDRESS__)
#define KVO_ALIGNED_BLOCK_READ __attribute__((no_sanitize_address))
#else
#define KVO_ALIGNED_BLOCK_READ
#endif

// Length in characters of a text of bytes or of 16-bit units, 16 bytes at a time. Only 16-byte aligned
// blocks are read beyond the terminator, and such a read never crosses into the next page. A text of
// units must be 2-byte aligned.
template <class Char>
KVO_ALIGNED_BLOCK_READ inline size_t blockTextLength(const Char* s) {
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

// An aligned block that may reach past the terminator (never past its page).
KVO_ALIGNED_BLOCK_READ inline __m128i loadAlignedBlock(const void* p) {
    return _mm_load_si128(static_cast<const __m128i*>(p));
}

// Bit k set when byte k of the block has bit 7 set (not ASCII).
inline unsigned highBits(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(v));
}

// Bit k set when unit k of a block of 8 units is 0x80 or more.
inline unsigned nonAsciiUnits(__m128i v) {
    const __m128i high = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
    const __m128i ascii = _mm_cmpeq_epi16(high, _mm_setzero_si128());
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ascii, ascii))) & 0xFFu;
}

// CompUnicode form of ASCII bytes: the nibble halves exchanged in every byte.
inline __m128i compSwap16(__m128i v) {
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi16(v, 2), _mm_set1_epi8(0x0C)),
                                     _mm_and_si128(_mm_srli_epi16(v, 2), _mm_set1_epi8(0x03))),
                        _mm_and_si128(v, _mm_set1_epi8(0x70)));
}

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
#endif

}  // namespace detail

// Code page -> Unicode.
template <class Unit>
int fastCpToUnicode(const CpFastTables& f, const unsigned char* src, Unit* dst, int dstLen, int def,
                    int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const size_t room = dst != nullptr ? roomOf(dstLen) : 0;
    const Unit defUnit = static_cast<Unit>(defaultUnit(def));
    bool usedDefault = false;
    size_t i = 0, n = 0;
    // One character at i (not the terminator).
    auto step = [&]() KVO_ALWAYS_INLINE {
        uint16_t u;
        const unsigned b = src[i];
        if (!f.lead[b]) {
            u = f.single[b];
            ++i;
        } else {
            u = detail::fastReadLocal(f, src, &i);
        }
        if (u == kNoMapping) {
            u = defUnit;
            usedDefault = true;
        }
        if (n < room)
            dst[n] = static_cast<Unit>(u);
        ++n;
    };
#if defined(__SSE2__)
    if (f.asciiIdentity && !f.hasLeadBytes) {
        // Single bytes: aligned blocks of 16, widened, their non-ASCII bytes looked up; the block
        // that holds the terminator is left to the loop below.
        const __m128i zero = _mm_setzero_si128();
        while (!detail::aligned16(src + i) && src[i] != 0)
            step();
        while (src[i] != 0) {
            const bool write = n + 16 <= room;
            if (!write && n < room)
                break;
            const __m128i v = detail::loadAlignedBlock(src + i);
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) != 0)
                break;
            if (write) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n), _mm_unpacklo_epi8(v, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n + 8), _mm_unpackhi_epi8(v, zero));
            }
            for (unsigned m = detail::highBits(v); m != 0; m &= m - 1) {
                const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
                uint16_t u = f.single[src[i + k]];
                if (u == kNoMapping) {
                    u = defUnit;
                    usedDefault = true;
                }
                if (write)
                    dst[n + k] = static_cast<Unit>(u);
            }
            i += 16;
            n += 16;
        }
    } else if (f.asciiIdentity) {
        const size_t len = detail::blockTextLength(src);
        const __m128i zero = _mm_setzero_si128();
        while (i + 16 <= len) {
            const bool write = n + 16 <= room;
            if (!write && n < room) {
                step();
                continue;
            }
            const __m128i v = detail::loadBlock(src + i);
            const unsigned high = detail::highBits(v);
            const unsigned k = detail::asciiPrefix(high);
            if (k == 16) {
                if (write) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n), _mm_unpacklo_epi8(v, zero));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n + 8), _mm_unpackhi_epi8(v, zero));
                }
                i += 16;
                n += 16;
                continue;
            }
            // The 16 bytes left give at least 8 units: the low half stays inside the output, and its
            // units after the ASCII prefix are written again by the characters that follow.
            if (write)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n), _mm_unpacklo_epi8(v, zero));
            const unsigned advance = k < 8 ? k : 8;
            i += advance;
            n += advance;
            // Then one character and the rest of a non-ASCII run. With double-byte tables the character
            // is taken whatever it is, which spares a branch on whether the block was all ASCII.
            detail::takeNonAsciiRun(src, i, k < 16 || f.hasLeadBytes, step);
        }
    }
#endif
    return detail::finishText(src, i, step, dst, n, room, used, usedDefault);
}

// Unicode -> code page.
template <class Unit>
int fastUnicodeToCp(const CpFastTables& f, const Unit* src, unsigned char* dst, int dstLen, int def,
                    int* used) {
    static const Unit kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const size_t room = dst != nullptr ? roomOf(dstLen) : 0;
    const unsigned char defByte = defaultByte(def);
    bool usedDefault = false;
    size_t j = 0, pos = 0;
    auto step = [&]() KVO_ALWAYS_INLINE {
        unsigned code = fastUnicodeToCp(f, static_cast<uint16_t>(src[j++]));
        if (code == kNoMapping) {
            usedDefault = true;
            code = defByte;
        }
        detail::putCode(dst, pos, room, code);
    };
#if defined(__SSE2__)
    if (sizeof(Unit) == 2 && f.asciiIdentity && f.narrowCodes) {
        // Every code is one byte: aligned blocks of 8 units narrowed, their non-ASCII units looked up.
        // (A table without lead bytes may still give codes of two bytes, written as two bytes: it
        // takes the loop below.)
        const __m128i zero = _mm_setzero_si128();
        while (!detail::aligned16(src + j) && src[j] != 0)
            step();
        while (src[j] != 0) {
            const bool write = pos + 8 <= room;
            if (!write && pos < room)
                break;
            const __m128i v = detail::loadAlignedBlock(src + j);
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(v, zero)) != 0)
                break;
            if (write)
                _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + pos), _mm_packus_epi16(v, v));
            for (unsigned m = detail::nonAsciiUnits(v); m != 0; m &= m - 1) {
                const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
                uint16_t code = fastUnicodeToCp(f, static_cast<uint16_t>(src[j + k]));
                if (code >= 0x100) {
                    code = defByte;
                    usedDefault = true;
                }
                if (write)
                    dst[pos + k] = static_cast<unsigned char>(code);
            }
            j += 8;
            pos += 8;
        }
    } else if (sizeof(Unit) == 2 && f.asciiIdentity) {
        const size_t len = detail::blockTextLength(src);
        while (j + 8 <= len) {
            const bool write = pos + 8 <= room;
            if (!write && pos < room) {
                step();
                continue;
            }
            const __m128i v = detail::loadBlock(src + j);
            const unsigned wide = detail::nonAsciiUnits(v);
            const unsigned k = wide == 0 ? 8u : static_cast<unsigned>(__builtin_ctz(wide));
            if (write) {
                if (k == 8)
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + pos), _mm_packus_epi16(v, v));
                else if (k != 0)
                    detail::storePrefix(dst + pos, _mm_packus_epi16(v, v), k);
            }
            j += k;
            pos += k;
            // Then one character and the rest of a non-ASCII run. With double-byte tables the character
            // is taken whatever it is, which spares a branch on whether the block was all ASCII.
            detail::takeNonAsciiRun(src, j, k < 8 || f.hasLeadBytes, step);
        }
    }
#endif
    return detail::finishText(src, j, step, dst, pos, room, used, usedDefault);
}

// Code page -> CompUnicode.
inline int fastCpToCompUnicode(const CpFastTables& f, const unsigned char* src, unsigned char* dst,
                               int dstLen, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const size_t room = dst != nullptr ? roomOf(dstLen) : 0;
    const uint16_t defUnit = defaultUnit(def);
    bool usedDefault = false;
    size_t i = 0, pos = 0;
#if defined(__SSE2__)
    const size_t len = detail::blockTextLength(src);
#else
    const size_t len = std::strlen(reinterpret_cast<const char*>(src));
#endif
    auto step = [&]() KVO_ALWAYS_INLINE {
        const unsigned b = src[i];
        uint32_t packed = 0;
        unsigned width = 1;
        if (!f.lead[b]) {
            packed = f.compSingle[b];
        } else if (src[i + 1] != 0) {
            packed = f.compTrail[b][src[i + 1]];
            width = 2;
        }
        if (packed != 0) {
            const unsigned n = packed >> 24;
            if (pos + 8 <= room && i + 8 <= len) {
                // Four bytes stored at once: those after the character's own are written again by the
                // three or more characters that follow, which all lie inside the room.
                const uint32_t bytes = detail::littleEndian32(packed);
                std::memcpy(dst + pos, &bytes, 4);
            } else if (pos + n <= room) {
                dst[pos] = static_cast<unsigned char>(packed);
                if (n > 1)
                    dst[pos + 1] = static_cast<unsigned char>(packed >> 8);
                if (n > 2)
                    dst[pos + 2] = static_cast<unsigned char>(packed >> 16);
            }
            pos += n;
            i += width;
            return;
        }
        uint16_t u = detail::fastReadLocal(f, src, &i);
        if (u == kNoMapping) {
            u = defUnit;
            usedDefault = true;
        }
        unsigned char bytes[3];
        const int n = encodeCompUnicode(u, bytes);
        if (pos + n <= room)
            std::memcpy(dst + pos, bytes, n);
        pos += n;
    };
#if defined(__SSE2__)
    if (f.asciiIdentity && !f.hasLeadBytes) {
        // Single bytes, each giving one to three bytes. Blocks of 16 with at least 16 more bytes after
        // them and room for 72 bytes: the block is stored as ASCII, then each other byte's form is put
        // in its place and the block's bytes after it stored again further on. The bytes stored past
        // the block's output are written again by the characters that follow.
        const uint32_t defPacked = packedCompUnicode(defUnit);
        while (i + 32 <= len && pos + 72 <= room) {
            const unsigned char* block = src + i;
            const __m128i v = detail::loadBlock(block);
            unsigned high = detail::highBits(v);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + pos), detail::compSwap16(v));
            if (high == 0) {
                i += 16;
                pos += 16;
                continue;
            }
            unsigned at = 0;
            unsigned char* out = dst + pos;
            do {
                const unsigned k = static_cast<unsigned>(__builtin_ctz(high));
                high &= high - 1;
                out += k - at;
                uint32_t packed = f.compSingle[block[k]];
                if (packed == 0) {
                    usedDefault = true;
                    packed = defPacked;
                }
                const uint32_t bytes = detail::littleEndian32(packed);
                std::memcpy(out, &bytes, 4);
                out += packed >> 24;
                at = k + 1;
                if (((high >> at) & 1) == 0)  // ASCII bytes follow
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                                     detail::compSwap16(detail::loadBlock(block + at)));
            } while (high != 0);
            out += 16 - at;
            i += 16;
            pos = static_cast<size_t>(out - dst);
        }
    }
#endif
#if defined(__SSE2__)
    if (f.asciiIdentity) {
        const auto put = [&](__m128i v, unsigned k) KVO_ALWAYS_INLINE {
            if (pos + k > room)
                return pos >= room;  // only counting, or the buffer ends inside this run
            // A whole block where the next 16 output bytes are certain to be written again: single
            // bytes give at least one byte each, and no character starting in them ends past the room.
            if (k == 16 || (!f.hasLeadBytes && pos + 18 <= room))
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + pos), detail::compSwap16(v));
            else if (k != 0)
                detail::storePrefix(dst + pos, detail::compSwap16(v), k);
            return true;
        };
        detail::convertAsciiBlocks(src, i, pos, len, f.hasLeadBytes, put, step);
    }
#endif
    return detail::finishText(src, i, step, dst, pos, room, used, usedDefault);
}

// CompUnicode -> code page. A malformed unit is one default byte. Blocks start only where the
// previous unit ended, so a byte below 0x80 in a block's ASCII prefix is a whole unit.
inline int fastCompUnicodeToCp(const CpFastTables& f, const unsigned char* src, unsigned char* dst,
                               int dstLen, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const size_t room = dst != nullptr ? roomOf(dstLen) : 0;
    const unsigned char defByte = defaultByte(def);
    bool usedDefault = false;
    size_t i = 0, pos = 0;
#if defined(__SSE2__)
    const size_t len = detail::blockTextLength(src);
#else
    const size_t len = std::strlen(reinterpret_cast<const char*>(src));
#endif
    auto step = [&]() KVO_ALWAYS_INLINE {
        uint16_t u;
        bool bad;
        if (i + 3 <= len) {
            // Three bytes are there to read: decode without branches on the unit's length.
            const unsigned b0 = src[i], b1 = src[i + 1], b2 = src[i + 2];
            const unsigned m1 = 0u - (b0 >> 7);         // all ones when a second byte belongs to the unit
            const unsigned m2 = m1 & (0u - (b1 >> 7));  // ... and a third
            u = static_cast<uint16_t>(detail::kCompGroup[b0] | ((detail::kCompGroup[b1] << 7) & m1) |
                                      ((detail::kCompGroup[b2] << 14) & m2));
            i += 1 + (m1 & 1) + (m2 & 1);
            bad = u == 0;
        } else {
            i += decodeCompUnicode(src + i, &u, &bad);
        }
        uint16_t code = bad ? kNoMapping : fastUnicodeToCp(f, u);
        if (code == kNoMapping) {
            usedDefault = true;
            code = defByte;
        }
        detail::putCode(dst, pos, room, code);
    };
#if defined(__SSE2__)
    const uint16_t* pages = f.pages.get();
    const uint32_t* unitPage = f.compUnitPage.get();
    // The code of the unit of n bytes (2 or 3, with a third byte readable) at p, the default byte where
    // it has none. Units that decode to 0 find no mapping on page 0.
    auto unitCode = [&](const unsigned char* p, unsigned n) KVO_ALWAYS_INLINE {
        const unsigned b1 = p[1] & 0x7Fu, b2 = p[2] & 0x7Fu;
        const unsigned at = n > 2 ? (b1 | (b2 << 7)) : (0x4000u | b1);
        unsigned code = pages[unitPage[at] + detail::kCompGroup[p[0]]];
        if (code == kNoMapping) {
            usedDefault = true;
            code = defByte;
        }
        return code;
    };
    if (f.asciiIdentity) {
        // Every unit gives one byte or two. Blocks of 32 bytes with at least 32 more units after them
        // and room for 112 bytes: the block is stored as ASCII, then each longer unit's code is put in
        // its place and the block's bytes after the unit stored again one place further on. The bytes
        // stored past the block's output are written again by the units that follow.
        while (i + 128 <= len && pos + 112 <= room) {
            const unsigned char* block = src + i;
            const __m128i v0 = detail::loadBlock(block);
            const __m128i v1 = detail::loadBlock(block + 16);
            const uint64_t high = detail::highBits(v0) | (static_cast<uint64_t>(detail::highBits(v1)) << 16);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + pos), detail::compSwap16(v0));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + pos + 16), detail::compSwap16(v1));
            if (high == 0) {
                i += 32;
                pos += 32;
                continue;
            }
            if ((high & (high >> 1) & (high >> 2)) != 0)
                break;  // three bytes in a row with bit 7 set: a malformed unit, left to the loops below
            // Without three such bytes in a row, a unit that is not ASCII starts at each byte with bit 7
            // set whose previous byte has bit 7 clear, and ends at the next byte with bit 7 clear.
            uint64_t starts = high & ~(high << 1);
            unsigned at = 0;
            unsigned char* out = dst + pos;
            do {
                const unsigned start = static_cast<unsigned>(__builtin_ctzll(starts));
                const unsigned n = 2 + static_cast<unsigned>((high >> (start + 1)) & 1);
                if (start + n > 32)
                    break;  // reaches into the next block
                starts &= starts - 1;
                out += start - at;
                const unsigned code = unitCode(block + start, n);
                const unsigned wide = code >= 0x100 ? 1u : 0u;
                out[0] = static_cast<unsigned char>(wide ? code >> 8 : code);
                out[1] = static_cast<unsigned char>(code & 0xFF);
                out += 1 + wide;
                at = start + n;
                if (((high >> at) & 1) == 0) {  // ASCII bytes follow
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                                     detail::compSwap16(detail::loadBlock(block + at)));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                                     detail::compSwap16(detail::loadBlock(block + at + 16)));
                }
            } while (starts != 0);
            // The ASCII bytes up to the next unit that is not ASCII, or to the end of the block.
            const unsigned next = starts != 0 ? static_cast<unsigned>(__builtin_ctzll(starts)) : 32u;
            out += next - at;
            i += next;
            pos = static_cast<size_t>(out - dst);
        }
    }
#endif
#if defined(__SSE2__)
    if (f.asciiIdentity) {
        const auto put = [&](__m128i v, unsigned k) KVO_ALWAYS_INLINE {
            if (pos + k > room)
                return pos >= room;  // only counting, or the buffer ends inside this run
            // A whole block where at least 16 more units follow (one byte each where every code is one
            // byte, all inside the room): the bytes after the prefix are written again.
            if (k == 16 || (f.narrowCodes && pos + 16 <= room && i + 48 <= len))
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + pos), detail::compSwap16(v));
            else if (k != 0)
                detail::storePrefix(dst + pos, detail::compSwap16(v), k);
            return true;
        };
        detail::convertAsciiBlocks(src, i, pos, len, f.hasLeadBytes, put, step);
    }
#endif
    return detail::finishText(src, i, step, dst, pos, room, used, usedDefault);
}

// UTF-8 -> code page. With a null out it only counts; otherwise out must hold the count that a
// counting call returned. Malformed sequences and unmapped units become def. Returns the bytes of the
// output with the terminator.
inline size_t fastUtf8ToCp(const CpFastTables& f, const unsigned char* src, unsigned char* out, int def) {
    const unsigned char defByte = defaultByte(def);
    size_t i = 0, pos = 0;
    auto step = [&]() KVO_ALWAYS_INLINE {
        uint16_t u;
        bool bad;
        i += decodeUtf8(src + i, &u, &bad);
        uint16_t code = bad ? kNoMapping : fastUnicodeToCp(f, u);
        if (code == kNoMapping)
            code = defByte;
        if (code < 0x100) {
            if (out)
                out[pos] = static_cast<unsigned char>(code);
            pos += 1;
        } else {
            if (out) {
                out[pos] = static_cast<unsigned char>(code >> 8);
                out[pos + 1] = static_cast<unsigned char>(code & 0xFF);
            }
            pos += 2;
        }
    };
#if defined(__SSE2__)
    if (f.asciiIdentity) {
        const size_t len = detail::blockTextLength(src);
        const auto put = [&](__m128i v, unsigned k) KVO_ALWAYS_INLINE {
            if (out != nullptr) {
                // out holds exactly the output; 64 more bytes are at least 16 more sequences, so the
                // 16 bytes stored lie inside it and are written again after the prefix.
                if (k == 16 || i + 64 <= len)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + pos), v);
                else if (k != 0)
                    detail::storePrefix(out + pos, v, k);
            }
            return true;
        };
        detail::convertAsciiBlocks(src, i, pos, len, f.hasLeadBytes, put, step);
    }
#endif
    while (src[i] != 0)
        step();
    if (out)
        out[pos] = 0;
    return pos + 1;
}

}  // namespace kvo::textconv
