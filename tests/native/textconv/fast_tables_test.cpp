// The flat per-process tables and their block-wise conversions give exactly what the record-based
// reference conversions give: same result, same used-default flag, same bytes inside the buffer,
// nothing written past it, for random texts (ASCII runs, accented and double-byte characters,
// unmapped and malformed ones) and every buffer size around the result.
#include "cp_fast_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cp_image_builder.h"

using namespace kvo::textconv;

namespace {

struct Loaded {
    std::vector<unsigned char> image;
    CpRecords records;
    CpFastTables fast;
};

Loaded load(unsigned cp) {
    Loaded l;
    l.image = kvotest::readMappingFile(cp);
    EXPECT_TRUE(parseCpImage(l.image.data(), l.image.size(), &l.records)) << cp;
    buildFastTables(l.records, &l.fast);
    return l;
}

// Random local text: long ASCII runs, then characters drawn from the table's own mappings, plus
// unmapped bytes and a lead byte cut by the terminator.
std::string randomLocal(const Loaded& l, std::mt19937& rng) {
    std::string s;
    const size_t length = rng() % 120;
    while (s.size() < length) {
        const unsigned kind = rng() % 10;
        if (kind < 5) {
            for (unsigned k = rng() % 40; k > 0; --k)
                s.push_back(static_cast<char>(0x20 + rng() % 0x5F));
        } else if (kind < 8 || !l.fast.hasLeadBytes) {
            s.push_back(static_cast<char>(1 + rng() % 255));
        } else {
            unsigned lead;
            do {
                lead = 0x80 + rng() % 0x80;
            } while (!l.fast.lead[lead]);
            s.push_back(static_cast<char>(lead));
            s.push_back(static_cast<char>(1 + rng() % 255));
        }
    }
    if (l.fast.hasLeadBytes && rng() % 4 == 0) {
        for (unsigned b = 0x81; b < 0x100; ++b) {
            if (l.fast.lead[b]) {
                s.push_back(static_cast<char>(b));
                break;
            }
        }
    }
    return s;
}

// Places a text at a random alignment, exactly sized, so that block reads are exercised everywhere.
template <class T>
struct Placed {
    std::vector<T> storage;
    T* text;
    Placed(const T* s, size_t n, unsigned shift) : storage(n + 1 + shift) {
        text = storage.data() + shift;
        std::memcpy(text, s, n * sizeof(T));
        text[n] = 0;
    }
};

template <class Convert>
void compareAllSizes(const char* what, unsigned cp, const std::string& label, Convert convert, size_t unit) {
    int refUsed = -1, fastUsed = -1;
    const int size = convert(false, nullptr, 0, &refUsed);
    ASSERT_EQ(convert(true, nullptr, 0, &fastUsed), size) << what << " " << cp << " size query " << label;
    ASSERT_EQ(fastUsed, refUsed) << what << " " << cp << " " << label;
    for (int room = 0; room <= size + 2; ++room) {
        std::vector<unsigned char> a(room * unit + 8, 0xEE), b(room * unit + 8, 0xEE);
        ASSERT_EQ(convert(false, a.data(), room, &refUsed), size);
        ASSERT_EQ(convert(true, b.data(), room, &fastUsed), size) << what << " " << cp << " room " << room;
        ASSERT_EQ(fastUsed, refUsed) << what << " " << cp << " room " << room;
        ASSERT_EQ(a, b) << what << " " << cp << " room " << room << " text " << label;
    }
}

TEST(FastTables, SameResultsAsTheRecordLookups) {
    std::mt19937 rng(99);
    for (unsigned cp : {1252u, 942u, 37u, 949u, 1381u, 850u}) {
        const Loaded l = load(cp);
        for (int round = 0; round < 60; ++round) {
            const std::string local = randomLocal(l, rng);
            const unsigned shift = rng() % 16;
            Placed<unsigned char> src(reinterpret_cast<const unsigned char*>(local.data()), local.size(),
                                      shift);
            const std::string label = std::to_string(local.size()) + "@" + std::to_string(shift);

            compareAllSizes(
                "to Unicode", cp, label,
                [&](bool fast, void* d, int room, int* used) {
                    return fast
                               ? fastCpToUnicode(l.fast, src.text, static_cast<char16_t*>(d), room, '*', used)
                               : tableCpToUnicode(l.records, src.text, static_cast<char16_t*>(d), room, '*',
                                                  used);
                },
                2);
            compareAllSizes(
                "to CompUnicode", cp, label,
                [&](bool fast, void* d, int room, int* used) {
                    auto* out = static_cast<unsigned char*>(d);
                    return fast ? fastCpToCompUnicode(l.fast, src.text, out, room, '*', used)
                                : tableCpToCompUnicode(l.records, src.text, out, room, '*', used);
                },
                1);

            // Unicode text: the local text's units plus unmapped and lone surrogate units.
            std::vector<char16_t> units(local.size() + 8);
            const int n = tableCpToUnicode(l.records, src.text, units.data(), static_cast<int>(units.size()),
                                           0x4E2D, nullptr);
            units.resize(n - 1);
            if (rng() % 2)
                units.push_back(0x0E01);
            if (rng() % 3 == 0)
                units.push_back(0xD800);
            Placed<char16_t> wide(units.data(), units.size(), rng() % 8);
            compareAllSizes(
                "from Unicode", cp, label,
                [&](bool fast, void* d, int room, int* used) {
                    auto* out = static_cast<unsigned char*>(d);
                    return fast ? fastUnicodeToCp(l.fast, wide.text, out, room, '*', used)
                                : tableUnicodeToCp(l.records, wide.text, out, room, '*', used);
                },
                1);

            // CompUnicode text of those units, sometimes cut inside a unit.
            std::vector<unsigned char> comp(units.size() * 3 + 1);
            encodeCompUnicodeText(wide.text, comp.data());
            size_t compLength = std::strlen(reinterpret_cast<char*>(comp.data()));
            if (compLength > 0 && rng() % 4 == 0 && (comp[compLength - 1] & 0x80) == 0 && compLength > 1 &&
                (comp[compLength - 2] & 0x80))
                --compLength;  // a continuation byte right before the terminator
            Placed<unsigned char> compText(comp.data(), compLength, rng() % 16);
            compareAllSizes(
                "from CompUnicode", cp, label,
                [&](bool fast, void* d, int room, int* used) {
                    auto* out = static_cast<unsigned char*>(d);
                    return fast ? fastCompUnicodeToCp(l.fast, compText.text, out, room, '*', used)
                                : tableCompUnicodeToCp(l.records, compText.text, out, room, '*', used);
                },
                1);

            // UTF-8 of those units (with a malformed tail now and then) against decode + reference.
            std::vector<unsigned char> utf8(units.size() * 3 + 4);
            encodeUtf8Text(wide.text, utf8.data());
            size_t utf8Length = std::strlen(reinterpret_cast<char*>(utf8.data()));
            if (rng() % 3 == 0)
                utf8[utf8Length++] = 0xC3;
            utf8[utf8Length] = 0;
            Placed<unsigned char> utf8Text(utf8.data(), utf8Length, rng() % 16);
            std::vector<char16_t> decoded(utf8Length + 1);
            decodeUtf8Text(utf8Text.text, decoded.data());
            const int refSize = tableUnicodeToCp(l.records, decoded.data(), nullptr, 0, '*', nullptr);
            std::vector<unsigned char> ref(refSize), out(refSize);
            tableUnicodeToCp(l.records, decoded.data(), ref.data(), refSize, '*', nullptr);
            ASSERT_EQ(fastUtf8ToCp(l.fast, utf8Text.text, nullptr, '*'), static_cast<size_t>(refSize)) << cp;
            ASSERT_EQ(fastUtf8ToCp(l.fast, utf8Text.text, out.data(), '*'), static_cast<size_t>(refSize))
                << cp;
            ASSERT_EQ(std::memcmp(out.data(), ref.data(), refSize), 0) << cp;
        }
    }
}

// Random CompUnicode bytes: ASCII runs, well-formed units of two and three bytes, and malformed ones
// (runs of bytes with bit 7 set, a unit that decodes to 0, a unit cut by the terminator).
std::vector<unsigned char> randomCompUnicode(std::mt19937& rng, size_t length) {
    std::vector<unsigned char> s;
    while (s.size() < length) {
        const unsigned kind = rng() % 12;
        unsigned char bytes[3];
        if (kind < 4) {
            for (unsigned k = rng() % 30; k > 0; --k)
                s.push_back(static_cast<unsigned char>(0x20 + rng() % 0x5F));
        } else if (kind < 7) {
            const int n = encodeCompUnicode(static_cast<uint16_t>(0x80 + rng() % 0x3F80), bytes);
            s.insert(s.end(), bytes, bytes + n);
        } else if (kind < 10) {
            const int n = encodeCompUnicode(static_cast<uint16_t>(0x4000 + rng() % 0xC000), bytes);
            s.insert(s.end(), bytes, bytes + n);
        } else if (kind == 10) {
            for (unsigned k = 1 + rng() % 5; k > 0; --k)
                s.push_back(static_cast<unsigned char>(0x80 + rng() % 0x80));
        } else {
            const unsigned char zero[] = {0x80, 0x80, 0x01};  // groups 0, 0 and 4: 0x10000, cut to 0
            s.insert(s.end(), zero, zero + (rng() % 2 ? 3 : 2));
        }
    }
    if (rng() % 3 == 0)
        s.push_back(static_cast<unsigned char>(0x80 + rng() % 0x80));
    return s;
}

// Texts of a few hundred bytes, so that the block loops run many blocks before the careful tail, with
// every buffer size around the result.
TEST(FastTables, LongTextsAndMalformedCompUnicodeAsTheRecordLookups) {
    std::mt19937 rng(7);
    for (unsigned cp : {1252u, 942u, 850u, 949u}) {
        const Loaded l = load(cp);
        for (int round = 0; round < 12; ++round) {
            std::vector<unsigned char> comp = randomCompUnicode(rng, 64 + rng() % 400);
            Placed<unsigned char> compText(comp.data(), comp.size(), rng() % 16);
            const std::string label = std::to_string(comp.size());
            compareAllSizes(
                "from CompUnicode", cp, label,
                [&](bool fast, void* d, int room, int* used) {
                    auto* out = static_cast<unsigned char*>(d);
                    return fast ? fastCompUnicodeToCp(l.fast, compText.text, out, room, '*', used)
                                : tableCompUnicodeToCp(l.records, compText.text, out, room, '*', used);
                },
                1);

            std::string local;
            for (unsigned k = 2 + rng() % 6; k > 0; --k)
                local += randomLocal(l, rng);
            Placed<unsigned char> src(reinterpret_cast<const unsigned char*>(local.data()), local.size(),
                                      rng() % 16);
            compareAllSizes(
                "to CompUnicode", cp, std::to_string(local.size()),
                [&](bool fast, void* d, int room, int* used) {
                    auto* out = static_cast<unsigned char*>(d);
                    return fast ? fastCpToCompUnicode(l.fast, src.text, out, room, '*', used)
                                : tableCpToCompUnicode(l.records, src.text, out, room, '*', used);
                },
                1);
        }
    }
}

}  // namespace
