// The whole-text conversions on the flat tables of a code page, one file per conversion family:
//   cp_fast_build.h         the tables (CpFastTables), derived from a validated image when a table is
//                           loaded, and their building;
//   cp_fast_blocks.h        what the families share: compiler attributes, the character-by-character
//                           ways, block reads and masks (SSE2), byte shuffles (SSSE3), ASCII runs;
//   cp_fast_single_byte.h   code page <-> Unicode for a table of single bytes;
//   cp_fast_double_byte.h   code page <-> Unicode for a double-byte table;
//   cp_fast_comp_unicode.h  code page <-> CompUnicode, for both kinds of table;
//   cp_fast_utf8.h          UTF-8 -> code page, for both kinds of table.
// This file includes them all and holds the two code page <-> Unicode conversions, which take the
// double-byte, the single-byte or the character-by-character way by the table. Results and buffer
// contract are exactly those of table_convert.h, which stays the reference the tests compare against.
//
// No Windows header.
#pragma once

#include "cp_fast_blocks.h"
#include "cp_fast_build.h"
#include "cp_fast_comp_unicode.h"
#include "cp_fast_double_byte.h"
#include "cp_fast_single_byte.h"
#include "cp_fast_utf8.h"

namespace kvo::textconv {

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

}  // namespace kvo::textconv
