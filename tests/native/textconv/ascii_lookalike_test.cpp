// Every conversion through a generated mapping file is exact or flagged: every unit and every code
// that maps converts back to itself. In particular no character turns into an ASCII look-alike: every
// ASCII character is one byte that converts back to it, no unit from U+0080 up converts to one of those
// bytes (a yen sign that became 0x5C would be a path separator), and no other byte or byte pair
// converts to an ASCII character.
#include <gtest/gtest.h>

#include <vector>

#include "cp_image.h"
#include "cp_image_builder.h"

using namespace kvo::textconv;

namespace {

const unsigned kGenerated[] = {KVO_CODEPAGE_NUMBERS};

std::vector<unsigned char> text(unsigned code) {
    if (code < 0x100)
        return {static_cast<unsigned char>(code), 0};
    return {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code & 0xFF), 0};
}

TEST(AsciiLookAlikes, NoOtherCharacterBecomesTheCodeOfAnAsciiCharacter) {
    for (unsigned cp : kGenerated) {
        const std::vector<unsigned char> image = kvotest::readMappingFile(cp);
        CpRecords t;
        ASSERT_TRUE(parseCpImage(image.data(), image.size(), &t)) << cp;
        // The codes of the ASCII characters: the bytes below 0x80, except in EBCDIC 37.
        bool ascii[256] = {};
        for (unsigned a = 1; a < 0x80; ++a) {
            const uint16_t code = cpUnicodeToCp(t, static_cast<uint16_t>(a));
            ASSERT_LT(code, 0x100u) << cp << " U+" << std::hex << a;
            EXPECT_EQ(cpToUnicode(t, text(code).data(), nullptr), a) << cp << " U+" << std::hex << a;
            if (cp != 37) {
                EXPECT_EQ(code, a) << cp;
            }
            ascii[code] = true;
        }
        unsigned found = 0;
        for (unsigned u = 0x80; u < 0x10000; ++u) {
            const uint16_t code = cpUnicodeToCp(t, static_cast<uint16_t>(u));
            if (code < 0x100 && ascii[code] && found++ < 10)
                ADD_FAILURE() << cp << ": U+" << std::hex << u << " becomes " << code;
        }
        for (unsigned code = 1; code < 0x10000; ++code) {
            const unsigned lead = code >> 8;
            if ((lead == 0 && (ascii[code] || cpIsLeadByte(t, static_cast<unsigned char>(code)))) ||
                (lead != 0 && (!cpIsLeadByte(t, static_cast<unsigned char>(lead)) || (code & 0xFF) == 0)))
                continue;
            const uint16_t unit = cpToUnicode(t, text(code).data(), nullptr);
            if (unit < 0x80 && found++ < 10)
                ADD_FAILURE() << cp << ": " << std::hex << code << " becomes U+" << unit;
        }
        EXPECT_EQ(found, 0u) << cp;
    }
}

// A unit that converts without the flag converts back to itself, and so does a code.
TEST(ExactTables, EveryMappingConvertsBackToItself) {
    for (unsigned cp : kGenerated) {
        const std::vector<unsigned char> image = kvotest::readMappingFile(cp);
        CpRecords t;
        ASSERT_TRUE(parseCpImage(image.data(), image.size(), &t)) << cp;
        unsigned units = 0, oneWay = 0;
        for (unsigned u = 1; u < 0x10000; ++u) {
            const uint16_t code = cpUnicodeToCp(t, static_cast<uint16_t>(u));
            if (code == kNoMapping)
                continue;
            ++units;
            int doubleByte = -1;
            const uint16_t back = cpToUnicode(t, text(code).data(), &doubleByte);
            if ((back != u || doubleByte != (code >= 0x100 ? 1 : 0)) && oneWay++ < 10)
                ADD_FAILURE() << cp << ": U+" << std::hex << u << " -> " << code << " -> U+" << back;
        }
        for (unsigned code = 1; code < 0x10000; ++code) {
            const unsigned lead = code >> 8;
            if ((lead == 0 && cpIsLeadByte(t, static_cast<unsigned char>(code))) ||
                (lead != 0 && (!cpIsLeadByte(t, static_cast<unsigned char>(lead)) || (code & 0xFF) == 0)))
                continue;
            const uint16_t unit = cpToUnicode(t, text(code).data(), nullptr);
            if (unit != kNoMapping && cpUnicodeToCp(t, unit) != code && oneWay++ < 10)
                ADD_FAILURE() << cp << ": " << std::hex << code << " -> U+" << unit << " -> "
                              << cpUnicodeToCp(t, unit);
        }
        EXPECT_EQ(oneWay, 0u) << cp;
        EXPECT_GT(units, 90u) << cp << ": the table maps next to nothing";
    }
}

}  // namespace
