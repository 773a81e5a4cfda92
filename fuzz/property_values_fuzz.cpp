// Launcher property values from hostile text (launcher/rules/property_values.*): the unsigned
// numbers and the yes/no words of the launcher's properties. The input is wide text, two bytes a unit
// (little-endian), up to the first zero unit; both parsers are compared with a model written here.
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "property_values.h"

using namespace kvo::launcher;
using kvofuzz::ExactBuffer;

namespace {

bool isSpace(uint32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(uint32_t c) {
    return c >= '0' && c <= '9';
}

// White space, one sign, then decimal digits (what follows them is ignored); the number must fit in
// 32 bits; "-n" gives 2^32 - n.
bool modelUnsigned(const std::vector<uint32_t>& t, unsigned long* value) {
    size_t i = 0;
    while (i < t.size() && isSpace(t[i]))
        ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    if (i == t.size() || !isDigit(t[i]))
        return false;
    while (i < t.size() && t[i] == '0')  // leading zeros never overflow
        ++i;
    std::string digits;
    while (i < t.size() && isDigit(t[i]))
        digits.push_back(static_cast<char>(t[i++]));
    if (digits.size() > 10 || (digits.size() == 10 && digits > "4294967295"))
        return false;
    uint64_t n = 0;
    for (char d : digits)
        n = n * 10 + static_cast<uint64_t>(d - '0');
    *value = static_cast<unsigned long>(negative ? (0x100000000ull - n) & 0xFFFFFFFFull : n);
    return true;
}

int modelBoolean(const std::vector<uint32_t>& t) {
    std::string upper;
    for (uint32_t c : t) {
        if (c >= 0x80)
            return -1;
        upper.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
    return (upper == "TRUE" || upper == "T" || upper == "YES" || upper == "Y" || upper == "1") ? 1 : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint16_t> read = kvofuzz::unitsBeforeZero(data, size);
    const std::vector<uint32_t> units(read.begin(), read.end());
    ExactBuffer<wchar_t> text(units.size() + 1, 0);
    for (size_t i = 0; i < units.size(); ++i)
        text[i] = static_cast<wchar_t>(units[i]);

    unsigned long expected = 0xDEADBEEF, got = 0xDEADBEEF;
    const bool expectedOk = modelUnsigned(units, &expected);
    const bool gotOk = parseUnsigned32(text.get(), &got);
    KVO_FUZZ_CHECK(gotOk == expectedOk, "parseUnsigned32 gave %d, model %d", gotOk, expectedOk);
    if (gotOk)
        KVO_FUZZ_CHECK(got == expected, "parseUnsigned32 read %lu, model %lu", got, expected);
    else
        KVO_FUZZ_CHECK(got == 0xDEADBEEF, "parseUnsigned32 failed but set the value");
    KVO_FUZZ_CHECK(!parseUnsigned32(nullptr, &got), "parseUnsigned32 of null");

    KVO_FUZZ_CHECK(parseBooleanText(text.get()) == modelBoolean(units), "parseBooleanText gave %d, model %d",
                   parseBooleanText(text.get()), modelBoolean(units));
    KVO_FUZZ_CHECK(parseBooleanText(nullptr) == -1, "parseBooleanText of null");
    return 0;
}
