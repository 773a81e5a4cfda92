// The byte forms of 16-bit units from hostile bytes (textconv/rules/codecs.h, table_convert.h):
//  - the input as UTF-8 and as CompUnicode text, decoded by the library and by the reference decoders
//    below: the same units, the same count of default (malformed) units, the same unit count, and
//    nothing read past the terminator nor written past the counted units;
//  - the input as 16-bit units, encoded to UTF-8 and to CompUnicode by the library and by the reference
//    encoders below (same bytes, the sizes the library announces, no zero byte inside), and decoded back
//    to the same units.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codecs.h"
#include "fuzz_support.h"
#include "table_convert.h"

using namespace kvo::textconv;
using kvofuzz::ExactBuffer;
using kvofuzz::Text;
using kvofuzz::unitsBeforeZero;

namespace {

struct Decoded {
    std::vector<uint16_t> units;  // malformed units as the bad unit
    size_t bad = 0;
};

// --- Reference decoders: written from the formats' definitions, one byte at a time. ------------
// `at(i)` is byte i of the text, 0 from the terminator on: no read goes past it.

struct Bytes {
    const unsigned char* p;
    size_t length;
    unsigned at(size_t i) const { return i < length ? p[i] : 0u; }
};

// UTF-8 of one to three bytes a unit. Malformed, each giving one bad unit: a continuation byte where a
// sequence starts (1 byte); a two- or three-byte lead byte without its continuation bytes (the lead and
// the continuation bytes that are there); a lead byte from 0xF0 on (with the continuation bytes that
// follow it, three at most); an overlong sequence (a value that a shorter sequence holds).
Decoded referenceUtf8(const Bytes& s, uint16_t badUnit) {
    Decoded d;
    auto isContinuation = [&](size_t i) { return s.at(i) >= 0x80 && s.at(i) <= 0xBF; };
    size_t i = 0;
    while (i < s.length) {
        const unsigned b = s.at(i);
        size_t take = 1;
        bool bad = false;
        uint32_t value = 0;
        if (b <= 0x7F) {
            value = b;
        } else if (b <= 0xBF) {
            bad = true;
        } else if (b <= 0xDF) {
            if (!isContinuation(i + 1)) {
                bad = true;
            } else {
                take = 2;
                value = ((b - 0xC0) * 64) + (s.at(i + 1) - 0x80);
                bad = value < 0x80;
            }
        } else if (b <= 0xEF) {
            if (!isContinuation(i + 1)) {
                bad = true;
            } else if (!isContinuation(i + 2)) {
                take = 2;
                bad = true;
            } else {
                take = 3;
                value = ((b - 0xE0) * 4096) + ((s.at(i + 1) - 0x80) * 64) + (s.at(i + 2) - 0x80);
                bad = value < 0x800;
            }
        } else {
            while (take < 4 && isContinuation(i + take))
                ++take;
            bad = true;
        }
        d.units.push_back(bad ? badUnit : static_cast<uint16_t>(value));
        d.bad += bad ? 1 : 0;
        i += take;
    }
    return d;
}

// CompUnicode: 7 bits a byte, lowest group first, bit 7 set on every byte but a unit's last, a unit
// three bytes at most (the third byte's bit 7 is not looked at); in each byte the two 2-bit halves of
// the low nibble are exchanged. The value is cut to 16 bits. Malformed, one bad unit each: a unit cut
// by the terminator (the bytes before it), a unit whose value is 0.
unsigned unswap(unsigned byte) {
    const unsigned low = byte & 0x03, high = (byte >> 2) & 0x03;
    return (byte & 0x70) | (low << 2) | high;
}

Decoded referenceCompUnicode(const Bytes& s, uint16_t badUnit) {
    Decoded d;
    size_t i = 0;
    while (i < s.length) {
        uint32_t value = 0;
        size_t take = 0;
        bool cut = false;
        for (unsigned k = 0; k < 3; ++k) {
            const unsigned b = s.at(i + k);
            if (b == 0) {
                cut = true;
                break;
            }
            value += unswap(b & 0x7F) << (7 * k);
            take = k + 1;
            if (b < 0x80 || k == 2)
                break;
        }
        const bool bad = cut || (value & 0xFFFF) == 0;
        d.units.push_back(bad ? badUnit : static_cast<uint16_t>(value & 0xFFFF));
        d.bad += bad ? 1 : 0;
        i += take;
    }
    return d;
}

// --- Reference encoders ------------------------------------------------------------------------

std::string referenceUtf8Encode(const std::vector<uint16_t>& units) {
    std::string out;
    for (uint16_t u : units) {
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 + (u >> 6)));
            out.push_back(static_cast<char>(0x80 + (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 + (u >> 12)));
            out.push_back(static_cast<char>(0x80 + ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 + (u & 0x3F)));
        }
    }
    return out;
}

unsigned swap(unsigned group) {
    return unswap(group);  // exchanging the halves is its own inverse
}

std::string referenceCompUnicodeEncode(const std::vector<uint16_t>& units) {
    std::string out;
    for (uint16_t u : units) {
        const unsigned groups[3] = {u & 0x7Fu, (u >> 7) & 0x7Fu, (u >> 14) & 0x7Fu};
        const unsigned count = u < 0x80 ? 1 : (u < 0x4000 ? 2 : 3);
        for (unsigned k = 0; k < count; ++k)
            out.push_back(static_cast<char>(swap(groups[k]) | (k + 1 < count ? 0x80 : 0)));
    }
    return out;
}

// --- Checks ------------------------------------------------------------------------------------

// The library's own decoding, walked unit by unit, with its count of malformed units.
template <class Decode>
Decoded walk(const unsigned char* text, Decode decode, uint16_t badUnit) {
    Decoded d;
    while (*text) {
        uint16_t u = 0;
        bool bad = false;
        const int n = decode(text, &u, &bad);
        KVO_FUZZ_CHECK(n >= 1 && n <= 4, "a unit of %d bytes", n);
        for (int k = 0; k < n; ++k)
            KVO_FUZZ_CHECK(text[k] != 0, "a unit took the terminator");
        d.units.push_back(bad ? badUnit : u);
        d.bad += bad ? 1 : 0;
        text += n;
    }
    return d;
}

template <class Unit>
std::vector<uint16_t> unitsOf(const Unit* text, size_t count) {
    std::vector<uint16_t> v;
    for (size_t i = 0; i < count; ++i)
        v.push_back(static_cast<uint16_t>(text[i]));
    return v;
}

template <class Unit>
void checkUtf8Decoding(const Text& text, const Decoded& expected) {
    const unsigned count = utf8UnitCount(text.get());
    KVO_FUZZ_CHECK(count == expected.units.size(), "UTF-8 unit count %u, reference %zu", count,
                   expected.units.size());
    ExactBuffer<Unit> out(count + 1, static_cast<Unit>(0x5A5A));
    const unsigned n = decodeUtf8Text(text.get(), out.get());
    KVO_FUZZ_CHECK(n == count, "UTF-8 decoded %u units, counted %u", n, count);
    KVO_FUZZ_CHECK(out[n] == 0, "UTF-8 decoding not terminated");
    KVO_FUZZ_CHECK(unitsOf(out.get(), n) == expected.units, "UTF-8 units differ from the reference");
}

template <class Unit>
void checkCompUnicodeDecoding(const Text& text, const Decoded& expected, uint16_t badUnit) {
    const unsigned count = compUnicodeUnitCount(text.get());
    KVO_FUZZ_CHECK(count == expected.units.size(), "CompUnicode unit count %u, reference %zu", count,
                   expected.units.size());
    // The room the conversions give it: one unit per byte, and the terminator.
    KVO_FUZZ_CHECK(count <= text.length(), "more units than bytes");
    ExactBuffer<Unit> out(count + 1, static_cast<Unit>(0x5A5A));
    const unsigned n = decodeCompUnicodeText(text.get(), out.get(), badUnit);
    KVO_FUZZ_CHECK(n == count, "CompUnicode decoded %u units, counted %u", n, count);
    KVO_FUZZ_CHECK(out[n] == 0, "CompUnicode decoding not terminated");
    KVO_FUZZ_CHECK(unitsOf(out.get(), n) == expected.units, "CompUnicode units differ from the reference");
}

void checkDecoders(const uint8_t* data, size_t size) {
    const Text text(data, size, size % 16);
    const Bytes bytes{text.get(), text.length()};

    const Decoded utf8 = referenceUtf8(bytes, kReplacementUnit);
    const Decoded libraryUtf8 = walk(text.get(), decodeUtf8, kReplacementUnit);
    KVO_FUZZ_CHECK(libraryUtf8.units == utf8.units, "decodeUtf8 units differ from the reference");
    KVO_FUZZ_CHECK(libraryUtf8.bad == utf8.bad, "decodeUtf8: %zu malformed units, reference %zu",
                   libraryUtf8.bad, utf8.bad);
    checkUtf8Decoding<uint16_t>(text, utf8);
    checkUtf8Decoding<wchar_t>(text, utf8);

    const uint16_t badUnit = size >= 2 ? static_cast<uint16_t>(data[0] | (data[1] << 8)) : uint16_t{0xFFFD};
    const Decoded comp = referenceCompUnicode(bytes, badUnit);
    const Decoded libraryComp = walk(text.get(), decodeCompUnicode, badUnit);
    KVO_FUZZ_CHECK(libraryComp.units == comp.units, "decodeCompUnicode units differ from the reference");
    KVO_FUZZ_CHECK(libraryComp.bad == comp.bad, "decodeCompUnicode: %zu malformed units, reference %zu",
                   libraryComp.bad, comp.bad);
    checkCompUnicodeDecoding<uint16_t>(text, comp, badUnit);
    checkCompUnicodeDecoding<wchar_t>(text, comp, badUnit);
}

template <class Unit>
void checkEncoders(const std::vector<uint16_t>& units) {
    ExactBuffer<Unit> src(units.size() + 1, 0);
    for (size_t i = 0; i < units.size(); ++i)
        src[i] = static_cast<Unit>(units[i]);

    // UTF-8: the announced size, the reference's bytes, no zero byte inside, decoded back unchanged.
    const std::string utf8 = referenceUtf8Encode(units);
    const unsigned utf8Size = utf8SizeOf(src.get());
    KVO_FUZZ_CHECK(utf8Size == utf8.size() + 1, "UTF-8 size %u, reference %zu", utf8Size, utf8.size() + 1);
    ExactBuffer<unsigned char> encoded(utf8Size, 0xA5);
    encodeUtf8Text(src.get(), encoded.get());
    KVO_FUZZ_CHECK(std::memcmp(encoded.get(), utf8.data(), utf8.size()) == 0 && encoded[utf8.size()] == 0,
                   "UTF-8 bytes differ from the reference");
    const Decoded back = walk(encoded.get(), decodeUtf8, kReplacementUnit);
    KVO_FUZZ_CHECK(back.bad == 0 && back.units == units, "UTF-8 round trip changed the units");

    // CompUnicode likewise.
    const std::string comp = referenceCompUnicodeEncode(units);
    const unsigned compSize = compUnicodeSizeOf(src.get());
    KVO_FUZZ_CHECK(compSize == comp.size() + 1, "CompUnicode size %u, reference %zu", compSize,
                   comp.size() + 1);
    ExactBuffer<unsigned char> compEncoded(compSize, 0xA5);
    encodeCompUnicodeText(src.get(), compEncoded.get());
    KVO_FUZZ_CHECK(
        std::memcmp(compEncoded.get(), comp.data(), comp.size()) == 0 && compEncoded[comp.size()] == 0,
        "CompUnicode bytes differ from the reference");
    KVO_FUZZ_CHECK(std::strlen(reinterpret_cast<const char*>(compEncoded.get())) == comp.size(),
                   "a zero byte inside CompUnicode");
    const Decoded compBack = walk(compEncoded.get(), decodeCompUnicode, kReplacementUnit);
    KVO_FUZZ_CHECK(compBack.bad == 0 && compBack.units == units, "CompUnicode round trip changed the units");
    ExactBuffer<Unit> decoded(units.size() + 1, 0);
    KVO_FUZZ_CHECK(decodeCompUnicodeText(compEncoded.get(), decoded.get(), uint16_t{0}) == units.size(),
                   "CompUnicode text round trip: unit count");
    KVO_FUZZ_CHECK(unitsOf(decoded.get(), units.size()) == units,
                   "CompUnicode text round trip changed the units");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkDecoders(data, size);

    const std::vector<uint16_t> units = unitsBeforeZero(data, size);
    checkEncoders<uint16_t>(units);
    checkEncoders<wchar_t>(units);
    return 0;
}
