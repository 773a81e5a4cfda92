// Local (ANSI code page) text for the fuzz targets of rules that step over double-byte characters:
// a code page's lead bytes taken from the input, and a model of a text as a list of characters.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kvofuzz {

// The lead bytes of the code page of the current input (the rules take a plain function).
inline bool leadBytes[256];

inline bool isLeadByte(unsigned char b) {
    return leadBytes[b];
}

// The code page from the input: a single-byte one, or a set of lead bytes among 0x80..0xFF (bits of
// 16 bytes). True for a double-byte code page.
inline bool takeLeadBytes(FuzzedDataProvider& in) {
    std::memset(leadBytes, 0, sizeof leadBytes);
    if (!in.ConsumeBool())
        return false;
    for (unsigned i = 0; i < 16; ++i) {
        const uint8_t bits = in.ConsumeIntegral<uint8_t>();
        for (unsigned k = 0; k < 8; ++k)
            leadBytes[0x80 + 8 * i + k] = (bits >> k) & 1;
    }
    return true;
}

// A lead byte followed by any byte but the terminator is one character of two bytes; every other
// byte is a character of its own (every byte, when the text is read as single-byte: dbcs false).
inline std::vector<std::string> charactersOf(const std::string& s, bool dbcs = true) {
    std::vector<std::string> chars;
    for (size_t i = 0; i < s.size();) {
        const size_t n = dbcs && leadBytes[static_cast<unsigned char>(s[i])] && i + 1 < s.size() ? 2 : 1;
        chars.push_back(s.substr(i, n));
        i += n;
    }
    return chars;
}

// A local text from the input, up to its first zero byte.
inline std::string takeLocal(FuzzedDataProvider& in, size_t max) {
    std::string s = in.ConsumeRandomLengthString(max);
    return s.substr(0, s.find('\0'));
}

}  // namespace kvofuzz
