// Wide text from fuzz input, for the targets of the installer's rules (UTF-16 units in wchar_t, which
// is 16 bits on Windows and 32 here: only unit values up to 0xFFFF are made).
//
// Compact form, so that ASCII paths and separators are one byte each and any unit is still
// reachable: a byte below 0xF0 is the unit of that value; a byte 0xF0..0xFF is followed by two bytes
// that give a unit, little-endian (a form cut short by the end of the input gives nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace kvofuzz {

using Units = std::vector<uint32_t>;

inline Units decodeUnits(const uint8_t* data, size_t size) {
    Units units;
    for (size_t i = 0; i < size;) {
        const uint8_t b = data[i++];
        if (b < 0xF0) {
            units.push_back(b);
        } else if (i + 2 <= size) {
            units.push_back(static_cast<uint32_t>(data[i] | (data[i + 1] << 8)));
            i += 2;
        } else {
            break;
        }
    }
    return units;
}

// The units up to the first zero unit.
inline Units beforeZero(const Units& units) {
    Units out;
    for (uint32_t u : units) {
        if (u == 0)
            break;
        out.push_back(u);
    }
    return out;
}

inline bool isHighSurrogate(uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
inline bool isLowSurrogate(uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The units in an exactly sized heap buffer of wchar_t (count units, plus a terminator when asked).
inline ExactBuffer<wchar_t> wideBuffer(const Units& units, bool terminated) {
    ExactBuffer<wchar_t> buffer(units.size() + (terminated ? 1 : 0), 0);
    for (size_t i = 0; i < units.size(); ++i)
        buffer[i] = static_cast<wchar_t>(units[i]);
    return buffer;
}

// The units of a terminated (or `length`-unit) wide text.
inline Units unitsOf(const wchar_t* text) {
    Units units;
    for (; text != nullptr && *text != 0; ++text)
        units.push_back(static_cast<uint32_t>(*text));
    return units;
}
inline Units unitsOf(const wchar_t* text, size_t length) {
    Units units;
    for (size_t i = 0; i < length; ++i)
        units.push_back(static_cast<uint32_t>(text[i]));
    return units;
}

inline Units unitsOf(const char* ascii) {
    Units units;
    for (; *ascii != 0; ++ascii)
        units.push_back(static_cast<unsigned char>(*ascii));
    return units;
}

// Printable form for messages: ASCII as it is, any other unit as \uXXXX.
inline std::string show(const Units& units) {
    std::string s;
    for (uint32_t u : units) {
        if (u >= 0x20 && u < 0x7F) {
            s.push_back(static_cast<char>(u));
        } else {
            char hex[12];
            std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(u));
            s += hex;
        }
    }
    return s;
}

}  // namespace kvofuzz
