// Code page <-> CompUnicode, for both kinds of table. From the code page: single bytes by blocks of 31
// (by shuffles where the block's bytes stand for themselves), double-byte text character by character
// in a lean loop. To the code page: blocks of 32 bytes, the units of two bytes that stand for U+0080 to
// U+00FF without their second byte (by shuffles where the processor has them); for a table with codes
// of two bytes, the units of a whole block found at once and their codes read in their stored form by
// the raw bits of their bytes (compStoredCodes).
//
// No Windows header.
#pragma once

#include "cp_fast_blocks.h"

namespace kvo::textconv {

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

#if defined(__SSE2__)
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

#if defined(KVO_BYTE_SHUFFLES)
// compSwapKeepingBit7 by a shuffle: the low nibble of each byte looked up.
KVO_SSSE3 inline __m128i swapKeepingBit7Shuffled(__m128i v) {
    const __m128i swapped = _mm_setr_epi8(0x00, 0x04, 0x08, 0x0C, 0x01, 0x05, 0x09, 0x0D, 0x02, 0x06, 0x0A,
                                          0x0E, 0x03, 0x07, 0x0B, 0x0F);
    const __m128i lowNibbles = _mm_set1_epi8(0x0F);
    return _mm_or_si128(_mm_andnot_si128(lowNibbles, v),
                        _mm_shuffle_epi8(swapped, _mm_and_si128(v, lowNibbles)));
}
#endif
#endif

}  // namespace detail

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
#if defined(KVO_BYTE_SHUFFLES)
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
#if defined(KVO_BYTE_SHUFFLES)
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
#endif

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

}  // namespace kvo::textconv
