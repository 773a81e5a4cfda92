// Per-process flat expansions of a validated code-page image (CpFastTables), and their building. The
// shared image stays the one source: these tables are derived from its records when a table is loaded
// (single bytes, one 256-entry page per lead byte and per Unicode high byte that has a record, the
// CompUnicode form of every single byte; for tables with codes of two bytes also the stored form of
// every unit's code, by unit and by the raw bits of its CompUnicode), so that the conversion loops
// (cp_fast_tables.h and the files of the conversion families it includes) do one array access per
// character instead of range tests.
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

}  // namespace kvo::textconv
