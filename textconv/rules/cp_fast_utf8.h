// UTF-8 -> code page, for both kinds of table (from the code page to UTF-8 the exports go through
// Unicode). For a table with codes of two bytes: sequence by sequence in a lean loop, each code read in
// its stored form and put with one store. Otherwise the ASCII runs at once, and where every unit of
// U+0080 to U+00FF stands for its own byte, blocks of 32 bytes narrowed by taking their lead bytes out
// (by shuffles where the processor has them); a call that only counts counts the sequences.
//
// No Windows header.
#pragma once

#include "cp_fast_blocks.h"

namespace kvo::textconv {

namespace detail {

#if defined(__SSE2__)
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
