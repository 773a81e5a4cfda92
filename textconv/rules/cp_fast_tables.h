// Per-process flat expansions of a validated code-page image, and the whole-text conversions that
// run on them. The shared image stays the one source: these tables are derived from its records when
// a table is loaded (single bytes, one 256-entry page per lead byte and per Unicode high byte that
// has a record, the CompUnicode form of every single byte; for tables with codes of two bytes also
// the stored form of every unit's code, by unit and by the raw bits of its CompUnicode), so that the
// conversion loops do one array access per character instead of range tests. Results and buffer
// contract are exactly those of table_convert.h, which stays the reference the tests compare against.
//
// The texts end with a terminator and come without a length: the conversions read 16 bytes at a time
// where those lie in the text's page (a read past the terminator that stays in its page can't fault),
// so that a text is converted in one pass, and a short one in a block or two.
//
// For double-byte tables the conversions between the code page and Unicode start inline in the export
// that calls them, with a loop over the leading characters of two bytes (all of a short Japanese
// text): eight at a time, each looked up with one read (units by the raw two bytes in pairUnits, codes
// in their stored form) and put at a fixed place, since text and output move alike. Whatever else
// the text holds goes out of line, so that the export saves no registers for it.
//
// After the shared helpers and block loops, the conversions follow by direction (sections marked
// "----"), each with the helpers only it uses: code page -> Unicode, Unicode -> code page, code page ->
// CompUnicode, CompUnicode -> code page, UTF-8 -> code page.
//
// No Windows header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
// Block loops that shuffle bytes (SSSE3) live in functions of their own, compiled for SSSE3 whatever
// the rest is compiled for, and run only where the processor has it (cpuid, asked when a table is
// built); the SSE2 loops stay the fallback.
#include <cpuid.h>
#include <tmmintrin.h>
#define KVO_BYTE_SHUFFLES 1
#define KVO_SSSE3 __attribute__((target("ssse3")))
#endif
#endif

#include "codecs.h"
#include "cp_image.h"
#include "heap.h"
#include "table_convert.h"

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
    // From which byte (0x80 to 0x100: none) every single byte up to 0xFF maps to the unit of its own
    // value, and from which unit (likewise) every unit up to U+00FF maps to the byte of its value:
    // the upper half of Latin-1 in 1252 and 819. Widening and narrowing already give those; only the
    // others are looked up.
    uint16_t singleIdentityFrom = 0x100;
    uint16_t fromIdentityFrom = 0x100;
    // The block loops may shuffle bytes (SSSE3): set when the processor has it. A test clears it to
    // run the SSE2 loops on the same processor.
    bool byteShuffles = false;
    kvo::HeapArray<uint16_t> pages;
    kvo::HeapArray<uint32_t> compPages;
    // Tables with codes of two bytes only: the code of every unit (65,536 of them) in the form it is
    // stored in (storedCode), so that the conversions to the code page look a unit up with one read
    // and put its code with one store whatever its width; and the same by the raw index of the unit's
    // CompUnicode bytes (compRawIndex), so that CompUnicode needs no decoding first.
    kvo::HeapArray<uint16_t> storedCodes;
    kvo::HeapArray<uint16_t> compStoredCodes;
    // Tables with lead bytes only: the unit of every two bytes that are a lead byte and a trail byte
    // with a mapping, by the two bytes as a little-endian 16-bit index (pairIndex); 0 for any other two
    // bytes (no character maps to 0: the image validation sees to it).
    kvo::HeapArray<uint16_t> pairUnits;
    // Where the codes of a CompUnicode unit of two or three bytes lie in `pages`, by its bytes after the
    // first: the low 7 bits of the second and third byte for three bytes, 0x4000 + those of the second
    // for two. The first byte's 7-bit group is then the index from there.
    kvo::HeapArray<uint32_t> compUnitPage;
};

// Whether the processor has SSSE3 (every x86 processor since 2006 has).
inline bool processorHasSsse3() {
#if defined(KVO_BYTE_SHUFFLES)
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_SSSE3) != 0;
#else
    return false;
#endif
}

// No code, in the stored form: no unit but the terminator has the code 0 (the image validation sees
// to it).
constexpr uint16_t kNoStoredCode = 0;

// A code-page code (or kNoMapping) as 16 bits that, stored, give its bytes in their order: the lead byte
// first, and after a code of one byte a zero (which whatever follows writes again). kNoMapping becomes
// kNoStoredCode. Codes of two bytes have a trail byte other than 0 (the image validation sees to it), so
// the second byte tells the width, and a stored code is one of two bytes exactly where it is 0x100 or
// more (little-endian).
inline uint16_t storedCode(uint16_t code) {
    if (code == kNoMapping)
        return kNoStoredCode;
    const unsigned char bytes[2] = {static_cast<unsigned char>(code >= 0x100 ? code >> 8 : code),
                                    static_cast<unsigned char>(code >= 0x100 ? code & 0xFF : 0)};
    uint16_t stored;
    std::memcpy(&stored, bytes, 2);
    return stored;
}

// 1 where a stored code has two bytes, else 0 (without a branch or a flag: codes are 16-bit).
inline unsigned storedCodeIsWide(unsigned stored) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return ((stored & 0xFF) + 0xFF) >> 8;
#else
    return (stored + 0xFF00u) >> 16;
#endif
}

// The raw index of a CompUnicode unit of one to three bytes: the low 7 bits of its first byte; of its
// second above them, at bit 7 (units of two or three bytes); bits 2 and 3 of its third at bits 14 and 15
// (units of three). The unit's value has each 7-bit group's two 2-bit halves of its low nibble
// exchanged (bits 14 and 15 stay), so the one gives the other (a unit that decodes to 0: 0).
inline unsigned compRawIndexToUnit(unsigned r) {
    const unsigned t = (r ^ (r >> 2)) & 0x0183u;
    return r ^ t ^ (t << 2);
}

// CompUnicode bytes of u (low 24 bits) and their count (top 8 bits), for every unit.
inline uint32_t packCompUnicode(uint16_t u) {
    unsigned char bytes[3] = {0, 0, 0};
    const int n = encodeCompUnicode(u, bytes);
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(n) << 24);
}

// The same for a table entry: 0 for kNoMapping.
inline uint32_t packedCompUnicode(uint16_t u) {
    return u == kNoMapping ? 0 : packCompUnicode(u);
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
    bool wideCodes = false;
    for (unsigned h = 0; h < 256 && !wideCodes; ++h) {
        for (unsigned x = 0; x < 256 && h < t.fromUnicodeCount && t.fromUnicode[h] != nullptr; ++x) {
            const uint16_t code = cpRecordLookup(t.fromUnicode[h], x);
            wideCodes = wideCodes || (code >= 0x100 && code != kNoMapping);
        }
    }
    *f = CpFastTables{};
    f->pages = kvo::makeHeapArray<uint16_t>(256 * pageCount);
    f->compPages = kvo::makeHeapArray<uint32_t>(256 * leadCount);
    f->compUnitPage = kvo::makeHeapArray<uint32_t>(kCompUnitPages);
    if (wideCodes) {
        f->storedCodes = kvo::makeHeapArray<uint16_t>(0x10000);
        f->compStoredCodes = kvo::makeHeapArray<uint16_t>(0x10000);
    }
    if (leadCount != 0)
        f->pairUnits = kvo::makeHeapArray<uint16_t>(0x10000);
    if (!f->pages || !f->compPages || !f->compUnitPage ||
        (wideCodes && (!f->storedCodes || !f->compStoredCodes)) || (leadCount != 0 && !f->pairUnits)) {
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
    f->singleIdentityFrom = 0x100;
    while (f->singleIdentityFrom > 0x80 && f->single[f->singleIdentityFrom - 1] == f->singleIdentityFrom - 1)
        --f->singleIdentityFrom;
    f->fromIdentityFrom = 0x100;
    while (f->fromIdentityFrom > 0x80 && f->fromPage[0][f->fromIdentityFrom - 1] == f->fromIdentityFrom - 1)
        --f->fromIdentityFrom;
    if (f->pairUnits) {
        for (unsigned x = 0; x < 0x10000; ++x) {
            const uint16_t* const row = f->trail[x & 0xFF];
            const uint16_t u = row != nullptr && (x >> 8) != 0 ? row[x >> 8] : kNoMapping;
            f->pairUnits[x] = u != kNoMapping ? u : 0;
        }
    }
    if (f->storedCodes) {
        for (unsigned u = 0; u < 0x10000; ++u)
            f->storedCodes[u] = storedCode(f->fromPage[u >> 8][u & 0xFF]);
        for (unsigned r = 0; r < 0x10000; ++r)
            f->compStoredCodes[r] = f->storedCodes[compRawIndexToUnit(r)];
    }
    f->byteShuffles = processorHasSsse3();
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

// Bit k set when unit k of a block of 8 units is 0x80 or more.
inline unsigned nonAsciiUnits(__m128i v) {
    const __m128i high = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
    const __m128i ascii = _mm_cmpeq_epi16(high, _mm_setzero_si128());
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ascii, ascii))) & 0xFFu;
}

// The same for 16 units, v0 the first 8 and v1 the next.
inline unsigned nonAsciiUnits(__m128i v0, __m128i v1) {
    const __m128i mask = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i ascii0 = _mm_cmpeq_epi16(_mm_and_si128(v0, mask), _mm_setzero_si128());
    const __m128i ascii1 = _mm_cmpeq_epi16(_mm_and_si128(v1, mask), _mm_setzero_si128());
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ascii0, ascii1))) & 0xFFFFu;
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

// CompUnicode form of ASCII bytes: the nibble halves exchanged in every byte.
inline __m128i compSwap16(__m128i v) {
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi16(v, 2), _mm_set1_epi8(0x0C)),
                                     _mm_and_si128(_mm_srli_epi16(v, 2), _mm_set1_epi8(0x03))),
                        _mm_and_si128(v, _mm_set1_epi8(0x70)));
}

// The same keeping bit 7: the first byte of the CompUnicode form of a byte of 0x80 to 0xFF that maps to
// the unit of its own value (the second is 0x04), and the byte such a unit's first byte stands for. The
// two halves are exchanged by a delta swap: one constant, six operations.
inline __m128i compSwapKeepingBit7(__m128i v) {
    const __m128i t = _mm_and_si128(_mm_xor_si128(v, _mm_srli_epi16(v, 2)), _mm_set1_epi8(0x03));
    return _mm_xor_si128(v, _mm_xor_si128(t, _mm_slli_epi16(t, 2)));
}

// Where a block loop run out of line stopped: the text and output positions, whether at a block of
// another kind (for the caller's own way with such a block) or where too little text or room is left,
// and whether it put in a default.
struct BlocksDone {
    size_t i, pos;
    bool otherBlock;
    bool usedDefault;
};

// UTF-8 where every code is one byte, only counting: the sequences. decodeUtf8 takes after a lead byte
// the continuation bytes that follow it, up to one after 0xC0 to 0xDF, two after 0xE0 to 0xEF and three
// after 0xF0 and up (and only those). So where every continuation byte follows a lead byte, or a lead
// byte from 0xE0 and a continuation byte, each sequence is a byte that is no continuation byte and the
// continuation bytes after it: the sequences are the bytes less the continuation bytes, whatever the
// bytes decode to. Blocks of 32 bytes with at least 32 more after them are counted so, from i, which
// must be where a sequence starts (at least two bytes into the text: each block is read with the two
// bytes before it). Stops at a block where a continuation byte follows neither (otherBlock), or at the
// end, where the last sequence before it starts if that may take bytes from there on. The continuation
// bytes are counted per byte position, and those counts added up every 64 blocks.
KVO_NOINLINE inline BlocksDone countUtf8Sequences(const unsigned char* src, size_t len, size_t i,
                                                  size_t pos) {
    const __m128i continuationEnd = _mm_set1_epi8(static_cast<char>(0xC0));
    const __m128i leadThree = _mm_set1_epi8(static_cast<char>(0xE0));
    const __m128i zero = _mm_setzero_si128();
    // Per byte: at or above the byte of from (unsigned).
    const auto atLeast = [](__m128i v, __m128i from)
                             KVO_ALWAYS_INLINE { return _mm_cmpeq_epi8(_mm_max_epu8(v, from), v); };
    // Per byte of the block at p: a continuation byte that follows neither a lead byte nor a lead byte
    // from 0xE0 and a continuation byte; continuation: the block's continuation bytes.
    const auto stray = [&](const unsigned char* p, __m128i* continuation) KVO_ALWAYS_INLINE {
        const __m128i before = loadBlock(p - 1);
        *continuation = _mm_cmplt_epi8(loadBlock(p), continuationEnd);
        const __m128i taken = _mm_or_si128(
            atLeast(before, continuationEnd),
            _mm_and_si128(atLeast(loadBlock(p - 2), leadThree), _mm_cmplt_epi8(before, continuationEnd)));
        return _mm_andnot_si128(taken, *continuation);
    };
    const unsigned char* const first = src + i;
    const unsigned char* in = first;
    size_t count = pos;  // without the continuation bytes in counted
    __m128i counted = zero;
    unsigned blocks = 0;
    // The continuation bytes counted so far, taken off count.
    const auto addUp = [&]() KVO_ALWAYS_INLINE {
        const __m128i sums = _mm_sad_epu8(counted, zero);
        count -= static_cast<unsigned>(_mm_cvtsi128_si32(sums)) +
                 static_cast<unsigned>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        counted = zero;
        blocks = 0;
    };
    bool otherBlock = false;
    if (i + 64 <= len) {
        const unsigned char* const inLast = src + (len - 64);
        while (in <= inLast) {
            __m128i continuation0, continuation1;
            const __m128i stray0 = stray(in, &continuation0);
            const __m128i stray1 = stray(in + 16, &continuation1);
            if (highBits(_mm_or_si128(stray0, stray1)) != 0) {
                otherBlock = true;
                break;
            }
            counted = _mm_sub_epi8(_mm_sub_epi8(counted, continuation0), continuation1);
            count += 32;
            in += 32;
            if (++blocks == 64)
                addUp();
        }
    }
    addUp();
    // Back to where the last sequence before in starts if it may take bytes from in on (a lead byte at
    // most three bytes before in, followed only by fewer continuation bytes than it may take): its lead
    // byte, counted, is taken off again. Blocks were counted from first if in is not there.
    unsigned back = 0;
    if (in != first) {
        unsigned k = 1;
        while (k <= 3 && in[-static_cast<int>(k)] >= 0x80 && in[-static_cast<int>(k)] < 0xC0)
            ++k;
        if (k <= 3) {
            const unsigned lead = in[-static_cast<int>(k)];
            const unsigned takes = lead >= 0xF0 ? 3u : lead >= 0xE0 ? 2u : lead >= 0xC0 ? 1u : 0u;
            back = takes > k - 1 ? k : 0u;
        }
    }
    return {static_cast<size_t>(in - src) - back, count - (back != 0 ? 1u : 0u), otherBlock, false};
}

#if defined(KVO_BYTE_SHUFFLES)
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

// compSwapKeepingBit7 by a shuffle: the low nibble of each byte looked up.
KVO_SSSE3 inline __m128i swapKeepingBit7Shuffled(__m128i v) {
    const __m128i swapped = _mm_setr_epi8(0x00, 0x04, 0x08, 0x0C, 0x01, 0x05, 0x09, 0x0D, 0x02, 0x06, 0x0A,
                                          0x0E, 0x03, 0x07, 0x0B, 0x0F);
    const __m128i lowNibbles = _mm_set1_epi8(0x0F);
    return _mm_or_si128(_mm_andnot_si128(lowNibbles, v),
                        _mm_shuffle_epi8(swapped, _mm_and_si128(v, lowNibbles)));
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

#if defined(KVO_BYTE_SHUFFLES)
// The SSSE3 block loops, out of line (their callers keep their positions in registers). Each runs
// blocks of 32 bytes of the kind the text of a Western code page is made of, by shuffles, from i and
// pos, and stops at a block of another kind or where too little text or room is left (BlocksDone).
// Masks, counts and indices are 32-bit.

// Code page -> CompUnicode with single bytes, where every non-ASCII byte of the block stands for itself
// (from singleIdentityFrom): its form is that byte (bit 7 kept) and 0x04, put in by shuffles. Blocks
// with at least 32 bytes after them and room for 128 bytes: the bytes stored past the output are
// written again by the characters that follow, all inside the room.
KVO_SSSE3 KVO_NOINLINE inline BlocksDone cpToCompUnicodeShuffled(const CpFastTables& f,
                                                                 const unsigned char* src, size_t len,
                                                                 unsigned char* dst, size_t room, size_t i,
                                                                 size_t pos) {
    if (i + 64 > len || pos + 128 > room)
        return {i, pos, false, false};
    const __m128i limit = byteLimit(f.singleIdentityFrom);
    const __m128i fours = _mm_set1_epi8(0x04);
    const unsigned char* in = src + i;
    const unsigned char* const inLast = src + (len - 64);  // the last block start
    unsigned char* out = dst + pos;
    const unsigned char* const outLast = dst + (room - 128);
    bool otherBlock = false;
    while (in <= inLast && out <= outLast) {
        const __m128i v0 = loadBlock(in);
        const __m128i v1 = loadBlock(in + 16);
        if ((bytesBelow(v0, limit) | bytesBelow(v1, limit)) != 0) {
            otherBlock = true;
            break;
        }
        const unsigned high = highBits(v0) | (highBits(v1) << 16);
        const __m128i k0 = swapKeepingBit7Shuffled(v0);
        const __m128i k1 = swapKeepingBit7Shuffled(v1);
        out = storeExpanded(out, _mm_unpacklo_epi64(k0, fours), high & 0xFFu);
        out = storeExpanded(out, _mm_unpackhi_epi64(k0, fours), (high >> 8) & 0xFFu);
        out = storeExpanded(out, _mm_unpacklo_epi64(k1, fours), (high >> 16) & 0xFFu);
        out = storeExpanded(out, _mm_unpackhi_epi64(k1, fours), high >> 24);
        in += 32;
    }
    return {static_cast<size_t>(in - src), static_cast<size_t>(out - dst), otherBlock, false};
}

// The byte that the CompUnicode unit of two or three bytes at p maps to, where every code is one byte;
// *usedDefault set where it is def.
inline unsigned char narrowCodeOfUnit(const CpFastTables& f, const unsigned char* p, unsigned char def,
                                      bool* usedDefault) {
    const unsigned b1 = p[1];
    const unsigned page = (b1 >> 7) != 0 ? (b1 & 0x7Fu) | ((p[2] & 0x7Fu) << 7) : 0x4000u | b1;
    const unsigned code = f.pages.get()[f.compUnitPage.get()[page] + kCompGroup[p[0]]];
    if (code == kNoMapping) {  // also units that decode to 0
        *usedDefault = true;
        return def;
    }
    return static_cast<unsigned char>(code);
}

// CompUnicode -> code page. Where a block of 32 bytes holds ASCII and units of two bytes, 0x04 the
// second, that stand for U+0080 to U+00FF from fromIdentityFrom (each maps to its first byte with bit
// 7 kept), its output is the block without its 0x04 bytes, by shuffles; a unit starting at byte 31
// ends the block there. Where every code is one byte, a block with other units among them (no three
// bytes in a row with bit 7 set) goes the same way without each unit's bytes after its first, and the
// byte of each other unit (def where none) is then put in its place. Blocks that start where a unit
// starts, with at least 96 bytes after them and room for 112: the bytes stored past the output are
// written again by the units that follow, all inside the room.
KVO_SSSE3 KVO_NOINLINE inline BlocksDone compUnicodeToCpShuffled(const CpFastTables& f,
                                                                 const unsigned char* src, size_t len,
                                                                 unsigned char* dst, size_t room, size_t i,
                                                                 size_t pos, unsigned char def) {
    if (i + 128 > len || pos + 112 > room)
        return {i, pos, false, false};
    // Exchanging the nibble halves keeps the high nibble: the bytes below the limit rounded up to a
    // multiple of 16 are found before it (those between the two are taken as other units).
    const __m128i limit = byteLimit((f.fromIdentityFrom + 15u) & ~15u);
    const __m128i four = _mm_set1_epi8(0x04);
    const unsigned char* in = src + i;
    unsigned char* out = dst + pos;
    // A unit gives at most as many bytes as it has, so out stays inside the room while in stays here.
    const unsigned char* const inLast = src + std::min(len - 128, i + (room - 112 - pos));
    bool otherBlock = false, usedDefault = false;
    while (in <= inLast) {
        const __m128i v0 = loadBlock(in);
        const __m128i v1 = loadBlock(in + 16);
        const unsigned high = highBits(v0) | (highBits(v1) << 16);
        const unsigned fours =
            highBits(_mm_cmpeq_epi8(v0, four)) | (highBits(_mm_cmpeq_epi8(v1, four)) << 16);
        const unsigned below = bytesBelow(v0, limit) | (bytesBelow(v1, limit) << 16);
        const unsigned fourAt = high << 1;  // where each unit's 0x04 must be
        if (((fourAt & ~fours) | below) == 0) {
            const unsigned cut = high >> 31;
            const unsigned drop = fourAt | (cut << 31);
            out = storeCompressed(out, swapKeepingBit7Shuffled(v0), drop & 0xFFFFu);
            out = storeCompressed(out, swapKeepingBit7Shuffled(v1), drop >> 16);
            in += 32 - cut;
            continue;
        }
        if (!f.narrowCodes || (high & (high >> 1) & (high >> 2)) != 0) {
            otherBlock = true;
            break;
        }
        // Units of one to three bytes: a unit starts at each byte with bit 7 set after one without, and
        // the bytes after a byte with bit 7 set are the rest of a unit. The last unit may reach into the
        // next block (one starting at byte 31, or at byte 30 with three bytes): the block then ends where
        // it starts.
        const unsigned cut = (high >> 31) + ((high >> 31) & (high >> 30));
        const unsigned kept = 0xFFFFFFFFu >> cut;
        const unsigned drop = (fourAt & kept) | ~kept;
        unsigned others = high & ~fourAt & kept & (~(fours >> 1) | below);
        unsigned char* const at = out;
        out = storeCompressed(out, swapKeepingBit7Shuffled(v0), drop & 0xFFFFu);
        out = storeCompressed(out, swapKeepingBit7Shuffled(v1), drop >> 16);
        for (; others != 0; others &= others - 1) {
            const unsigned start = static_cast<unsigned>(__builtin_ctz(others));
            at[start - bitCount(drop & ((1u << start) - 1))] =
                narrowCodeOfUnit(f, in + start, def, &usedDefault);
        }
        in += 32 - cut;
    }
    return {static_cast<size_t>(in - src), static_cast<size_t>(out - dst), otherBlock, usedDefault};
}

// UTF-8 -> code page. Where a block of 32 bytes holds ASCII and sequences of two bytes led by 0xC2 or
// 0xC3 whose units (the continuation byte, plus 0x40 after 0xC3) map to their own byte (from
// fromIdentityFrom), its output is the block without its lead bytes, by shuffles; a lead byte at byte
// 31 ends the block there. out holds exactly the output; blocks that start where a sequence starts,
// with at least 96 bytes after them: the 8 bytes at most stored past the output are written again by
// the sequences that follow.
KVO_SSSE3 KVO_NOINLINE inline BlocksDone utf8ToCpShuffled(const CpFastTables& f, const unsigned char* src,
                                                          size_t len, unsigned char* dst, size_t i,
                                                          size_t pos) {
    if (i + 128 > len)
        return {i, pos, false, false};
    const __m128i limit = byteLimit(f.fromIdentityFrom);
    const __m128i leadC2 = _mm_set1_epi8(static_cast<char>(0xC2));
    const __m128i leadC3 = _mm_set1_epi8(static_cast<char>(0xC3));
    const __m128i continuationEnd = _mm_set1_epi8(static_cast<char>(0xC0));
    const __m128i plus40 = _mm_set1_epi8(0x40);
    const unsigned char* in = src + i;
    const unsigned char* const inLast = src + (len - 128);
    unsigned char* out = dst + pos;
    bool otherBlock = false;
    while (in <= inLast) {
        const __m128i v0 = loadBlock(in);
        const __m128i v1 = loadBlock(in + 16);
        const unsigned high = highBits(v0) | (highBits(v1) << 16);
        const unsigned leads =
            highBits(_mm_or_si128(_mm_cmpeq_epi8(v0, leadC2), _mm_cmpeq_epi8(v0, leadC3))) |
            (highBits(_mm_or_si128(_mm_cmpeq_epi8(v1, leadC2), _mm_cmpeq_epi8(v1, leadC3))) << 16);
        const unsigned continuations = highBits(_mm_cmplt_epi8(v0, continuationEnd)) |
                                       (highBits(_mm_cmplt_epi8(v1, continuationEnd)) << 16);
        const __m128i units0 =
            _mm_add_epi8(v0, _mm_and_si128(_mm_cmpeq_epi8(_mm_slli_si128(v0, 1), leadC3), plus40));
        const __m128i units1 =
            _mm_add_epi8(v1, _mm_and_si128(_mm_cmpeq_epi8(loadBlock(in + 15), leadC3), plus40));
        const unsigned below = bytesBelow(units0, limit) | (bytesBelow(units1, limit) << 16);
        if (high != (leads | continuations) || continuations != leads << 1 || (continuations & below) != 0) {
            otherBlock = true;
            break;
        }
        out = storeCompressed(out, units0, leads & 0xFFFFu);
        out = storeCompressed(out, units1, leads >> 16);
        in += 32 - (leads >> 31);
    }
    return {static_cast<size_t>(in - src), static_cast<size_t>(out - dst), otherBlock, false};
}
#endif

// Code page -> CompUnicode with single bytes, ASCII standing for itself: the block loops, from the start
// of the text (len bytes) to where too little text or room is left.
KVO_NOINLINE inline BlocksDone cpToCompUnicodeBlocks(const CpFastTables& f, const unsigned char* src,
                                                     size_t len, unsigned char* dst, size_t room,
                                                     uint16_t defUnit) {
    size_t i = 0, pos = 0;
    bool usedDefault = false;
    // Single bytes, each giving one to three bytes. Blocks of 31 bytes with at least 33 more after
    // them and room for 128 bytes: the block is stored in its ASCII form (bit 7 kept), then after
    // each non-ASCII byte what its form adds is put in and the block's bytes after it stored again
    // further on. The bytes stored past the block's output are written again by the characters
    // that follow.
    //
    // A byte from singleIdentityFrom maps to the unit of its own value, whose form is that byte
    // (bit 7 kept) and 0x04: where a block holds only such bytes, 0x04 is put in after each of
    // them, the first two without a branch on whether they are there (bit 31, which is never one
    // of the block's bytes, stands for "no more"), so that text with accented letters spread
    // evenly meets no branch on how many a block holds. Other blocks look every non-ASCII byte up.
    const uint32_t defPacked = packCompUnicode(defUnit);  // U+FFFF too: a default, not "no mapping"
    const __m128i limit = byteLimit(f.singleIdentityFrom);
    // The bytes of the block from at in their ASCII form (bit 7 kept), in place at out (32 of them:
    // up to the block's end).
    const auto restore = [](const unsigned char* block, unsigned char* out, unsigned at) KVO_ALWAYS_INLINE {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), compSwapKeepingBit7(loadBlock(block + at)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                         compSwapKeepingBit7(loadBlock(block + at + 16)));
    };
    // A block of 31 bytes whose non-ASCII bytes are looked up, its output at out: returns where the
    // output ends.
    const auto byLookup = [&](const unsigned char* block, unsigned char* out) KVO_ALWAYS_INLINE {
        restore(block, out, 0);
        unsigned high = (highBits(loadBlock(block)) | (highBits(loadBlock(block + 16)) << 16)) & 0x7FFFFFFFu;
        unsigned at = 0;  // the block's bytes from here are in place at out
        for (; high != 0; high &= high - 1) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(high));
            out += k - at;
            uint32_t packed = f.compSingle[block[k]];
            if (packed == 0) {
                usedDefault = true;
                packed = defPacked;
            }
            const uint32_t bytes = littleEndian32(packed);
            std::memcpy(out, &bytes, 4);
            out += packed >> 24;
            at = k + 1;
            restore(block, out, at);
        }
        return out + (31 - at);
    };
#if defined(KVO_BYTE_SHUFFLES)
    // With SSSE3 the blocks of bytes that stand for themselves go by shuffles, the others by
    // byLookup (the loop below then finds nothing left to do).
    for (bool more = f.byteShuffles; more;) {
        const BlocksDone done = cpToCompUnicodeShuffled(f, src, len, dst, room, i, pos);
        i = done.i;
        pos = done.pos;
        more = done.otherBlock;
        if (more) {
            pos = static_cast<size_t>(byLookup(src + i, dst + pos) - dst);
            i += 31;
        }
    }
#endif
    while (i + 64 <= len && pos + 128 <= room) {
        const unsigned char* block = src + i;
        const __m128i v0 = loadBlock(block);
        const __m128i v1 = loadBlock(block + 16);
        unsigned char* out = dst + pos;
        const unsigned others = bytesBelow(v0, limit) | (bytesBelow(v1, limit) << 16);
        if ((others & 0x7FFFFFFFu) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), compSwapKeepingBit7(v0));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), compSwapKeepingBit7(v1));
            unsigned high = (highBits(v0) | (highBits(v1) << 16)) & 0x7FFFFFFFu;
            unsigned at = 0;  // the block's bytes from here are in place at out
            // 0x04 after the non-ASCII byte at k, or, at k = 31, nothing (its stores land past the
            // block's output).
            const auto insert = [&](unsigned k) KVO_ALWAYS_INLINE {
                const unsigned present = k != 31 ? 1u : 0u;
                out += k - at + present;
                *out = 0x04;
                out += present;
                at = k + present;
                restore(block, out, at);
            };
            insert(static_cast<unsigned>(__builtin_ctz(high | 0x80000000u)));
            high &= high - 1;
            insert(static_cast<unsigned>(__builtin_ctz(high | 0x80000000u)));
            high &= high - 1;
            for (; high != 0; high &= high - 1)
                insert(static_cast<unsigned>(__builtin_ctz(high)));
            out += 31 - at;
        } else {
            out = byLookup(block, out);
        }
        i += 31;
        pos = static_cast<size_t>(out - dst);
    }
    return {i, pos, false, usedDefault};
}

// CompUnicode -> code page, ASCII standing for itself: the block loops, from the start of the text (len
// bytes) to where too little text or room is left or a malformed unit is met.
KVO_NOINLINE inline BlocksDone compUnicodeToCpBlocks(const CpFastTables& f, const unsigned char* src,
                                                     size_t len, unsigned char* dst, size_t room,
                                                     unsigned char defByte) {
    size_t i = 0, pos = 0;
    bool usedDefault = false;
    const uint16_t* pages = f.pages.get();
    const uint32_t* unitPage = f.compUnitPage.get();
    // Every unit gives one byte or two. Blocks of 32 bytes with at least 32 more units after them
    // and room for 112 bytes: the block is stored as ASCII, then each longer unit's code is put in
    // its place and the block's bytes after the unit stored again one place further on. The bytes
    // stored past the block's output are written again by the units that follow. Masks, counts and
    // indices are 32-bit (the 32-bit build runs these loops too).
    //
    // A unit of two bytes whose second is 0x04 stands for U+0080 to U+00FF, the unit of its first
    // byte with bit 7 kept; from fromIdentityFrom such a unit maps to that byte. Where a block
    // holds no other non-ASCII units, its output is that form of its bytes without each unit's
    // 0x04 (storeWithout: up to two per half block without a branch on how many), so that text with
    // accented letters spread evenly meets few branches it cannot predict.
    const __m128i limit = byteLimit(f.fromIdentityFrom);
    const __m128i four = _mm_set1_epi8(0x04);
    // A block of 32 bytes (k0, k1: its bytes with the nibble halves exchanged, bit 7 kept; high: its
    // bytes with bit 7 set) unit by unit, its output at out: returns the bytes it took (0: three
    // bytes in a row with bit 7 set, a malformed unit, left to the loops below), out moved past
    // its output.
    const auto byUnits = [&](const unsigned char* block, unsigned high, __m128i k0, __m128i k1,
                             unsigned char*& out) KVO_ALWAYS_INLINE -> unsigned {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), k0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), k1);
        if ((high & (high >> 1) & (high >> 2)) != 0)
            return 0;
        // Without three such bytes in a row, a unit that is not ASCII starts at each byte with bit 7
        // set whose previous byte has bit 7 clear, and ends at the next byte with bit 7 clear. The
        // last one may reach into the next block (one starting at byte 31, or at byte 30 with three
        // bytes): the block then ends where it starts.
        unsigned starts = high & ~(high << 1);
        const unsigned fits = ~(0x80000000u | ((high >> 31) << 30));
        const unsigned cut = starts & ~fits;
        const unsigned end = cut != 0 ? static_cast<unsigned>(__builtin_ctz(cut)) : 32u;
        starts &= fits;
        unsigned at = 0;  // the block's bytes from here are in place at out
        // Unit by unit (text with many of them, such as Japanese): its code in place, then, where
        // ASCII bytes follow, the block's bytes after it one place further on.
        for (; starts != 0; starts &= starts - 1) {
            const unsigned start = static_cast<unsigned>(__builtin_ctz(starts));
            out += start - at;
            const unsigned b1 = block[start + 1];
            const unsigned three = b1 >> 7;
            const unsigned page = three ? (b1 & 0x7Fu) | ((block[start + 2] & 0x7Fu) << 7) : 0x4000u | b1;
            unsigned code = pages[unitPage[page] + kCompGroup[block[start]]];
            if (code == kNoMapping) {  // also units that decode to 0
                usedDefault = true;
                code = defByte;
            }
            const unsigned wide = code >> 8 != 0 ? 1u : 0u;
            out[0] = static_cast<unsigned char>(wide ? code >> 8 : code);
            out[1] = static_cast<unsigned char>(code);
            out += 1 + wide;
            at = start + 2 + three;
            if (block[at] < 0x80) {  // ASCII bytes follow
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), compSwap16(loadBlock(block + at)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                                 compSwap16(loadBlock(block + at + 16)));
            }
        }
        out += end - at;
        return end;
    };
#if defined(KVO_BYTE_SHUFFLES)
    // With SSSE3 the blocks of units of one byte go by shuffles, the others by byUnits (the loop
    // below then has nothing left to do, or stops at the same malformed unit).
    for (bool more = f.byteShuffles && f.fromIdentityFrom < 0x100; more;) {
        const BlocksDone done = compUnicodeToCpShuffled(f, src, len, dst, room, i, pos, defByte);
        i = done.i;
        pos = done.pos;
        usedDefault |= done.usedDefault;
        more = done.otherBlock;
        if (more) {
            const unsigned char* block = src + i;
            const __m128i v0 = loadBlock(block);
            const __m128i v1 = loadBlock(block + 16);
            unsigned char* out = dst + pos;
            const unsigned taken = byUnits(block, highBits(v0) | (highBits(v1) << 16),
                                           compSwapKeepingBit7(v0), compSwapKeepingBit7(v1), out);
            more = taken != 0;
            i += taken;
            pos = static_cast<size_t>(out - dst);
        }
    }
#endif
    while (i + 128 <= len && pos + 112 <= room) {
        const unsigned char* block = src + i;
        const __m128i v0 = loadBlock(block);
        const __m128i v1 = loadBlock(block + 16);
        const unsigned high = highBits(v0) | (highBits(v1) << 16);
        const __m128i k0 = compSwapKeepingBit7(v0);
        const __m128i k1 = compSwapKeepingBit7(v1);
        const unsigned fours =
            highBits(_mm_cmpeq_epi8(v0, four)) | (highBits(_mm_cmpeq_epi8(v1, four)) << 16);
        const unsigned below = bytesBelow(k0, limit) | (bytesBelow(k1, limit) << 16);
        unsigned char* out = dst + pos;
        if ((((high << 1) & (high | ~fours)) | (high & below)) == 0) {
            // Only units of two bytes, 0x04 the second, from fromIdentityFrom: each half of the
            // block without its 0x04 bytes (byte 0 of the second half is one where a unit starts at
            // byte 15). A unit starting at byte 31 ends the block there: its byte is written again
            // by the next block.
            const unsigned fourAt = high << 1;
            const unsigned cut = high >> 31;
            out += storeWithout(out, k0, fourAt & 0xFFFFu);
            out += storeWithout(out, k1, fourAt >> 16) - cut;
            i += 32 - cut;
            pos = static_cast<size_t>(out - dst);
            continue;
        }
        const unsigned taken = byUnits(block, high, k0, k1, out);
        if (taken == 0)
            break;
        i += taken;
        pos = static_cast<size_t>(out - dst);
    }
    return {i, pos, false, usedDefault};
}

#endif

}  // namespace detail

// ---- Code page -> Unicode

namespace detail {

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

// Whether all 16 bytes of a block are ASCII other than 0.
inline bool asciiWithoutZero(__m128i v) {
    return _mm_movemask_epi8(_mm_cmpgt_epi8(v, _mm_setzero_si128())) == 0xFFFF;
}

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
#endif

}  // namespace detail

// Code page -> Unicode. Inline: the way for double-byte text starts in the caller's frame (its leading
// characters, and a short text's terminator).
template <class Unit>
KVO_ALWAYS_INLINE inline int fastCpToUnicode(const CpFastTables& f, const unsigned char* src, Unit* dst,
                                             int dstLen, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const size_t room = dst != nullptr ? roomOf(dstLen) : 0;
    // (The default unit is worked out only on the ways that need it: the leading characters keep the
    // register.)
    const auto defUnit = [def]() KVO_ALWAYS_INLINE { return static_cast<Unit>(defaultUnit(def)); };
#if defined(__SSE2__)
    if constexpr (sizeof(Unit) == 2) {
        if (f.hasLeadBytes) {
            if (room == 0)
                return detail::doubleBytesCounted(f, src, used);
            const size_t done = detail::leadingPairUnits(f.pairUnits.get(), src, dst, room);
            if (src[done] == 0 && done / 2 < room) {
                dst[done / 2] = 0;
                setUsed(used, false);
                return static_cast<int>(done / 2 + 1);
            }
            if (done + 16 > 2 * room)  // the room ended the leading characters, most likely
                return detail::lastPairUnits(f, src, dst, room, defUnit(), used, done);
            return detail::doubleBytesToUnicodeFrom(f, src, dst, room, defUnit(), used, done);
        }
        if (f.asciiIdentity) {
            if (const int size = detail::shortSingleBytesToUnicode(f, src, dst, room, used))
                return size;
            return detail::singleBytesToUnicode(f, src, dst, room, defUnit(), used);
        }
    }
#endif
    return detail::cpToUnicodeSteps(f, src, 0, dst, 0, room, defUnit(), false, used);
}

// ---- Unicode -> code page

namespace detail {

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

// Unicode -> code page. Inline: the way for codes of two bytes starts in the caller's frame (its
// leading units, and a short text's terminator).
template <class Unit>
KVO_ALWAYS_INLINE inline int fastUnicodeToCp(const CpFastTables& f, const Unit* src, unsigned char* dst,
                                             int dstLen, int def, int* used) {
    static const Unit kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const size_t room = dst != nullptr ? roomOf(dstLen) : 0;
    // (The default byte is worked out only on the ways that need it: the leading codes keep the
    // register.)
#if defined(__SSE2__)
    if constexpr (sizeof(Unit) == 2) {
        if (f.storedCodes) {
            const size_t done = detail::leadingPairCodes(f.storedCodes.get(), src, dst, room);
            if (src[done / 2] == 0 && done < room) {
                dst[done] = 0;
                setUsed(used, false);
                return static_cast<int>(done + 1);
            }
            if (done + 16 > room)  // the room ended the leading units, most likely (or there is none)
                return detail::lastPairCodes(f, src, dst, room, def, used, done / 2);
            return detail::storedCodesToCpFrom(f, src, dst, room, def, used, done / 2);
        }
        // (A table without codes of two bytes may still lack ASCII standing for itself: EBCDIC.)
        if (f.asciiIdentity && (reinterpret_cast<uintptr_t>(src) & 1) == 0) {
            if (const int size = detail::shortNarrowUnitsToCp(f, src, dst, room, used))
                return size;
            return detail::narrowUnitsToCp(f, src, dst, room, defaultByte(def), used);
        }
    }
#endif
    return detail::unicodeToCpSteps(f, src, 0, dst, 0, room, defaultByte(def), false, used);
}

// ---- Code page -> CompUnicode

namespace detail {

// Puts the CompUnicode bytes of a packed entry (packCompUnicode) at out, exactly, and returns their
// count.
KVO_ALWAYS_INLINE inline unsigned putPackedExactly(unsigned char* out, uint32_t packed) {
    const unsigned n = packed >> 24;
    out[0] = static_cast<unsigned char>(packed);
    if (n > 1)
        out[1] = static_cast<unsigned char>(packed >> 8);
    if (n > 2)
        out[2] = static_cast<unsigned char>(packed >> 16);
    return n;
}

// The rest of a text from src + i character by character, its CompUnicode from dst + pos on: each
// unit written where it fits whole, the terminator where it fits. Sets the flag; returns the size of
// the whole output.
KVO_NOINLINE inline int cpToCompUnicodeSteps(const CpFastTables& f, const unsigned char* src, size_t i,
                                             unsigned char* dst, size_t pos, size_t room, uint16_t defUnit,
                                             bool usedDefault, int* used) {
    while (src[i] != 0) {
        uint16_t u = fastReadLocal(f, src, &i);
        if (u == kNoMapping) {
            u = defUnit;
            usedDefault = true;
        }
        unsigned char bytes[3];
        const int n = encodeCompUnicode(u, bytes);
        if (pos + n <= room)
            std::memcpy(dst + pos, bytes, n);
        pos += n;
    }
    if (pos < room)
        dst[pos] = 0;
    setUsed(used, usedDefault);
    return static_cast<int>(pos + 1);
}

#if defined(__SSE2__)
// Double-byte text: character by character in a lean loop over blocks of 16 bytes read where they lie
// in the text's page, each character's CompUnicode (packed) put with one store of four bytes where at
// least three more characters follow before the terminator (they write the extra bytes again), the
// last few exactly; a block of ASCII converted at once. The room for a block is tested once. Near a
// page end character by character up to the next page; near the end of the room, with every test.
inline int doubleBytesToCompUnicode(const CpFastTables& f, const unsigned char* src, unsigned char* dst,
                                    size_t room, uint16_t defUnit, int* used) {
    const uint32_t* const* const rows = f.compTrail;  // null for a byte that is no lead byte
    const uint32_t* const single = f.compSingle;
    const uint32_t defPacked = packCompUnicode(defUnit);  // U+FFFF too: a default, not "no mapping"
    bool usedDefault = false;
    const unsigned char* p = src;
    size_t pos = 0;
    // The packed CompUnicode of the character at p (not the terminator), p moved past it. A lead byte
    // before the terminator is one unmapped byte.
    const auto next = [&]() KVO_ALWAYS_INLINE {
        const unsigned b = *p;
        const uint32_t* const row = rows[b];
        uint32_t packed;
        if (row != nullptr) {
            packed = row[p[1]];
            p += 2;
        } else {
            packed = single[b];
            p += 1;
        }
        if (packed == 0) {
            if (row != nullptr && p[-1] == 0)
                --p;
            packed = defPacked;
            usedDefault = true;
        }
        return packed;
    };
    while (room == 0 || pos + 52 <= room) {
        if (!inPage(p, 16)) {
            // The last bytes before the page ends: character by character into the next page.
            const unsigned char* const pageEnd = p + (16 - (reinterpret_cast<uintptr_t>(p) & 15));
            while (p < pageEnd && *p != 0) {
                const uint32_t packed = next();
                pos += room != 0 ? putPackedExactly(dst + pos, packed) : packed >> 24;
            }
            if (*p == 0)
                break;
            continue;
        }
        const __m128i v = loadBlockInPage(p);
        const unsigned zeros = zeroBytes(v);
        if (zeros == 0 && f.asciiIdentity && asciiWithoutZero(v)) {
            if (room != 0)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + pos), compSwap16(v));
            p += 16;
            pos += 16;
            continue;
        }
        // Characters that start at least 7 bytes before the terminator or the block's end have three
        // more after them.
        const unsigned t = zeros != 0 ? static_cast<unsigned>(__builtin_ctz(zeros)) : 16u;
        const unsigned char* const wide = t >= 7 ? p + (t - 6) : p;
        if (room != 0) {
            while (p < wide) {
                const uint32_t bytes = littleEndian32(next());
                std::memcpy(dst + pos, &bytes, 4);
                pos += bytes >> 24;
            }
        } else {
            while (p < wide)
                pos += next() >> 24;
        }
        if (zeros == 0)
            continue;
        // The last characters, up to the terminator.
        while (*p != 0) {
            const uint32_t packed = next();
            pos += room != 0 ? putPackedExactly(dst + pos, packed) : packed >> 24;
        }
        if (room != 0)
            dst[pos] = 0;
        setUsed(used, usedDefault);
        return static_cast<int>(pos + 1);
    }
    return cpToCompUnicodeSteps(f, src, static_cast<size_t>(p - src), dst, pos, room, defUnit, usedDefault,
                                used);
}
#endif

}  // namespace detail

// Code page -> CompUnicode.
inline int fastCpToCompUnicode(const CpFastTables& f, const unsigned char* src, unsigned char* dst,
                               int dstLen, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const size_t room = dst != nullptr ? roomOf(dstLen) : 0;
    const uint16_t defUnit = defaultUnit(def);
#if defined(__SSE2__)
    if (f.hasLeadBytes)
        return detail::doubleBytesToCompUnicode(f, src, dst, room, defUnit, used);
#endif
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
        const detail::BlocksDone done = detail::cpToCompUnicodeBlocks(f, src, len, dst, room, defUnit);
        i = done.i;
        pos = done.pos;
        usedDefault = done.usedDefault;
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

// ---- CompUnicode -> code page

namespace detail {

// The rest of a CompUnicode text from src + i unit by unit (a malformed unit is one default byte), its
// codes from dst + pos on: each written where it fits whole, the terminator where it fits. Sets the
// flag; returns the size of the whole output.
KVO_NOINLINE inline int compUnicodeToCpSteps(const CpFastTables& f, const unsigned char* src, size_t i,
                                             unsigned char* dst, size_t pos, size_t room,
                                             unsigned char defByte, bool usedDefault, int* used) {
    while (src[i] != 0) {
        uint16_t u;
        bool bad;
        i += decodeCompUnicode(src + i, &u, &bad);
        unsigned code = bad ? kNoMapping : fastUnicodeToCp(f, u);
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
// The index of a unit starting at each of the 16 bytes at q (which lie in their page, with two more):
// the first byte's 7 bits, where that has bit 7 set the second byte's 7 bits above them, and where both
// have it bits 2 and 3 of the third (compRawIndexToUnit). low: those of the first 8 bytes, high: the
// next 8.
KVO_ALWAYS_INLINE inline void compRawIndexes(const unsigned char* q, __m128i* low, __m128i* high) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i v0 = loadBlockInPage(q);
    const __m128i v1 = loadBlockInPage(q + 1);
    const __m128i v2 = loadBlockInPage(q + 2);
    const __m128i two = _mm_cmplt_epi8(v0, zero);
    const __m128i three = _mm_and_si128(two, _mm_cmplt_epi8(v1, zero));
    const __m128i lowBytes = _mm_or_si128(
        _mm_and_si128(v0, _mm_set1_epi8(0x7F)),
        _mm_and_si128(_mm_and_si128(_mm_slli_epi16(v1, 7), _mm_set1_epi8(static_cast<char>(0x80))), two));
    const __m128i highBytes = _mm_or_si128(
        _mm_and_si128(_mm_and_si128(_mm_srli_epi16(v1, 1), _mm_set1_epi8(0x3F)), two),
        _mm_and_si128(_mm_and_si128(_mm_slli_epi16(v2, 4), _mm_set1_epi8(static_cast<char>(0xC0))), three));
    *low = _mm_unpacklo_epi8(lowBytes, highBytes);
    *high = _mm_unpackhi_epi8(lowBytes, highBytes);
}

// Where the units of a block of 32 CompUnicode bytes at q start and how many bytes the units that end
// in it take (0: the block is not of that kind: it holds the terminator, a byte of three or more in a
// row with bit 7 set (a malformed unit) or no unit's end).
struct CompUnitsOfBlock {
    unsigned starts, taken;
};
KVO_ALWAYS_INLINE inline CompUnitsOfBlock compUnitsOfBlock(__m128i v0, __m128i v1) {
    const unsigned zeros = zeroBytes(v0) | (zeroBytes(v1) << 16);
    const unsigned high = highBits(v0) | (highBits(v1) << 16);
    const unsigned ends = ~high;
    if (zeros != 0 || (high & (high >> 1) & (high >> 2)) != 0 || ends == 0)
        return {0, 0};
    const unsigned taken = 32 - static_cast<unsigned>(__builtin_clz(ends));  // up to the last end
    // A unit starts at the block's first byte and after each byte without bit 7.
    return {((~high << 1) | 1u) & (0xFFFFFFFFu >> (32 - taken)), taken};
}

#if defined(KVO_BYTE_SHUFFLES)
// 16-bit lanes gathered by a mask of 8 bits (bit k for lane k): the lanes whose bit is set, in their
// order, and how many.
struct LaneShuffles {
    alignas(16) unsigned char gather[256][16];
    unsigned char count[256];
    constexpr LaneShuffles() : gather(), count() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned c = 0;
            for (unsigned k = 0; k < 8; ++k) {
                if ((m >> k) & 1) {
                    gather[m][2 * c] = static_cast<unsigned char>(2 * k);
                    gather[m][2 * c + 1] = static_cast<unsigned char>(2 * k + 1);
                    ++c;
                }
            }
            for (unsigned j = 2 * c; j < 16; ++j)
                gather[m][j] = 0x80;
            count[m] = static_cast<unsigned char>(c);
        }
    }
};
inline constexpr LaneShuffles kLaneShuffles{};

// The lanes of v that mask (8 bits) marks, stored at out (8 lanes are stored); returns out past them.
KVO_SSSE3 inline uint16_t* storeGatheredLanes(uint16_t* out, __m128i v, unsigned mask) {
    const __m128i control = _mm_load_si128(reinterpret_cast<const __m128i*>(kLaneShuffles.gather[mask]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, control));
    return out + kLaneShuffles.count[mask];
}

// Eight stored codes (storedCode, little-endian) as their bytes: mask (8 bits) marks the codes of one
// byte, whose second byte is left out. head: those bytes (at least 8), tail: their last 8; count: how
// many there are.
struct CodeShuffles {
    alignas(16) unsigned char head[256][16];
    alignas(16) unsigned char tail[256][16];
    unsigned char count[256];
    constexpr CodeShuffles() : head(), tail(), count() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned char bytes[16] = {};
            unsigned c = 0;
            for (unsigned k = 0; k < 8; ++k) {
                bytes[c++] = static_cast<unsigned char>(2 * k);
                if (((m >> k) & 1) == 0)
                    bytes[c++] = static_cast<unsigned char>(2 * k + 1);
            }
            count[m] = static_cast<unsigned char>(c);
            for (unsigned j = 0; j < 16; ++j) {
                head[m][j] = j < c ? bytes[j] : 0x80;
                tail[m][j] = j < 8 ? bytes[c - 8 + j] : 0x80;
            }
        }
    }
};
inline constexpr CodeShuffles kCodeShuffles{};

// Eight stored codes (the default put in for kNoStoredCode, and *usedDefault set) stored as their bytes at
// out: exactly (two stores of 8 that may overlap), or where at least 8 more bytes are certain to follow
// and write them again, with one store of 16; returns out past them.
KVO_SSSE3 inline unsigned char* putStoredCodes(unsigned char* out, __m128i v, unsigned defStored,
                                               bool* usedDefault, bool exactly) {
    const __m128i unmapped = _mm_cmpeq_epi16(v, _mm_setzero_si128());
    if (_mm_movemask_epi8(unmapped) != 0) {
        v = _mm_or_si128(_mm_andnot_si128(unmapped, v),
                         _mm_and_si128(unmapped, _mm_set1_epi16(static_cast<short>(defStored))));
        *usedDefault = true;
    }
    const __m128i narrow =
        _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF00))), _mm_setzero_si128());
    const unsigned single = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(narrow, narrow))) & 0xFFu;
    const unsigned count = kCodeShuffles.count[single];
    const __m128i head = _mm_load_si128(reinterpret_cast<const __m128i*>(kCodeShuffles.head[single]));
    if (!exactly) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, head));
        return out + count;
    }
    const __m128i tail = _mm_load_si128(reinterpret_cast<const __m128i*>(kCodeShuffles.tail[single]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, head));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + count - 8), _mm_shuffle_epi8(v, tail));
    return out + count;
}

// The stored codes of eight units (or of eight indexes into other codes) at at, in a register.
template <class Index>
KVO_SSSE3 inline __m128i gatherStoredCodes(const uint16_t* codes, const Index* at) {
    __m128i v = _mm_cvtsi32_si128(codes[static_cast<uint16_t>(at[0])]);
    v = _mm_insert_epi16(v, codes[static_cast<uint16_t>(at[1])], 1);
    v = _mm_insert_epi16(v, codes[static_cast<uint16_t>(at[2])], 2);
    v = _mm_insert_epi16(v, codes[static_cast<uint16_t>(at[3])], 3);
    v = _mm_insert_epi16(v, codes[static_cast<uint16_t>(at[4])], 4);
    v = _mm_insert_epi16(v, codes[static_cast<uint16_t>(at[5])], 5);
    v = _mm_insert_epi16(v, codes[static_cast<uint16_t>(at[6])], 6);
    v = _mm_insert_epi16(v, codes[static_cast<uint16_t>(at[7])], 7);
    return v;
}

// CompUnicode -> a code page with codes of two bytes, from i and pos: blocks of 32 bytes whose units'
// indexes are gathered in their order by shuffles, about 64 units at a time, then looked up one after
// the other (so that the loops end where a branch predictor can tell, not at each block's last unit).
// Stops at a block of another kind (see compUnitsOfBlock), near a page end or where too little room is
// left (BlocksDone; otherBlock unused).
KVO_SSSE3 KVO_NOINLINE inline BlocksDone compUnicodeToStoredCodesShuffled(const CpFastTables& f,
                                                                          const unsigned char* src,
                                                                          unsigned char* dst, size_t room,
                                                                          size_t i, size_t pos,
                                                                          unsigned defStored) {
    constexpr unsigned kBatch = 64;
    const uint16_t* const codes = f.compStoredCodes.get();
    alignas(16) uint16_t indexes[kBatch + 40];
    bool usedDefault = false;
    const unsigned char* p = src + i;
    for (bool more = true; more;) {
        // Each unit gives at most two bytes, and a batch holds fewer than kBatch + 32.
        if (room != 0 && pos + 2 * (kBatch + 32) + 2 > room)
            break;
        uint16_t* gathered = indexes;
        while (gathered < indexes + kBatch) {
            if (!inPage(p, 48)) {
                more = false;
                break;
            }
            const CompUnitsOfBlock units = compUnitsOfBlock(loadBlockInPage(p), loadBlockInPage(p + 16));
            if (units.taken == 0) {
                more = false;
                break;
            }
            __m128i a, b, c, d;
            compRawIndexes(p, &a, &b);
            compRawIndexes(p + 16, &c, &d);
            gathered = storeGatheredLanes(gathered, a, units.starts & 0xFFu);
            gathered = storeGatheredLanes(gathered, b, (units.starts >> 8) & 0xFFu);
            gathered = storeGatheredLanes(gathered, c, (units.starts >> 16) & 0xFFu);
            gathered = storeGatheredLanes(gathered, d, units.starts >> 24);
            p += units.taken;
        }
        const unsigned n = static_cast<unsigned>(gathered - indexes);
        if (room != 0) {
            // Eight codes at a time gathered two bytes each, then stored without the second byte of
            // those of one byte.
            unsigned char* out = dst + pos;
            unsigned k = 0;
            for (; k + 8 <= n; k += 8) {
                // The next 8 (a whole group) write again what is stored past these.
                out = putStoredCodes(out, gatherStoredCodes(codes, indexes + k), defStored, &usedDefault,
                                     k + 16 > n);
            }
            for (; k < n; ++k) {
                unsigned s = codes[indexes[k]];
                if (s == kNoStoredCode) {
                    s = defStored;
                    usedDefault = true;
                }
                const uint16_t bytes = static_cast<uint16_t>(s);
                std::memcpy(out, &bytes, 2);
                out += 1 + storedCodeIsWide(s);
            }
            pos = static_cast<size_t>(out - dst);
        } else {
            // The code of the unit of index k, only counted (four in a row per turn).
            const auto code = [&](unsigned k) KVO_ALWAYS_INLINE {
                unsigned s = codes[indexes[k]];
                if (s == kNoStoredCode) {
                    s = defStored;
                    usedDefault = true;
                }
                return s;
            };
            unsigned k = 0;
            for (; k + 4 <= n; k += 4) {
                pos += 4 + storedCodeIsWide(code(k)) + storedCodeIsWide(code(k + 1)) +
                       storedCodeIsWide(code(k + 2)) + storedCodeIsWide(code(k + 3));
            }
            for (; k < n; ++k)
                pos += 1 + storedCodeIsWide(code(k));
        }
    }
    return {static_cast<size_t>(p - src), pos, false, usedDefault};
}
#endif

// Codes of two bytes: blocks of 32 bytes read where they lie in the text's page. The units of a block
// that end in it are found from the bytes' bit 7 (a unit ends at each byte without it), the index of
// each into compStoredCodes (compRawIndexToUnit) worked out for every byte at once, and each code put
// with one store (the byte after a code of one byte is written again by what follows); a block of
// ASCII converted at once. The next block starts after the last unit that ended. (Blocks of 32 bytes,
// not 16: the loop over a block's units ends where no branch predictor can tell, so the fewer such
// ends the better.) The room for a block is tested once. Near a page end unit by unit up to the next
// page; near the end of the room, at a unit cut by the terminator and at three bytes in a row with bit
// 7 set (a malformed unit), unit by unit with every test to the end.
inline int storedCodesFromCompUnicode(const CpFastTables& f, const unsigned char* src, unsigned char* dst,
                                      size_t room, unsigned char defByte, int* used) {
    const uint16_t* const codes = f.compStoredCodes.get();
    const uint16_t* const stored = f.storedCodes.get();
    const unsigned defStored = storedCode(defByte);
    bool usedDefault = false;
    const unsigned char* p = src;
    size_t pos = 0;
    alignas(16) uint16_t index[32];
    // The stored code s at dst + pos (or only counted), pos moved past it.
    const auto put = [&](unsigned s) KVO_ALWAYS_INLINE {
        if (s == kNoStoredCode) {
            s = defStored;
            usedDefault = true;
        }
        if (room != 0) {
            const uint16_t bytes = static_cast<uint16_t>(s);
            std::memcpy(dst + pos, &bytes, 2);
        }
        pos += 1 + storedCodeIsWide(s);
    };
    while (room == 0 || pos + 66 <= room) {
#if defined(KVO_BYTE_SHUFFLES)
        if (f.byteShuffles) {
            const BlocksDone done = compUnicodeToStoredCodesShuffled(
                f, src, dst, room, static_cast<size_t>(p - src), pos, defStored);
            p = src + done.i;
            pos = done.pos;
            usedDefault |= done.usedDefault;
            if (room != 0 && pos + 66 > room)
                break;
        }
#endif
        if (!inPage(p, 48)) {
            // The last bytes before the page ends: unit by unit into the next page.
            // (Each code with two bytes of room more, as below.)
            const unsigned char* const pageEnd = p + (64 - (reinterpret_cast<uintptr_t>(p) & 63));
            while (p < pageEnd && *p != 0 && (room == 0 || pos + 4 <= room)) {
                uint16_t u;
                bool bad;
                p += decodeCompUnicode(p, &u, &bad);
                put(bad ? kNoStoredCode : stored[u]);
            }
            if (*p == 0 || p < pageEnd)
                break;
            continue;
        }
        const __m128i v0 = loadBlockInPage(p);
        const __m128i v1 = loadBlockInPage(p + 16);
        const unsigned zeros = zeroBytes(v0) | (zeroBytes(v1) << 16);
        const unsigned high = highBits(v0) | (highBits(v1) << 16);
        if (f.asciiIdentity && (zeros | high) == 0) {
            if (room != 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + pos), compSwap16(v0));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + pos + 16), compSwap16(v1));
            }
            p += 32;
            pos += 32;
            continue;
        }
        const unsigned before =
            zeros != 0 ? lowBits(static_cast<unsigned>(__builtin_ctz(zeros))) : 0xFFFFFFFFu;
        const unsigned ends = ~high & before;
        if ((high & (high >> 1) & (high >> 2) & before) != 0 || ends == 0)
            break;
        const unsigned taken = 32 - static_cast<unsigned>(__builtin_clz(ends));  // up to the last end
        __m128i a, b, c, d;
        compRawIndexes(p, &a, &b);
        compRawIndexes(p + 16, &c, &d);
        _mm_store_si128(reinterpret_cast<__m128i*>(index), a);
        _mm_store_si128(reinterpret_cast<__m128i*>(index + 8), b);
        _mm_store_si128(reinterpret_cast<__m128i*>(index + 16), c);
        _mm_store_si128(reinterpret_cast<__m128i*>(index + 24), d);
        // A unit starts at the block's first byte and after each byte without bit 7.
        for (unsigned starts = ((~high << 1) | 1u) & (0xFFFFFFFFu >> (32 - taken)); starts != 0;
             starts &= starts - 1)
            put(codes[index[__builtin_ctz(starts)]]);
        p += taken;
        if (zeros != 0) {
            if (*p != 0)
                break;  // a unit cut by the terminator
            if (room != 0)
                dst[pos] = 0;
            setUsed(used, usedDefault);
            return static_cast<int>(pos + 1);
        }
    }
    return compUnicodeToCpSteps(f, src, static_cast<size_t>(p - src), dst, pos, room, defByte, usedDefault,
                                used);
}
#endif

}  // namespace detail

// CompUnicode -> code page. A malformed unit is one default byte. Blocks start only where the
// previous unit ended, so a byte below 0x80 in a block's ASCII prefix is a whole unit.
inline int fastCompUnicodeToCp(const CpFastTables& f, const unsigned char* src, unsigned char* dst,
                               int dstLen, int def, int* used) {
    static const unsigned char kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const size_t room = dst != nullptr ? roomOf(dstLen) : 0;
    const unsigned char defByte = defaultByte(def);
#if defined(__SSE2__)
    if (f.compStoredCodes)
        return detail::storedCodesFromCompUnicode(f, src, dst, room, defByte, used);
#endif
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
    if (f.asciiIdentity) {
        const detail::BlocksDone done = detail::compUnicodeToCpBlocks(f, src, len, dst, room, defByte);
        i = done.i;
        pos = done.pos;
        usedDefault = done.usedDefault;
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

// ---- UTF-8 -> code page

namespace detail {

#if defined(__SSE2__)
// Codes of two bytes: sequence by sequence in a lean loop, each code read in its stored form and put
// with one store (out holds exactly the output: the byte after a code of one byte is written again by
// what follows, the last such byte by the terminator); a block of 16 ASCII bytes copied at once where
// two ASCII bytes start it. With a null out only counts. Returns the bytes of the output with the
// terminator.
template <bool kWrite>
KVO_NOINLINE size_t storedCodesFromUtf8(const CpFastTables& f, const unsigned char* src, unsigned char* out,
                                        unsigned char defByte) {
    const uint16_t* const stored = f.storedCodes.get();
    const unsigned defStored = storedCode(defByte);
    const bool asciiIdentity = f.asciiIdentity;
    const unsigned char* p = src;
    // Written: the next output byte (the position without a register of its own, which the 32-bit
    // build lacks); counted: the bytes so far.
    unsigned char* o = out;
    size_t pos = 0;
    for (;;) {
        const unsigned b = *p;
        unsigned s;
        if (b < 0x80) {
            if (b == 0)
                break;
            if (asciiIdentity && p[1] - 1u < 0x7Fu && inPage(p, 16)) {
                const __m128i v = loadBlockInPage(p);
                if (asciiWithoutZero(v)) {
                    if (kWrite) {
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
                        o += 16;
                    } else {
                        pos += 16;
                    }
                    p += 16;
                    continue;
                }
            }
            s = stored[b];
            p += 1;
        } else {
            // A sequence of three bytes (lead byte 0xE0 to 0xEF, two continuation bytes) by one test
            // on four bytes read at once where they lie in the page; any other sequence (or an
            // overlong one) decoded byte by byte.
            const uint32_t w = inPage(p, 4) ? load32InPage(p) : 0;
            const unsigned u3 = ((w & 0x0Fu) << 12) | ((w & 0x3F00u) >> 2) | ((w >> 16) & 0x3Fu);
            if ((w & 0xC0C0F0u) == 0x8080E0u && u3 >= 0x800) {
                s = stored[u3];
                p += 3;
            } else {
                uint16_t u;
                bool bad;
                p += decodeUtf8(p, &u, &bad);
                s = bad ? kNoStoredCode : stored[u];
            }
        }
        if (s == kNoStoredCode)
            s = defStored;
        if (kWrite) {
            const uint16_t bytes = static_cast<uint16_t>(s);
            std::memcpy(o, &bytes, 2);
            o += 1 + storedCodeIsWide(s);
        } else {
            pos += 1 + storedCodeIsWide(s);
        }
    }
    if (kWrite) {
        *o = 0;
        pos = static_cast<size_t>(o - out);
    }
    return pos + 1;
}
#endif

}  // namespace detail

// UTF-8 -> code page. With a null out it only counts; otherwise out must hold the count that a
// counting call returned. Malformed sequences and unmapped units become def. Returns the bytes of the
// output with the terminator.
inline size_t fastUtf8ToCp(const CpFastTables& f, const unsigned char* src, unsigned char* out, int def) {
    const unsigned char defByte = defaultByte(def);
#if defined(__SSE2__)
    if (f.storedCodes) {
        return out != nullptr ? detail::storedCodesFromUtf8<true>(f, src, out, defByte)
                              : detail::storedCodesFromUtf8<false>(f, src, out, defByte);
    }
#endif
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
        // A block of another kind than the loops below take: its ASCII runs at once, the rest sequence
        // by sequence (at least 48 bytes must follow i).
        const auto byRuns = [&]() KVO_ALWAYS_INLINE {
            detail::convertAsciiBlocks(src, i, pos, i + 48, f.hasLeadBytes, put, step);
        };
        if (out == nullptr && f.narrowCodes) {
            if (i + 64 <= len)
                byRuns();  // the counted blocks are read with two bytes before them
            for (bool more = i + 64 <= len; more;) {
                const detail::BlocksDone done = detail::countUtf8Sequences(src, len, i, pos);
                i = done.i;
                pos = done.pos;
                more = done.otherBlock;
                if (more)
                    byRuns();
            }
        }
        // A sequence of two bytes led by 0xC2 or 0xC3 stands for U+0080 to U+00FF: the byte after it,
        // plus 0x40 after 0xC3. Where a block holds no other non-ASCII bytes and every such unit maps to
        // the byte of its value (from fromIdentityFrom), its output is its bytes with each continuation
        // byte replaced by that unit and each lead byte taken out. Blocks of 32 bytes with at least 96
        // more after them (at least 32 more sequences, so at least 32 more bytes of output that write
        // again whatever is stored past the block's output); other blocks: byRuns.
#if defined(KVO_BYTE_SHUFFLES)
        // With SSSE3 the lead bytes are taken out by shuffles (the loop below then has nothing left).
        for (bool more = out != nullptr && f.byteShuffles && f.fromIdentityFrom < 0x100; more;) {
            const detail::BlocksDone done = detail::utf8ToCpShuffled(f, src, len, out, i, pos);
            i = done.i;
            pos = done.pos;
            more = done.otherBlock;
            if (more)
                byRuns();
        }
#endif
        // Without SSSE3 the lead bytes are taken out up to one a half block without a branch on how many,
        // so that text with accented letters spread evenly meets few. A counting call for a table with
        // codes of two bytes counts the sequences here. Where no such unit maps to its own byte, every
        // block would be of another kind: the text goes by runs at once.
        const bool latin1Blocks = f.fromIdentityFrom < 0x100;
        const __m128i limit = detail::byteLimit(f.fromIdentityFrom);
        const __m128i leadC2 = _mm_set1_epi8(static_cast<char>(0xC2));
        const __m128i leadC3 = _mm_set1_epi8(static_cast<char>(0xC3));
        const __m128i continuationEnd = _mm_set1_epi8(static_cast<char>(0xC0));
        const __m128i plus40 = _mm_set1_epi8(0x40);
        // The bytes of a block: the leads, the continuation bytes, and the units that the continuation
        // bytes stand for below fromIdentityFrom.
        // The units are the continuation bytes' values, 0x40 added after 0xC3.
        const auto classify = [&](__m128i v, __m128i previous, unsigned* leads, unsigned* continuations,
                                  unsigned* below, __m128i* units) KVO_ALWAYS_INLINE {
            *leads = detail::highBits(_mm_or_si128(_mm_cmpeq_epi8(v, leadC2), _mm_cmpeq_epi8(v, leadC3)));
            *continuations = detail::highBits(_mm_cmplt_epi8(v, continuationEnd));
            *units = _mm_add_epi8(v, _mm_and_si128(_mm_cmpeq_epi8(previous, leadC3), plus40));
            *below = detail::bytesBelow(*units, limit);
        };
        while (latin1Blocks && i + 128 <= len) {
            const unsigned char* block = src + i;
            const __m128i v0 = detail::loadBlock(block);
            const __m128i v1 = detail::loadBlock(block + 16);
            unsigned leads0, continuations0, below0, leads1, continuations1, below1;
            __m128i units0, units1;
            classify(v0, _mm_slli_si128(v0, 1), &leads0, &continuations0, &below0, &units0);
            classify(v1, detail::loadBlock(block + 15), &leads1, &continuations1, &below1, &units1);
            const unsigned high = detail::highBits(v0) | (detail::highBits(v1) << 16);
            unsigned leads = leads0 | (leads1 << 16);
            const unsigned continuations = continuations0 | (continuations1 << 16);
            const unsigned below = below0 | (below1 << 16);
            if (high != (leads | continuations) || continuations != leads << 1 ||
                (continuations & below) != 0) {
                byRuns();
                continue;
            }
            // Each half of the block without its lead bytes (its continuation bytes hold the units). A
            // lead byte at byte 31 ends the block there: it is kept, and written again by the next
            // block.
            const unsigned cut = leads >> 31;
            leads &= 0x7FFFFFFFu;
            if (out == nullptr) {
                pos += 32 - cut - detail::bitCount(leads);
            } else {
                unsigned char* cursor = out + pos;
                cursor += detail::storeWithout(cursor, units0, leads & 0xFFFFu);
                cursor += detail::storeWithout(cursor, units1, leads >> 16) - cut;
                pos = static_cast<size_t>(cursor - out);
            }
            i += 32 - cut;
        }
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
