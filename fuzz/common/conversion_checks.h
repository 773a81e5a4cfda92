// The whole-text conversions of one validated mapping image, checked on one text (used by
// cp_convert_fuzz on the shipped images and by cp_image_fuzz on fuzzed ones).
//
// Each conversion runs the reference loops of table_convert.h and the fast ones of cp_fast_tables.h at
// every output size from 0 to the size needed, each into a heap buffer of exactly that size:
//  - nothing is written past the size (AddressSanitizer);
//  - the size query (no buffer) gives the same result as every call with a buffer, the needed size;
//  - a buffer of the needed size receives the whole output, terminated; a smaller one a prefix of it in
//    whole characters, the rest untouched;
//  - reference and fast conversions leave the same bytes and the same used-default flag.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs.h"
#include "cp_fast_tables.h"
#include "cp_image.h"
#include "fuzz_support.h"
#include "table_convert.h"

namespace kvofuzz {

using namespace kvo::textconv;

// A validated image, its records and its flat tables; codePage only labels messages.
struct Image {
    unsigned codePage = 0;
    CpRecords records;
    CpFastTables fast;
};

// Output of one conversion into a buffer of `size` elements (size 0 still gives a buffer).
template <class Out>
struct Result {
    int value;
    int used;
    std::vector<Out> buffer;
};

template <class Out, class Convert>
Result<Out> run(Convert convert, size_t size, Out fill) {
    ExactBuffer<Out> buffer(size, fill);
    Result<Out> r;
    r.used = -1;
    r.value = convert(buffer.get(), static_cast<int>(size), &r.used);
    r.buffer.assign(buffer.get(), buffer.get() + size);
    return r;
}

// One conversion, reference against fast, at every output size. widest: the most elements one
// character may take in the output.
template <class Out, class Reference, class Fast>
void checkAllSizes(const char* what, const Image& table, Reference reference, Fast fast, size_t widest) {
    int refUsed = -1, fastUsed = -1;
    const int needed = reference(static_cast<Out*>(nullptr), 0, &refUsed);
    KVO_FUZZ_CHECK(needed >= 1, "CP%u %s: size %d", table.codePage, what, needed);
    KVO_FUZZ_CHECK(refUsed == 0 || refUsed == 1, "CP%u %s: flag %d", table.codePage, what, refUsed);
    const int fastNeeded = fast(static_cast<Out*>(nullptr), 0, &fastUsed);
    KVO_FUZZ_CHECK(fastNeeded == needed && fastUsed == refUsed, "CP%u %s: size query %d/%d, flag %d/%d",
                   table.codePage, what, fastNeeded, needed, fastUsed, refUsed);
    KVO_FUZZ_CHECK(reference(static_cast<Out*>(nullptr), 1000, nullptr) == needed &&
                       fast(static_cast<Out*>(nullptr), 1000, nullptr) == needed,
                   "CP%u %s: a size without a buffer changes the result", table.codePage, what);
    const Out fill = static_cast<Out>(0xA5A5);
    const auto whole = run<Out>(reference, static_cast<size_t>(needed), fill);
    KVO_FUZZ_CHECK(whole.buffer[static_cast<size_t>(needed) - 1] == 0, "CP%u %s: no terminator with %d",
                   table.codePage, what, needed);
    for (size_t i = 0; i + 1 < static_cast<size_t>(needed); ++i)
        KVO_FUZZ_CHECK(whole.buffer[i] != 0, "CP%u %s: zero at %zu of %d", table.codePage, what, i, needed);

    for (size_t size = 0; size <= static_cast<size_t>(needed); ++size) {
        const auto ref = run<Out>(reference, size, fill);
        const auto got = run<Out>(fast, size, fill);
        KVO_FUZZ_CHECK(ref.value == needed && got.value == needed,
                       "CP%u %s, size %zu: results %d/%d, needed %d", table.codePage, what, size, got.value,
                       ref.value, needed);
        KVO_FUZZ_CHECK(ref.used == refUsed && got.used == refUsed,
                       "CP%u %s, size %zu: flags %d/%d, expected %d", table.codePage, what, size, got.used,
                       ref.used, refUsed);
        // A prefix of the whole output, then untouched elements: fewer than one character's worth.
        size_t written = 0;
        while (written < size && ref.buffer[written] == whole.buffer[written])
            ++written;
        for (size_t i = written; i < size; ++i)
            KVO_FUZZ_CHECK(ref.buffer[i] == fill,
                           "CP%u %s, size %zu: element %zu neither output nor untouched", table.codePage,
                           what, size, i);
        KVO_FUZZ_CHECK(size - written < widest || size == static_cast<size_t>(needed),
                       "CP%u %s, size %zu: only %zu elements written", table.codePage, what, size, written);
        if (ref.buffer != got.buffer) {
            size_t at = 0;
            while (ref.buffer[at] == got.buffer[at])
                ++at;
            KVO_FUZZ_CHECK(false, "CP%u %s, size %zu of %d: fast conversion wrote %X at %zu, reference %X",
                           table.codePage, what, size, needed, static_cast<unsigned>(got.buffer[at]), at,
                           static_cast<unsigned>(ref.buffer[at]));
        }
    }
}

// UTF-8 into the code page: the fast loop (count, then convert into exactly that) against a decoding
// unit by unit and a lookup of each unit in the records.
inline void checkUtf8ToCp(const Image& table, const unsigned char* src, int def) {
    std::vector<unsigned char> expected;
    const unsigned char defByte = defaultByte(def);
    for (const unsigned char* p = src; *p != 0;) {
        uint16_t u;
        bool bad;
        p += decodeUtf8(p, &u, &bad);
        uint16_t code = bad ? kNoMapping : cpUnicodeToCp(table.records, u);
        if (code == kNoMapping)
            code = defByte;
        if (code >= 0x100)
            expected.push_back(static_cast<unsigned char>(code >> 8));
        expected.push_back(static_cast<unsigned char>(code & 0xFF));
    }
    expected.push_back(0);
    const size_t count = fastUtf8ToCp(table.fast, src, nullptr, def);
    KVO_FUZZ_CHECK(count == expected.size(), "CP%u UTF-8 to local: counted %zu, expected %zu", table.codePage,
                   count, expected.size());
    ExactBuffer<unsigned char> out(count, 0xA5);
    KVO_FUZZ_CHECK(fastUtf8ToCp(table.fast, src, out.get(), def) == count,
                   "CP%u UTF-8 to local: result changed", table.codePage);
    KVO_FUZZ_CHECK(std::memcmp(out.get(), expected.data(), count) == 0, "CP%u UTF-8 to local: bytes differ",
                   table.codePage);
}

// Every conversion of the text (`size` bytes at data, placed `shift` bytes into its allocation): read
// as local text, as CompUnicode, as UTF-8 and as little-endian 16-bit units.
inline void checkConversions(const Image& table, const uint8_t* data, size_t size, size_t shift, int def) {
    const CpRecords& t = table.records;
    const CpFastTables& f = table.fast;

    // Local text, also read as CompUnicode and as UTF-8.
    const Text text(data, size, shift);
    const unsigned char* src = text.get();
    checkAllSizes<uint16_t>(
        "local to Unicode", table,
        [&](uint16_t* dst, int len, int* used) { return tableCpToUnicode(t, src, dst, len, def, used); },
        [&](uint16_t* dst, int len, int* used) { return fastCpToUnicode(f, src, dst, len, def, used); }, 1);
    checkAllSizes<unsigned char>(
        "local to CompUnicode", table,
        [&](unsigned char* dst, int len, int* used) {
            return tableCpToCompUnicode(t, src, dst, len, def, used);
        },
        [&](unsigned char* dst, int len, int* used) {
            return fastCpToCompUnicode(f, src, dst, len, def, used);
        },
        3);
    checkAllSizes<unsigned char>(
        "CompUnicode to local", table,
        [&](unsigned char* dst, int len, int* used) {
            return tableCompUnicodeToCp(t, src, dst, len, def, used);
        },
        [&](unsigned char* dst, int len, int* used) {
            return fastCompUnicodeToCp(f, src, dst, len, def, used);
        },
        2);
    checkUtf8ToCp(table, src, def);
    // The encoded length counts an unmapped character as one byte: the CompUnicode size with a
    // one-byte default.
    KVO_FUZZ_CHECK(tableEncodedLength(t, src) == tableCpToCompUnicode(t, src, nullptr, 0, '?', nullptr),
                   "CP%u encoded length %d, CompUnicode size %d", table.codePage, tableEncodedLength(t, src),
                   tableCpToCompUnicode(t, src, nullptr, 0, '?', nullptr));

    // The same bytes as 16-bit units, 2-byte aligned.
    const std::vector<uint16_t> units = unitsBeforeZero(data, size);
    ExactBuffer<uint16_t> unitStorage(shift / 2 + units.size() + 1, 0);
    uint16_t* unitText = unitStorage.get() + shift / 2;
    if (!units.empty())
        std::memcpy(unitText, units.data(), units.size() * sizeof(uint16_t));
    checkAllSizes<unsigned char>(
        "Unicode to local", table,
        [&](unsigned char* dst, int len, int* used) {
            return tableUnicodeToCp(t, unitText, dst, len, def, used);
        },
        [&](unsigned char* dst, int len, int* used) {
            return fastUnicodeToCp(f, unitText, dst, len, def, used);
        },
        2);
}

}  // namespace kvofuzz
