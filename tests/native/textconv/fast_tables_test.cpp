// The flat per-process tables and their block-wise conversions give exactly what the record-based
// reference conversions give: same result, same used-default flag, same bytes inside the buffer,
// nothing written past it, for random texts (ASCII runs, accented and double-byte characters,
// unmapped and malformed ones) and every buffer size around the result, on the shipped mapping files
// and on random synthetic images (codes of two bytes, ASCII that is not itself); texts that end just
// before an inaccessible page or run across a page boundary, read only as far as their page allows.
// The tables' memory comes from kvo::heap: each allocation failing gives no tables and no leak.
#include "cp_fast_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cp_image_builder.h"
#include "guard_page.h"
#include "heap_failure.h"

using namespace kvo::textconv;
using kvotest::ImageBuilder;

namespace {

struct Loaded {
    std::vector<unsigned char> image;
    CpRecords records;
    CpFastTables fast;
};

Loaded loadImage(std::vector<unsigned char> image, const std::string& what) {
    Loaded l;
    l.image = std::move(image);
    EXPECT_TRUE(parseCpImage(l.image.data(), l.image.size(), &l.records)) << what;
    EXPECT_TRUE(buildFastTables(l.records, &l.fast)) << what;
    return l;
}

Loaded load(unsigned cp) {
    return loadImage(kvotest::readMappingFile(cp), "CP" + std::to_string(cp));
}

// The first characters of local text, whole, at least length bytes of them.
std::string wholeCharacters(const Loaded& l, const std::string& text, size_t length) {
    size_t cut = 0;
    while (cut < length)
        cut += l.fast.lead[static_cast<unsigned char>(text[cut])] ? 2 : 1;
    return text.substr(0, cut);
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

// Runs check(label) with the block loops this processor takes (those that shuffle bytes where it has
// SSSE3), then, where those shuffle bytes, once more with the SSE2 ones.
template <class Check>
void withEachBlockLoop(Loaded& l, Check check) {
    const bool shuffles = l.fast.byteShuffles;
    check(shuffles ? " (SSSE3)" : " (SSE2)");
    if (shuffles && !::testing::Test::HasFatalFailure()) {
        l.fast.byteShuffles = false;
        check(" (SSE2)");
        l.fast.byteShuffles = true;
    }
}

// The size query, then every buffer size around the result (or, neededOnly, the size it gives).
template <class Convert>
void compareAllSizes(const char* what, const std::string& cp, const std::string& label, Convert convert,
                     size_t unit, bool neededOnly = false) {
    int refUsed = -1, fastUsed = -1;
    const int size = convert(false, nullptr, 0, &refUsed);
    ASSERT_EQ(convert(true, nullptr, 0, &fastUsed), size) << what << " " << cp << " size query " << label;
    ASSERT_EQ(fastUsed, refUsed) << what << " " << cp << " " << label;
    for (int room = neededOnly ? size : 0; room <= (neededOnly ? size : size + 2); ++room) {
        std::vector<unsigned char> a(room * unit + 8, 0xEE), b(room * unit + 8, 0xEE);
        ASSERT_EQ(convert(false, a.data(), room, &refUsed), size);
        ASSERT_EQ(convert(true, b.data(), room, &fastUsed), size) << what << " " << cp << " room " << room;
        ASSERT_EQ(fastUsed, refUsed) << what << " " << cp << " room " << room;
        const size_t differ =
            static_cast<size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
        ASSERT_EQ(a, b) << what << " " << cp << " room " << room << " text " << label << ": byte " << differ;
    }
}

// UTF-8 against decoding and the record lookups, a malformed sequence being one unmapped character: the
// count, and the conversion into exactly that.
void compareUtf8(const Loaded& l, const std::string& cp, const std::string& label, const unsigned char* bytes,
                 size_t length, unsigned shift) {
    Placed<unsigned char> utf8Text(bytes, length, shift);
    const auto reference = [&](unsigned char* out, unsigned room) {
        detail::CpByteWriter w{out, room, 0, defaultByte('*')};
        for (const unsigned char* p = utf8Text.text; *p;) {
            uint16_t u;
            bool bad;
            p += decodeUtf8(p, &u, &bad);
            w.put(bad ? kNoMapping : cpUnicodeToCp(l.records, u));
        }
        return w.finish(nullptr);
    };
    const int refSize = reference(nullptr, 0);
    std::vector<unsigned char> ref(refSize), out(refSize);
    reference(ref.data(), static_cast<unsigned>(refSize));
    ASSERT_EQ(fastUtf8ToCp(l.fast, utf8Text.text, nullptr, '*'), static_cast<size_t>(refSize))
        << cp << " UTF-8 count " << label << "@" << shift;
    ASSERT_EQ(fastUtf8ToCp(l.fast, utf8Text.text, out.data(), '*'), static_cast<size_t>(refSize)) << cp;
    const size_t differ =
        static_cast<size_t>(std::mismatch(ref.begin(), ref.end(), out.begin()).first - ref.begin());
    ASSERT_EQ(out, ref) << cp << " UTF-8 " << label << "@" << shift << ": byte " << differ;
}

// Every fast conversion of a local text, its Unicode units (plus an unmapped unit and a lone
// surrogate now and then), their CompUnicode (sometimes cut inside a unit) and their UTF-8 (sometimes
// with a malformed tail) against the reference.
void compareEveryConversion(const Loaded& l, const std::string& cp, const std::string& local,
                            std::mt19937& rng) {
    const unsigned shift = rng() % 16;
    Placed<unsigned char> src(reinterpret_cast<const unsigned char*>(local.data()), local.size(), shift);
    const std::string label = std::to_string(local.size()) + "@" + std::to_string(shift);

    compareAllSizes(
        "to Unicode", cp, label,
        [&](bool fast, void* d, int room, int* used) {
            return fast ? fastCpToUnicode(l.fast, src.text, static_cast<char16_t*>(d), room, '*', used)
                        : tableCpToUnicode(l.records, src.text, static_cast<char16_t*>(d), room, '*', used);
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

    std::vector<char16_t> units(local.size() + 8);
    const int n =
        tableCpToUnicode(l.records, src.text, units.data(), static_cast<int>(units.size()), 0x4E2D, nullptr);
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

    std::vector<unsigned char> comp(units.size() * 3 + 1);
    encodeCompUnicodeText(wide.text, comp.data());
    size_t compLength = std::strlen(reinterpret_cast<char*>(comp.data()));
    if (compLength > 1 && rng() % 4 == 0 && (comp[compLength - 1] & 0x80) == 0 &&
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

    std::vector<unsigned char> utf8(units.size() * 3 + 4);
    encodeUtf8Text(wide.text, utf8.data());
    size_t utf8Length = std::strlen(reinterpret_cast<char*>(utf8.data()));
    if (rng() % 3 == 0)
        utf8[utf8Length++] = 0xC3;
    utf8[utf8Length] = 0;
    compareUtf8(l, cp, label, utf8.data(), utf8Length, rng() % 16);
}

TEST(FastTables, SameResultsAsTheRecordLookups) {
    std::mt19937 rng(99);
    for (unsigned cp : {1252u, 942u, 37u, 949u, 1381u, 850u}) {
        Loaded l = load(cp);
        for (int round = 0; round < 60; ++round) {
            const std::string local = randomLocal(l, rng);
            withEachBlockLoop(l, [&](const char* loops) {
                compareEveryConversion(l, "CP" + std::to_string(cp) + loops, local, rng);
            });
            if (HasFatalFailure())
                return;
        }
    }
}

// A random unit for a synthetic table: never 0 (it would end the text), sometimes unmapped.
uint16_t randomUnit(std::mt19937& rng) {
    return rng() % 8 == 0 ? kNoMapping : static_cast<uint16_t>(1 + rng() % 0xFFFE);
}

// A random code for a synthetic table: one byte, or two (a lead byte of the synthetic tables, 0x81 to
// 0x84, and a trail byte that is not 0), or none.
uint16_t randomCode(std::mt19937& rng, bool wide) {
    if (rng() % 8 == 0)
        return kNoMapping;
    if (wide && rng() % 2)
        return static_cast<uint16_t>(((0x81 + rng() % 4) << 8) | (0x40 + rng() % 0xBF));
    return static_cast<uint16_t>(0x80 + rng() % 0x80);
}

ImageBuilder::Record randomRecord(std::mt19937& rng, unsigned lo, unsigned hi, bool codes, bool wide) {
    ImageBuilder::Record r = {static_cast<unsigned char>(lo), static_cast<unsigned char>(hi), 0, 0};
    for (unsigned x = lo; x <= hi; ++x) {
        const uint16_t v = codes ? randomCode(rng, wide) : randomUnit(rng);
        r.push_back(static_cast<unsigned char>(v & 0xFF));
        r.push_back(static_cast<unsigned char>(v >> 8));
    }
    return r;
}

// A random image: ASCII mapping to itself (or, now and then, not), upper single bytes and from-Unicode
// pages with random values, lead bytes or none, and codes of two bytes whether there are lead bytes or
// not (without lead bytes such codes could not be read back: the validation rejects the image). From
// identityFrom (0x80 to 0x100) upper single bytes map to the units of their values and back, as Latin-1 does
// in 1252.
std::vector<unsigned char> randomImage(std::mt19937& rng, bool leadBytes, bool wideCodes, bool asciiItself,
                                       unsigned identityFrom = 0x100) {
    ImageBuilder b;
    ImageBuilder::Record single = ImageBuilder::run(0x01, 0x7F, asciiItself ? 0x0001 : 0x0002);
    single[2] = 0x80;  // a second range: a table for 0x80..0xFF
    single[3] = 0xFF;
    for (unsigned x = 0x80; x <= 0xFF; ++x) {
        const uint16_t v = x >= identityFrom ? static_cast<uint16_t>(x) : randomUnit(rng);
        single.push_back(static_cast<unsigned char>(v & 0xFF));
        single.push_back(static_cast<unsigned char>(v >> 8));
    }
    b.toUnicode(0, single);
    if (leadBytes) {
        for (unsigned lead = 0x81; lead <= 0x84; ++lead)
            b.toUnicode(lead, randomRecord(rng, 0x40, 0xFE, false, false));
    }
    ImageBuilder::Record page0 = ImageBuilder::run(0x01, 0x7F, 0x0001);
    page0[2] = 0x80;
    page0[3] = 0xFF;
    for (unsigned x = 0x80; x <= 0xFF; ++x) {
        const uint16_t v = x >= identityFrom ? static_cast<uint16_t>(x) : randomCode(rng, wideCodes);
        page0.push_back(static_cast<unsigned char>(v & 0xFF));
        page0.push_back(static_cast<unsigned char>(v >> 8));
    }
    b.fromUnicode(0x00, page0);
    for (unsigned high : {0x01u, 0x20u, 0x30u, 0x4Eu, 0xFFu})
        b.fromUnicode(high, randomRecord(rng, 0x00, 0xFF, true, wideCodes));
    return b.build();
}

// Random Unicode-bound local text for a synthetic image: ASCII runs with single upper bytes among
// them, and double-byte characters where the image has lead bytes.
std::string syntheticLocal(std::mt19937& rng, bool leadBytes, size_t length) {
    std::string s;
    while (s.size() < length) {
        for (unsigned k = rng() % 24; k > 0; --k)
            s.push_back(static_cast<char>(0x20 + rng() % 0x5F));
        if (leadBytes && rng() % 2) {
            s.push_back(static_cast<char>(0x81 + rng() % 4));
            s.push_back(static_cast<char>(0x40 + rng() % 0xBF));
        } else {
            s.push_back(static_cast<char>(0x80 + rng() % 0x80));
        }
    }
    return s;
}

TEST(FastTables, SyntheticImagesGiveWhatTheRecordLookupsGive) {
    std::mt19937 rng(2024);
    for (int image = 0; image < 32; ++image) {
        const bool leadBytes = image % 4 == 1;
        const bool wideCodes = image % 2 == 0;  // among them images without lead bytes but with wide codes
        const bool asciiItself = image % 8 != 7;
        // Half of them with upper bytes that stand for themselves from a random byte on.
        const unsigned identityFrom = image % 4 >= 2 ? 0x80 + rng() % 0x81 : 0x100;
        std::string what = "synthetic ";
        what += std::to_string(image);
        what += leadBytes ? " lead bytes" : "";
        what += wideCodes ? " wide codes" : "";
        what += asciiItself ? "" : " shifted ASCII";
        what += " identity from ";
        what += std::to_string(identityFrom);
        std::vector<unsigned char> bytes = randomImage(rng, leadBytes, wideCodes, asciiItself, identityFrom);
        if (wideCodes && !leadBytes) {
            // A code of two bytes whose first is no lead byte would come back as two characters.
            CpRecords records;
            EXPECT_FALSE(parseCpImage(bytes.data(), bytes.size(), &records)) << what;
            continue;
        }
        Loaded l = loadImage(std::move(bytes), what);
        ASSERT_FALSE(HasFatalFailure());
        for (int round = 0; round < 8; ++round) {
            const std::string local = syntheticLocal(rng, leadBytes, 40 + rng() % 300);
            withEachBlockLoop(
                l, [&](const char* loops) { compareEveryConversion(l, what + loops, local, rng); });
            if (HasFatalFailure())
                return;
        }
    }
}

// Long Western text whose non-ASCII characters are spread evenly (about one byte in thirty, at random
// positions, never two adjacent), the text the block loops handle without leaving the block: each
// conversion against the record lookups at every buffer size, on the shipped single-byte tables and
// on the double-byte 942 (whose lead bytes then come as double-byte characters).
TEST(FastTables, EvenlySpreadNonAsciiAsTheRecordLookups) {
    std::mt19937 rng(30);
    for (unsigned cp : {1252u, 819u, 850u, 37u, 942u}) {
        Loaded l = load(cp);
        for (int round = 0; round < 6; ++round) {
            std::string local;
            const size_t length = 200 + rng() % 500;
            bool previous = false;
            while (local.size() < length) {
                if (!previous && rng() % 30 == 0) {
                    const unsigned b = 0x80 + rng() % 0x80;
                    local.push_back(static_cast<char>(b));
                    if (l.fast.lead[b])
                        local.push_back(static_cast<char>(0x40 + rng() % 0xBF));
                    previous = true;
                } else {
                    local.push_back(static_cast<char>(rng() % 6 == 0 ? ' ' : 'a' + rng() % 26));
                    previous = false;
                }
            }
            withEachBlockLoop(l, [&](const char* loops) {
                compareEveryConversion(l, "CP" + std::to_string(cp) + " spread" + loops, local, rng);
            });
            if (HasFatalFailure())
                return;
        }
    }
}

// Double-byte prose of every length up to 300 bytes (the lean loops run groups of 16 characters and of
// 8 units, CompUnicode blocks of 32 bytes and batches of 64 units: every length ends them at another
// place): kana and kanji as the tables map them, ASCII runs, now and then a character without a
// mapping; every conversion at every buffer size, with each kind of block loop.
TEST(FastTables, DoubleByteProseOfEveryLengthAsTheRecordLookups) {
    std::mt19937 rng(932);
    for (unsigned cp : {942u, 949u, 950u}) {
        Loaded l = load(cp);
        std::string prose;
        while (prose.size() < 320) {
            const unsigned kind = rng() % 10;
            uint16_t u = 0;
            if (kind < 2) {
                prose.append(1 + rng() % 6, static_cast<char>('a' + rng() % 26));
                continue;
            }
            if (kind < 5)
                u = static_cast<uint16_t>(0x3041 + rng() % 0xBE);  // kana: CompUnicode of two bytes
            else if (kind < 9)
                u = static_cast<uint16_t>(0x4E00 + rng() % 0x5000);  // kanji and hangul: of three
            else
                u = static_cast<uint16_t>(0xAC00 + rng() % 0x2000);
            const uint16_t code = cpUnicodeToCp(l.records, u);
            if (code == kNoMapping) {
                if (rng() % 4 == 0 && l.fast.lead[0x81])
                    prose += "\x81\x30";  // a lead byte and a trail byte without a mapping, in most tables
                continue;
            }
            if (code >= 0x100)
                prose.push_back(static_cast<char>(code >> 8));
            prose.push_back(static_cast<char>(code & 0xFF));
        }
        for (size_t length = 0; length <= 300; length += 1 + length / 40) {
            const std::string local = wholeCharacters(l, prose, length);
            withEachBlockLoop(l, [&](const char* loops) {
                compareEveryConversion(l, "CP" + std::to_string(cp) + " prose" + loops, local, rng);
            });
            if (HasFatalFailure())
                return;
        }
    }
}

// The Unicode texts that meet the codes of two bytes in the middle of blocks: units of the synthetic
// pages among ASCII, in every alignment.
TEST(FastTables, WideCodesInsideBlocks) {
    std::mt19937 rng(5);
    const Loaded l = loadImage(randomImage(rng, true, true, true), "lead bytes, wide codes");
    ASSERT_FALSE(l.fast.narrowCodes);
    for (int round = 0; round < 40; ++round) {
        std::u16string units;
        for (size_t length = 16 + rng() % 100; units.size() < length;) {
            for (unsigned k = rng() % 12; k > 0; --k)
                units.push_back(static_cast<char16_t>(0x20 + rng() % 0x5F));
            const unsigned high[] = {0x00, 0x01, 0x20, 0x30, 0x4E, 0xFF};
            units.push_back(static_cast<char16_t>((high[rng() % 6] << 8) | (0x80 + rng() % 0x80)));
        }
        Placed<char16_t> wide(units.data(), units.size(), rng() % 8);
        compareAllSizes(
            "from Unicode", "wide codes", std::to_string(round),
            [&](bool fast, void* d, int room, int* used) {
                auto* out = static_cast<unsigned char*>(d);
                return fast ? fastUnicodeToCp(l.fast, wide.text, out, room, '*', used)
                            : tableUnicodeToCp(l.records, wide.text, out, room, '*', used);
            },
            1);
        if (HasFatalFailure())
            return;
    }
}

// Units whose codes are seven of two bytes and one of one byte, again and again: at some buffer size a
// group of 8 ends one byte before the end of a buffer too small for the text, with a code of one byte
// (stored with the byte after it) and a code of two bytes next, which does not fit: the byte after the
// code of one byte stays as it was (the record lookups write nothing there).
TEST(FastTables, TooSmallBufferAfterAGroupOfCodesAsTheRecordLookups) {
    for (unsigned cp : {942u, 949u, 950u}) {
        const Loaded l = load(cp);
        std::u16string units;
        for (char16_t u = 0x4E00; units.size() < 60; ++u) {
            const uint16_t code = cpUnicodeToCp(l.records, u);
            if (code != kNoMapping && code >= 0x100)
                units.push_back(u);
            if (units.size() % 8 == 7)
                units.push_back(u'a');
        }
        for (unsigned shift = 0; shift < 8; ++shift) {
            Placed<char16_t> wide(units.data(), units.size(), shift);
            compareAllSizes(
                "from Unicode", "CP" + std::to_string(cp), std::to_string(shift),
                [&](bool fast, void* d, int room, int* used) {
                    auto* out = static_cast<unsigned char*>(d);
                    return fast ? fastUnicodeToCp(l.fast, wide.text, out, room, '*', used)
                                : tableUnicodeToCp(l.records, wide.text, out, room, '*', used);
                },
                1);
            if (HasFatalFailure())
                return;
        }
    }
}

// Each allocation of the tables failing gives false and empty tables (AddressSanitizer would report
// what a failed build leaked).
TEST(FastTables, AllocationFailureGivesNoTables) {
    const std::vector<unsigned char> image = kvotest::readMappingFile(942);
    CpRecords records;
    ASSERT_TRUE(parseCpImage(image.data(), image.size(), &records));
    const int allocations = kvotest::forEachFailingAllocation([&](int n) {
        CpFastTables fast;
        const bool built = buildFastTables(records, &fast);
        if (n <= 6) {
            EXPECT_FALSE(built) << "allocation " << n;
            EXPECT_TRUE(fast.pages == nullptr && fast.compPages == nullptr && fast.compUnitPage == nullptr &&
                        fast.storedCodes == nullptr && fast.compStoredCodes == nullptr &&
                        fast.pairUnits == nullptr);
        } else {
            EXPECT_TRUE(built);
        }
    });
    EXPECT_EQ(allocations, 6);  // the stored codes and pair units too: 942 has codes of two bytes
}

// Random CompUnicode bytes: ASCII runs, well-formed units of two and three bytes (the upper half of
// Latin-1 among them), and malformed ones (runs of bytes with bit 7 set, a unit that decodes to 0, a
// unit cut by the terminator).
std::vector<unsigned char> randomCompUnicode(std::mt19937& rng, size_t length) {
    std::vector<unsigned char> s;
    while (s.size() < length) {
        const unsigned kind = rng() % 14;
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
        } else if (kind < 12) {
            const int n = encodeCompUnicode(static_cast<uint16_t>(0x80 + rng() % 0x80), bytes);
            s.insert(s.end(), bytes, bytes + n);
        } else if (kind == 12) {
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
    for (unsigned cp : {1252u, 942u, 850u, 949u, 819u}) {
        Loaded l = load(cp);
        for (int round = 0; round < 12; ++round) {
            std::vector<unsigned char> comp = randomCompUnicode(rng, 64 + rng() % 400);
            Placed<unsigned char> compText(comp.data(), comp.size(), rng() % 16);
            std::string local;
            for (unsigned k = 2 + rng() % 6; k > 0; --k)
                local += randomLocal(l, rng);
            Placed<unsigned char> src(reinterpret_cast<const unsigned char*>(local.data()), local.size(),
                                      rng() % 16);
            withEachBlockLoop(l, [&](const char* loops) {
                compareAllSizes(
                    "from CompUnicode", "CP" + std::to_string(cp) + loops, std::to_string(comp.size()),
                    [&](bool fast, void* d, int room, int* used) {
                        auto* out = static_cast<unsigned char*>(d);
                        return fast ? fastCompUnicodeToCp(l.fast, compText.text, out, room, '*', used)
                                    : tableCompUnicodeToCp(l.records, compText.text, out, room, '*', used);
                    },
                    1);
                if (HasFatalFailure())
                    return;
                compareAllSizes(
                    "to CompUnicode", "CP" + std::to_string(cp) + loops, std::to_string(local.size()),
                    [&](bool fast, void* d, int room, int* used) {
                        auto* out = static_cast<unsigned char*>(d);
                        return fast ? fastCpToCompUnicode(l.fast, src.text, out, room, '*', used)
                                    : tableCpToCompUnicode(l.records, src.text, out, room, '*', used);
                    },
                    1);
            });
            if (HasFatalFailure())
                return;
        }
    }
}

// Western prose: ASCII words with accented letters, now and then two or three in a row, and the bytes
// of a single-byte table's other non-ASCII characters (0x80 to 0x9F: the euro sign in 1252).
std::string westernProse(std::mt19937& rng, size_t length) {
    std::string s;
    while (s.size() < length) {
        for (unsigned k = 1 + rng() % 12; k > 0; --k)
            s.push_back(static_cast<char>('a' + rng() % 26));
        const unsigned kind = rng() % 8;
        if (kind < 3)
            s.push_back(static_cast<char>(0xC0 + rng() % 0x40));
        else if (kind == 3)
            s.append(2 + rng() % 2, static_cast<char>(0xE0 + rng() % 0x20));
        else if (kind == 4)
            s.push_back(static_cast<char>(0x80 + rng() % 0x20));
        s.push_back(rng() % 5 == 0 ? '.' : ' ');
    }
    return s;
}

// Prose in the single-byte tables, long enough for many blocks: every conversion at every buffer size.
TEST(FastTables, WesternProseAsTheRecordLookups) {
    std::mt19937 rng(1252);
    for (unsigned cp : {1252u, 819u, 850u}) {
        Loaded l = load(cp);
        for (int round = 0; round < 5; ++round) {
            const std::string local = westernProse(rng, 300 + rng() % 400);
            withEachBlockLoop(l, [&](const char* loops) {
                compareEveryConversion(l, "CP" + std::to_string(cp) + " prose" + loops, local, rng);
            });
            if (HasFatalFailure())
                return;
        }
    }
}

// UTF-8 of a few hundred bytes with malformed and unusual sequences among ASCII runs and Latin-1 letters,
// placed anywhere in the blocks: stray and surplus continuation bytes, sequences cut short, overlong
// forms, lead bytes from 0xF0 with up to four continuation bytes, encoded surrogates.
TEST(FastTables, Utf8WithMalformedSequencesInsideBlocks) {
    static const char* const kPieces[] = {
        "\xA9",
        "\xC3",
        "\xC3\xA9",
        "\xC2\x80",
        "\xC3\xA9\xA9",
        "\xC0\xAF",
        "\xC1\x9C",
        "\xE0\x80\xAF",
        "\xE0\x9F\xBF",
        "\xE0\xA0\x80",
        "\xE2\x82\xAC",
        "\xE4\xB8",
        "\xE4",
        "\xE4\xB8\xAD\xAD",
        "\xED\xA0\x80",
        "\xF0\x9F\x98\x80",
        "\xF0\x80\x80\x80\x80",
        "\xF0\x80",
        "\xF8",
        "\xFF\xA9\xA9",
    };
    std::mt19937 rng(8);
    for (unsigned cp : {1252u, 819u, 850u, 37u, 942u}) {
        Loaded l = load(cp);
        for (int round = 0; round < 40; ++round) {
            std::string text;
            for (size_t length = 100 + rng() % 500; text.size() < length;) {
                const unsigned kind = rng() % 4;
                if (kind == 0)
                    text += kPieces[rng() % (sizeof(kPieces) / sizeof(kPieces[0]))];
                else if (kind == 1)
                    text += rng() % 2 ? "\xC3\xA9" : "\xC3\xBC";
                else
                    text.append(1 + rng() % 40, static_cast<char>('a' + rng() % 26));
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
            const unsigned shift = rng() % 16;
            withEachBlockLoop(l, [&](const char* loops) {
                compareUtf8(l, "CP" + std::to_string(cp) + loops, std::to_string(round), bytes, text.size(),
                            shift);
            });
            if (HasFatalFailure())
                return;
        }
    }
}

// Every conversion of the text against the reference with a buffer of the needed size and as a size
// query, the text (its local bytes, units, CompUnicode and UTF-8) placed by where.
template <class Where>
void compareAt(const Loaded& l, const std::string& what, const std::string& local, Where where) {
    const auto check = [&](const char* name, auto convert, size_t unit) {
        compareAllSizes(name, what, "", convert, unit, true);
    };
    const unsigned char* src = where(reinterpret_cast<const unsigned char*>(local.data()), local.size());
    check(
        "to Unicode",
        [&](bool fast, void* d, int room, int* used) {
            auto* out = static_cast<char16_t*>(d);
            return fast ? fastCpToUnicode(l.fast, src, out, room, '*', used)
                        : tableCpToUnicode(l.records, src, out, room, '*', used);
        },
        2);
    check(
        "to CompUnicode",
        [&](bool fast, void* d, int room, int* used) {
            auto* out = static_cast<unsigned char*>(d);
            return fast ? fastCpToCompUnicode(l.fast, src, out, room, '*', used)
                        : tableCpToCompUnicode(l.records, src, out, room, '*', used);
        },
        1);
    std::vector<char16_t> units(local.size() + 1);
    units.resize(
        tableCpToUnicode(l.records, src, units.data(), static_cast<int>(units.size()), '*', nullptr) - 1);
    std::vector<unsigned char> comp(units.size() * 3 + 1), utf8(units.size() * 3 + 1);
    units.push_back(0);
    encodeCompUnicodeText(units.data(), comp.data());
    encodeUtf8Text(units.data(), utf8.data());
    units.pop_back();
    const char16_t* wide = where(units.data(), units.size());
    check(
        "from Unicode",
        [&](bool fast, void* d, int room, int* used) {
            auto* out = static_cast<unsigned char*>(d);
            return fast ? fastUnicodeToCp(l.fast, wide, out, room, '*', used)
                        : tableUnicodeToCp(l.records, wide, out, room, '*', used);
        },
        1);
    const unsigned char* compText = where(comp.data(), std::strlen(reinterpret_cast<char*>(comp.data())));
    check(
        "from CompUnicode",
        [&](bool fast, void* d, int room, int* used) {
            auto* out = static_cast<unsigned char*>(d);
            return fast ? fastCompUnicodeToCp(l.fast, compText, out, room, '*', used)
                        : tableCompUnicodeToCp(l.records, compText, out, room, '*', used);
        },
        1);
    const size_t utf8Length = std::strlen(reinterpret_cast<char*>(utf8.data()));
    const unsigned char* utf8Text = where(utf8.data(), utf8Length);
    std::vector<unsigned char> expected(utf8Length + 2), got(utf8Length + 2);
    const size_t count = fastUtf8ToCp(l.fast, utf8Text, nullptr, '*');
    ASSERT_LE(count, got.size()) << "from UTF-8 " << what;
    ASSERT_EQ(fastUtf8ToCp(l.fast, utf8Text, got.data(), '*'), count) << "from UTF-8 " << what;
    ASSERT_EQ(count, local.size() + 1) << "from UTF-8 " << what;  // mapped both ways
    ASSERT_EQ(std::memcmp(got.data(), local.c_str(), count), 0) << "from UTF-8 " << what;
}

// Texts of every length up to 80 whose terminator lies in the last 64 bytes before an inaccessible page
// (the fast conversions read whole blocks, and groups of characters, where they lie in the text's
// page), and texts that run across a page boundary from each of the 48 bytes before it: as the record
// lookups, and no fault. The upper characters one at a time among ASCII, and in runs (Japanese).
TEST(FastTables, TextsAtPageEndsAsTheRecordLookups) {
    const kvotest::GuardPage pages(2);
    ASSERT_TRUE(pages.ok());
    std::mt19937 rng(4096);
    for (const auto& [cp, run] : {std::pair{1252u, 1u}, {942u, 1u}, {942u, 16u}}) {
        Loaded l = load(cp);
        // Mapped characters only, so that UTF-8 converts back to the same bytes; runs from the start.
        std::string prose;
        while (prose.size() < 200) {
            for (unsigned k = prose.empty() && run > 1 ? 0 : rng() % 12; k > 0; --k)
                prose.push_back(static_cast<char>(0x20 + rng() % 0x5F));
            for (unsigned k = 1 + rng() % run; k > 0; --k) {
                const uint16_t upper = cp == 942 ? 0x3042 + rng() % 80 : 0xE0 + rng() % 0x20;
                unsigned char code[2];
                const uint16_t c = cpUnicodeToCp(l.records, upper);
                if (c == kNoMapping)
                    continue;
                code[0] = static_cast<unsigned char>(c >= 0x100 ? c >> 8 : c);
                code[1] = static_cast<unsigned char>(c & 0xFF);
                prose.append(reinterpret_cast<char*>(code), c >= 0x100 ? 2 : 1);
            }
        }
        for (size_t length = 0; length <= 80; ++length) {
            const std::string text = wholeCharacters(l, prose, length);
            for (size_t back = 0; back < 64; back += 1 + (length % 3)) {
                compareAt(l,
                          "CP" + std::to_string(cp) + " " + std::to_string(text.size()) + " bytes ending " +
                              std::to_string(back) + " before the page end",
                          text, [&](const auto* s, size_t n) {
                              return pages.placeBefore(s, n, back * sizeof(*s), 'a');
                          });
                if (HasFatalFailure())
                    return;
            }
        }
        for (size_t before = 1; before <= 48; ++before) {
            const std::string text = wholeCharacters(l, prose, 100 + before % 7);
            // The text starts `before` elements before the second readable page.
            compareAt(l, "CP" + std::to_string(cp) + " across a page boundary from " + std::to_string(before),
                      text, [&](const auto* s, size_t n) {
                          return pages.placeBefore(
                              s, n, pages.pageSize() + before * sizeof(*s) - (n + 1) * sizeof(*s), 0);
                      });
            if (HasFatalFailure())
                return;
        }
    }
}

}  // namespace
