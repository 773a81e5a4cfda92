// Record lookups, image validation (hostile and truncated images) and the generated mapping files.
#include "cp_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cp_image_builder.h"

using namespace kvo::textconv;
using kvotest::ImageBuilder;
using kvotest::readMappingFile;

namespace {

TEST(CpRecord, TableCoversItsBoundsOnly) {
    ImageBuilder::Record r = ImageBuilder::table(0x41, 0x5A, 0x1000);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x41), 0x1000);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x5A), 0x1019);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x5B), kNoMapping);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x40), kNoMapping);
    EXPECT_EQ(cpRecordSize(r.data()), 4u + 2 * 26);
}

TEST(CpRecord, RunMapsEveryByteOfItsRange) {
    const std::vector<unsigned char> r = {0x7F, 0x20, 0, 0, 0x20, 0x00};
    for (unsigned x = 0x20; x <= 0x7F; ++x)
        EXPECT_EQ(cpRecordLookup(r.data(), x), x);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x1F), kNoMapping);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x80), kNoMapping);
    EXPECT_EQ(cpRecordSize(r.data()), 6u);
}

TEST(CpRecord, SecondRangeRunTakesTheValueAfterTheFirstRangesValues) {
    // First range: a table of 3 values for 0x10..0x12; second: a run for 0xA1..0xFE from 0x3000.
    const std::vector<unsigned char> r = {0x10, 0x12, 0xFE, 0xA1, 0x01, 0x01,
                                          0x02, 0x01, 0x03, 0x01, 0x00, 0x30};
    EXPECT_EQ(cpRecordSize(r.data()), 12u);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x10), 0x0101);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x12), 0x0103);
    EXPECT_EQ(cpRecordLookup(r.data(), 0xA1), 0x3000);
    EXPECT_EQ(cpRecordLookup(r.data(), 0xFE), 0x305D);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x13), kNoMapping);
    EXPECT_EQ(cpRecordLookup(r.data(), 0xA0), kNoMapping);
    EXPECT_EQ(cpRecordLookup(r.data(), 0xFF), kNoMapping);
}

TEST(CpRecord, SecondRangeTableFollowsTheFirstRunsValue) {
    const std::vector<unsigned char> r = {0x30, 0x20, 0x40, 0x41, 0x00, 0x10, 0x34, 0x12, 0x78, 0x56};
    EXPECT_EQ(cpRecordLookup(r.data(), 0x25), 0x1005);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x40), 0x1234);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x41), 0x5678);
    EXPECT_EQ(cpRecordLookup(r.data(), 0x42), kNoMapping);
}

TEST(CpImage, LeadBytesTakeTwoBytesAndEntryZeroIsSingleBytes) {
    ImageBuilder b;
    b.toUnicode(0, ImageBuilder::run(0x01, 0x7F, 0x0001));
    b.toUnicode(0x81, ImageBuilder::table(0x40, 0x41, 0x3000));
    b.fromUnicode(0x00, ImageBuilder::run(0x01, 0x7F, 0x0001));
    b.fromUnicode(0x30, ImageBuilder::table(0x00, 0x01, 0x8140));
    std::vector<unsigned char> image = b.build();
    CpRecords t;
    ASSERT_TRUE(parseCpImage(image.data(), image.size(), &t));
    EXPECT_EQ(t.toUnicodeCount, 0x82u);
    EXPECT_EQ(t.fromUnicodeCount, 0x31u);
    int dbcs = -1;
    const unsigned char lead[] = {0x81, 0x41, 0};
    EXPECT_EQ(cpToUnicode(t, lead, &dbcs), 0x3001);
    EXPECT_EQ(dbcs, 1);
    const unsigned char single[] = {0x41, 0};
    EXPECT_EQ(cpToUnicode(t, single, &dbcs), 0x41);
    EXPECT_EQ(dbcs, 0);
    const unsigned char cut[] = {0x81, 0};
    EXPECT_EQ(cpToUnicode(t, cut, &dbcs), kNoMapping);
    EXPECT_EQ(dbcs, 0) << "a lead byte before the terminator must not consume it";
    const unsigned char unmappedSingle[] = {0x90, 0};
    EXPECT_EQ(cpToUnicode(t, unmappedSingle, &dbcs), kNoMapping);
    EXPECT_EQ(cpUnicodeToCp(t, 0x3001), 0x8141);
    EXPECT_EQ(cpUnicodeToCp(t, 0x3002), kNoMapping);
    EXPECT_EQ(cpUnicodeToCp(t, 0x3100), kNoMapping);
    EXPECT_EQ(cpUnicodeToCp(t, 0x0041), 0x41);
}

// Images that must be rejected: each breaks one rule of the format or would let a lookup leave it.
TEST(CpImage, RejectsInconsistentImages) {
    ImageBuilder b;
    b.toUnicode(0, ImageBuilder::run(0x01, 0x7F, 0x0001));
    b.fromUnicode(0x00, ImageBuilder::run(0x01, 0x7F, 0x0001));
    const std::vector<unsigned char> good = b.build();
    CpRecords t;
    ASSERT_TRUE(parseCpImage(good.data(), good.size(), &t));

    auto put32 = [](std::vector<unsigned char>& v, size_t at, uint32_t x) {
        for (int k = 0; k < 4; ++k)
            v[at + k] = static_cast<unsigned char>(x >> (8 * k));
    };
    const struct {
        const char* what;
        std::function<void(std::vector<unsigned char>&)> damage;
    } cases[] = {
        {"size field beyond the image", [&](auto& v) { put32(v, 0, static_cast<uint32_t>(v.size() + 1)); }},
        {"size field below the header", [&](auto& v) { put32(v, 0, 79); }},
        {"size field beyond the section", [&](auto& v) { put32(v, 0, 0x40001); }},
        {"to-Unicode offset beyond the image", [&](auto& v) { put32(v, 8, 0x7FFFFFFF); }},
        {"to-Unicode offset inside the header", [&](auto& v) { put32(v, 8, 16); }},
        {"from-Unicode offset at the very end",
         [&](auto& v) { put32(v, 12, static_cast<uint32_t>(v.size() - 2)); }},
        {"bitmap announces records that are not there", [&](auto& v) { v[16 + 31] = 0xFF; }},
        {"from bitmap announces records that are not there", [&](auto& v) { v[48 + 20] = 0x01; }},
        {"record longer than the image",
         [&](auto& v) {
             v.resize(v.size() - 1);
             put32(v, 0, uint32_t(v.size()));
         }},
        {"a byte mapping to U+0000", [&](auto& v) { v[good.size() - 8] = 0x00; }},
        {"a double-byte code whose first byte is no lead byte", [&](auto& v) { v[good.size() - 1] = 0x41; }},
        {"truncated to its header", [&](auto& v) { v.resize(80); }},
        {"shorter than a header", [&](auto& v) { v.resize(40); }},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> bad = good;
        c.damage(bad);
        EXPECT_FALSE(parseCpImage(bad.data(), bad.size(), &t)) << c.what;
    }
}

// Damaged copies of a real file: whatever is accepted must be readable throughout without leaving
// the image (AddressSanitizer watches every lookup; the buffers are exactly sized).
TEST(CpImage, RandomlyDamagedFilesNeverLeadOutOfBounds) {
    const std::vector<unsigned char> original = readMappingFile(942);
    ASSERT_FALSE(original.empty());
    std::mt19937 rng(1234);
    unsigned accepted = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<unsigned char> v = original;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i) {
            const size_t at = rng() % (rng() % 2 ? 96 : v.size());
            v[at] = static_cast<unsigned char>(rng());
        }
        if (rng() % 4 == 0)
            v.resize(rng() % v.size());
        std::vector<unsigned char> exact(v);  // its own allocation of exactly v.size() bytes
        CpRecords t;
        if (!parseCpImage(exact.data(), exact.size(), &t))
            continue;
        ++accepted;
        unsigned char text[3] = {0, 0, 0};
        for (unsigned code = 1; code < 0x10000; code += 7) {
            text[0] = static_cast<unsigned char>(code >> 8 ? code >> 8 : code);
            text[1] = static_cast<unsigned char>(code & 0xFF);
            int dbcs;
            (void)cpToUnicode(t, text, &dbcs);
            (void)cpUnicodeToCp(t, static_cast<uint16_t>(code));
        }
    }
    EXPECT_GT(accepted, 0u) << "damage in unused bytes should still be accepted";
}

struct Expected {
    unsigned codePage;
    std::vector<unsigned char> bytes;
    uint16_t unit;
};

TEST(MappingFiles, AreValidAndMapKnownCharacters) {
    const Expected cases[] = {
        {1252, {0xE9}, 0x00E9},      {1252, {0x80}, 0x20AC},       {1252, {0x41}, 0x0041},
        {819, {0xE9}, 0x00E9},       {819, {0x80}, 0x0080},        {37, {0xC1}, 0x0041},
        {37, {0x40}, 0x0020},        {37, {0xF0}, 0x0030},         {850, {0x82}, 0x00E9},
        {850, {0xB0}, 0x2591},       {942, {0x82, 0xA0}, 0x3042},  {942, {0x5C}, 0x005C},
        {942, {0xB1}, 0xFF71},       {942, {0x93, 0xFA}, 0x65E5},  {949, {0xB0, 0xA1}, 0xAC00},
        {950, {0xA4, 0x40}, 0x4E00}, {1381, {0xB0, 0xA1}, 0x554A}, {946, {0x81, 0x40}, 0x4E02},
        {946, {0xB0, 0xA1}, 0x554A},
    };
    for (const Expected& e : cases) {
        const std::vector<unsigned char> image = readMappingFile(e.codePage);
        ASSERT_FALSE(image.empty()) << e.codePage;
        ASSERT_LE(image.size(), kCpImageMaxSize);
        CpRecords t;
        ASSERT_TRUE(parseCpImage(image.data(), image.size(), &t)) << e.codePage;
        std::vector<unsigned char> text = e.bytes;
        text.push_back(0);
        int dbcs = -1;
        EXPECT_EQ(cpToUnicode(t, text.data(), &dbcs), e.unit) << e.codePage;
        EXPECT_EQ(dbcs, e.bytes.size() == 2 ? 1 : 0) << e.codePage;
        const uint16_t code =
            e.bytes.size() == 2 ? static_cast<uint16_t>((e.bytes[0] << 8) | e.bytes[1]) : e.bytes[0];
        EXPECT_EQ(cpUnicodeToCp(t, e.unit), code) << e.codePage << " U+" << std::hex << e.unit;
    }
}

TEST(MappingFiles, SingleByteCodePagesHaveNoLeadBytesAndDoubleByteOnesDo) {
    for (unsigned cp : {37u, 819u, 850u, 1252u}) {
        const std::vector<unsigned char> image = readMappingFile(cp);
        CpRecords t;
        ASSERT_TRUE(parseCpImage(image.data(), image.size(), &t)) << cp;
        EXPECT_LE(t.toUnicodeCount, 1u) << cp;
    }
    const std::vector<unsigned char> image = readMappingFile(942);
    CpRecords t;
    ASSERT_TRUE(parseCpImage(image.data(), image.size(), &t));
    for (unsigned b = 0x81; b <= 0x9F; ++b)
        EXPECT_TRUE(cpIsLeadByte(t, static_cast<unsigned char>(b))) << std::hex << b;
    for (unsigned b = 0xA1; b <= 0xDF; ++b)
        EXPECT_FALSE(cpIsLeadByte(t, static_cast<unsigned char>(b))) << std::hex << b;
    // Every Latin-1 character maps to itself in 819 and back.
    const std::vector<unsigned char> latin1 = readMappingFile(819);
    ASSERT_TRUE(parseCpImage(latin1.data(), latin1.size(), &t));
    for (unsigned b = 1; b < 256; ++b) {
        const unsigned char text[] = {static_cast<unsigned char>(b), 0};
        EXPECT_EQ(cpToUnicode(t, text, nullptr), b);
        EXPECT_EQ(cpUnicodeToCp(t, static_cast<uint16_t>(b)), b);
    }
}

}  // namespace
