// The image of a code-page mapping file ("CP<number>.UNI") and the two lookups on it.
//
// Layout (little-endian, offsets from the start of the image):
//   0  size of the image          8  offset of the first to-Unicode record
//   4  reserved                  12  offset of the first from-Unicode record
//  16  to-Unicode bitmap (bit i: lead byte i has a record; bit 0: the single-byte record)
//  48  from-Unicode bitmap (bit i: Unicode high byte i has a record)
//  80  end of the header
// Records follow each other from their offset in increasing index order, one per set bit:
//   b0 b1 b2 b3, then 16-bit values. b0 <= b1: a table of b1-b0+1 values for x in b0..b1;
//   b0 > b1: a run for x in b1..b0 with one value v (x maps to v - b1 + x). b2 == 0: no second range;
//   otherwise b2/b3 likewise, its values after the first range's. 0xFFFF: no mapping.
//
// Header-only and free of Windows headers: the library, the mapping-file generator (to check its own
// output) and the native tests all use this one reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvo::textconv {

constexpr uint16_t kNoMapping = 0xFFFF;
constexpr size_t kCpImageHeaderSize = 80;
constexpr size_t kCpImageMaxSize = 0x40000;  // the size of the shared section

// Record pointers into a validated image; valid only while the image is.
struct CpRecords {
    const unsigned char* toUnicode[256];    // by lead byte; [0] is the single-byte record
    const unsigned char* fromUnicode[256];  // by the high byte of the Unicode unit
    unsigned toUnicodeCount;                // highest lead byte with a record, + 1 (0: none)
    unsigned fromUnicodeCount;              // highest high byte with a record, + 1 (0: none)
};

inline uint16_t readLe16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t readLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Number of 16-bit values a record holds.
inline unsigned cpRecordValueCount(const unsigned char* r) {
    unsigned n = r[0] <= r[1] ? r[1] - r[0] + 1u : 1u;
    if (r[2] != 0)
        n += r[2] <= r[3] ? r[3] - r[2] + 1u : 1u;
    return n;
}

inline size_t cpRecordSize(const unsigned char* r) {
    return 4 + 2 * static_cast<size_t>(cpRecordValueCount(r));
}

// The value for x (0..255) in one record, or kNoMapping.
inline uint16_t cpRecordLookup(const unsigned char* r, unsigned x) {
    const unsigned b0 = r[0], b1 = r[1];
    unsigned k;
    if (b0 <= b1) {
        if (x - b0 <= b1 - b0)
            return readLe16(r + 4 + 2 * (x - b0));
        k = b1 - b0 + 1;
    } else {
        if (x - b1 <= b0 - b1)
            return static_cast<uint16_t>(readLe16(r + 4) - b1 + x);
        k = 1;
    }
    const unsigned b2 = r[2], b3 = r[3];
    if (b2 == 0)
        return kNoMapping;
    if (b2 <= b3) {
        if (x - b2 <= b3 - b2)
            return readLe16(r + 4 + 2 * (k + x - b2));
        return kNoMapping;
    }
    if (x - b3 <= b2 - b3)
        return static_cast<uint16_t>(readLe16(r + 4 + 2 * k) - b3 + x);
    return kNoMapping;
}

// The code-page code of a Unicode unit: below 0x100 one byte, else lead byte (high half) and trail
// byte (low half); kNoMapping if there is none.
inline uint16_t cpUnicodeToCp(const CpRecords& t, uint16_t u) {
    const unsigned h = u >> 8;
    if (h >= t.fromUnicodeCount || t.fromUnicode[h] == nullptr)
        return kNoMapping;
    return cpRecordLookup(t.fromUnicode[h], u & 0xFF);
}

// The Unicode unit of the character at p, or kNoMapping. *doubleByte (may be null) tells whether
// the character took two bytes. A lead byte directly before the terminator is one unmapped byte:
// the terminator is never consumed. The terminator itself gives kNoMapping and one byte.
inline uint16_t cpToUnicode(const CpRecords& t, const unsigned char* p, int* doubleByte) {
    const unsigned v = p[0];
    const unsigned char* r;
    unsigned x;
    int dbcs = 0;
    if (v < t.toUnicodeCount && v != 0 && t.toUnicode[v] != nullptr) {
        if (p[1] == 0) {
            if (doubleByte)
                *doubleByte = 0;
            return kNoMapping;
        }
        r = t.toUnicode[v];
        x = p[1];
        dbcs = 1;
    } else {
        r = t.toUnicode[0];
        x = v;
    }
    if (doubleByte)
        *doubleByte = dbcs;
    if (v == 0 || r == nullptr)
        return kNoMapping;
    return cpRecordLookup(r, x);
}

inline bool cpIsLeadByte(const CpRecords& t, unsigned char b) {
    return b != 0 && b < t.toUnicodeCount && t.toUnicode[b] != nullptr;
}

namespace detail {

// Walks the records announced by one bitmap; every record must lie inside [header end, size).
inline bool walkCpRecords(const unsigned char* image, size_t size, uint32_t offset,
                          const unsigned char* bitmap, const unsigned char** records, unsigned* count) {
    size_t pos = offset;
    *count = 0;
    for (unsigned i = 0; i < 256; ++i) {
        records[i] = nullptr;
        if (!(bitmap[i / 8] & (1u << (i % 8))))
            continue;
        if (pos < kCpImageHeaderSize || pos > size || size - pos < 4)
            return false;
        const size_t length = cpRecordSize(image + pos);
        if (size - pos < length)
            return false;
        records[i] = image + pos;
        pos += length;
        *count = i + 1;
    }
    return true;
}

}  // namespace detail

// Validates an image of which `available` bytes may be read, and fills the record pointers. The size
// field must lie between the header size and min(available, kCpImageMaxSize); every announced record
// must lie inside it; no character other than the terminator may map to 0 (it would end the text),
// and every double-byte code must be one the image reads back as a character: a lead byte of its own
// and a trail byte other than 0. Returns false for any other image.
inline bool parseCpImage(const unsigned char* image, size_t available, CpRecords* out) {
    if (image == nullptr || available < kCpImageHeaderSize)
        return false;
    const uint32_t size = readLe32(image);
    if (size < kCpImageHeaderSize || size > available || size > kCpImageMaxSize)
        return false;
    if (!detail::walkCpRecords(image, size, readLe32(image + 8), image + 16, out->toUnicode,
                               &out->toUnicodeCount) ||
        !detail::walkCpRecords(image, size, readLe32(image + 12), image + 48, out->fromUnicode,
                               &out->fromUnicodeCount))
        return false;
    for (unsigned i = 0; i < 256; ++i) {
        for (unsigned x = 0; x < 256; ++x) {
            if (x != 0 && out->toUnicode[i] != nullptr && cpRecordLookup(out->toUnicode[i], x) == 0)
                return false;
            if ((i != 0 || x != 0) && out->fromUnicode[i] != nullptr) {
                const uint16_t code = cpRecordLookup(out->fromUnicode[i], x);
                if (code == 0 ||
                    (code >= 0x100 && code != kNoMapping &&
                     ((code & 0xFF) == 0 || !cpIsLeadByte(*out, static_cast<unsigned char>(code >> 8)))))
                    return false;
            }
        }
    }
    return true;
}

}  // namespace kvo::textconv
