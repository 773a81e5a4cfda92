// Mapping images from hostile bytes (textconv/rules/cp_image.h). The input is an image. When it
// validates, it is copied into a buffer of exactly the size it declares and validated again there, and
// every lookup it claims is made on that copy: every Unicode unit, every single byte and every lead
// byte with every trail byte, as whole texts of exactly their own bytes. An image that validates must
// never be read out of bounds (AddressSanitizer), and must keep the promises validation makes: no
// character but the terminator maps to 0, no double-byte code has a zero trail byte. The flat tables
// of cp_fast_tables.h built from it must give the same lookups, and the same conversions of a text of
// every character; and the bytes after the declared size, when there are any, are a text that every
// conversion of common/conversion_checks.h converts at every output size, reference against fast (the
// reserved header field gives the default character).
#include <cstdint>
#include <cstring>
#include <vector>

#include "conversion_checks.h"
#include "cp_fast_tables.h"
#include "cp_image.h"
#include "fuzz_support.h"
#include "table_convert.h"

using namespace kvo::textconv;
using kvofuzz::ExactBuffer;

namespace {

void checkLookups(const CpRecords& t) {
    KVO_FUZZ_CHECK(t.toUnicodeCount <= 256 && t.fromUnicodeCount <= 256, "record counts %u %u",
                   t.toUnicodeCount, t.fromUnicodeCount);
    // Unicode -> code page: every unit.
    for (unsigned u = 0; u < 0x10000; ++u) {
        const uint16_t code = cpUnicodeToCp(t, static_cast<uint16_t>(u));
        if (u == 0 || code == kNoMapping)
            continue;
        KVO_FUZZ_CHECK(code != 0, "U+%04X maps to 0", u);
        KVO_FUZZ_CHECK(code < 0x100 || (code & 0xFF) != 0, "U+%04X maps to %04X (zero trail byte)", u, code);
    }
    // Code page -> Unicode: every single byte and every byte pair, each as a text of its own.
    ExactBuffer<unsigned char> one(2, 0);
    ExactBuffer<unsigned char> two(3, 0);
    for (unsigned b = 0; b < 256; ++b) {
        one[0] = static_cast<unsigned char>(b);
        int dbcs = -1;
        const uint16_t u = cpToUnicode(t, one.get(), &dbcs);
        KVO_FUZZ_CHECK(dbcs == 0, "byte %02X alone took %d bytes", b, 1 + dbcs);
        KVO_FUZZ_CHECK(b == 0 ? u == kNoMapping : u != 0, "byte %02X maps to %04X", b, u);
        KVO_FUZZ_CHECK(cpToUnicode(t, one.get(), nullptr) == u, "byte %02X: lookup without the width differs",
                       b);
        const bool lead = cpIsLeadByte(t, static_cast<unsigned char>(b));
        if (b == 0)
            continue;
        for (unsigned x = 0; x < 256; ++x) {
            two[0] = static_cast<unsigned char>(b);
            two[1] = static_cast<unsigned char>(x);
            dbcs = -1;
            const uint16_t v = cpToUnicode(t, two.get(), &dbcs);
            KVO_FUZZ_CHECK(dbcs == (lead && x != 0 ? 1 : 0), "bytes %02X %02X took %d bytes", b, x, 1 + dbcs);
            KVO_FUZZ_CHECK(v != 0, "bytes %02X %02X map to 0", b, x);
            if (!lead)
                KVO_FUZZ_CHECK(v == u, "byte %02X maps differently before %02X", b, x);
        }
    }
}

// The flat tables f built from t give what the records give.
void checkFastTables(const CpRecords& t, const CpFastTables& f) {
    for (unsigned u = 1; u < 0x10000; ++u) {
        const uint16_t expected = cpUnicodeToCp(t, static_cast<uint16_t>(u));
        const uint16_t got = fastUnicodeToCp(f, static_cast<uint16_t>(u));
        KVO_FUZZ_CHECK(got == expected, "U+%04X: flat table %04X, records %04X", u, got, expected);
    }
    unsigned char text[3] = {0, 0, 0};
    for (unsigned b = 1; b < 256; ++b) {
        text[0] = static_cast<unsigned char>(b);
        text[1] = 0;
        KVO_FUZZ_CHECK((f.lead[b] != 0) == cpIsLeadByte(t, static_cast<unsigned char>(b)), "lead byte %02X",
                       b);
        if (!f.lead[b]) {
            KVO_FUZZ_CHECK(f.single[b] == cpToUnicode(t, text, nullptr), "byte %02X: flat table %04X", b,
                           f.single[b]);
            continue;
        }
        for (unsigned x = 1; x < 256; ++x) {
            text[1] = static_cast<unsigned char>(x);
            KVO_FUZZ_CHECK(f.trail[b][x] == cpToUnicode(t, text, nullptr), "bytes %02X %02X: flat table %04X",
                           b, x, f.trail[b][x]);
        }
    }

    // A text of every single byte and every lead byte with a few trail bytes, each way, fast against
    // the reference, into a buffer of exactly the needed size.
    std::vector<unsigned char> local;
    for (unsigned b = 1; b < 256; ++b) {
        local.push_back(static_cast<unsigned char>(b));
        if (f.lead[b]) {
            local.push_back(static_cast<unsigned char>(b));
            local.push_back(0x80);
            local.push_back(static_cast<unsigned char>(b));
            local.push_back(0x41);
        }
    }
    local.push_back(0);
    const int def = '*';
    int usedRef = -1, usedFast = -1;
    const int unitsNeeded =
        tableCpToUnicode(t, local.data(), static_cast<uint16_t*>(nullptr), 0, def, &usedRef);
    const int fastUnitsNeeded =
        fastCpToUnicode(f, local.data(), static_cast<uint16_t*>(nullptr), 0, def, &usedFast);
    KVO_FUZZ_CHECK(fastUnitsNeeded == unitsNeeded && usedFast == usedRef,
                   "local to Unicode size query %d, reference %d; flag %d, reference %d", fastUnitsNeeded,
                   unitsNeeded, usedFast, usedRef);
    ExactBuffer<uint16_t> refUnits(static_cast<size_t>(unitsNeeded), 0x5A5A);
    ExactBuffer<uint16_t> fastUnits(static_cast<size_t>(unitsNeeded), 0x5A5A);
    tableCpToUnicode(t, local.data(), refUnits.get(), unitsNeeded, def, &usedRef);
    fastCpToUnicode(f, local.data(), fastUnits.get(), unitsNeeded, def, &usedFast);
    KVO_FUZZ_CHECK(std::memcmp(refUnits.get(), fastUnits.get(), unitsNeeded * sizeof(uint16_t)) == 0,
                   "local to Unicode: fast conversion differs");

    std::vector<uint16_t> units;
    for (unsigned u = 1; u < 0x10000; u += 1 + (u >> 8))
        units.push_back(static_cast<uint16_t>(u));
    units.push_back(0);
    const int bytesNeeded = tableUnicodeToCp(t, units.data(), nullptr, 0, def, &usedRef);
    const int fastBytesNeeded = fastUnicodeToCp(f, units.data(), nullptr, 0, def, &usedFast);
    KVO_FUZZ_CHECK(fastBytesNeeded == bytesNeeded && usedFast == usedRef,
                   "Unicode to local size query %d, reference %d; flag %d, reference %d", fastBytesNeeded,
                   bytesNeeded, usedFast, usedRef);
    ExactBuffer<unsigned char> refBytes(static_cast<size_t>(bytesNeeded), 0xA5);
    ExactBuffer<unsigned char> fastBytes(static_cast<size_t>(bytesNeeded), 0xA5);
    tableUnicodeToCp(t, units.data(), refBytes.get(), bytesNeeded, def, &usedRef);
    fastUnicodeToCp(f, units.data(), fastBytes.get(), bytesNeeded, def, &usedFast);
    KVO_FUZZ_CHECK(std::memcmp(refBytes.get(), fastBytes.get(), static_cast<size_t>(bytesNeeded)) == 0,
                   "Unicode to local: fast conversion differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExactBuffer<unsigned char> image(size, 0);
    if (size != 0)
        std::memcpy(image.get(), data, size);
    CpRecords records;
    if (!parseCpImage(image.get(), size, &records))
        return 0;

    // Only the declared size is the image: the lookups run on a copy of exactly that many bytes.
    const uint32_t declared = readLe32(image.get());
    KVO_FUZZ_CHECK(declared >= kCpImageHeaderSize && declared <= size && declared <= kCpImageMaxSize,
                   "validated a declared size of %u in %zu bytes", declared, size);
    ExactBuffer<unsigned char> exact(declared, 0);
    std::memcpy(exact.get(), image.get(), declared);
    CpRecords t;
    KVO_FUZZ_CHECK(parseCpImage(exact.get(), declared, &t), "the image alone no longer validates");
    checkLookups(t);
    // The flat tables, built once for the lookups and the conversions.
    kvofuzz::Image fuzzed;
    fuzzed.records = t;
    buildFastTables(fuzzed.records, &fuzzed.fast);
    checkFastTables(t, fuzzed.fast);

    const size_t textSize = size - declared;
    if (textSize != 0 && textSize <= 256) {
        const uint32_t reserved = readLe32(exact.get() + 4);
        const int def = (reserved & 0xFFFF) != 0 ? static_cast<int>(reserved & 0xFFFF) : '*';
        kvofuzz::checkConversions(fuzzed, data + declared, textSize, reserved >> 28, def);
    }
    return 0;
}
