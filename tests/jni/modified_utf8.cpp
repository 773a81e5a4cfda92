#include "modified_utf8.h"

namespace kvojni {

namespace {

void appendUnit(std::string& out, unsigned unit) {
    if (unit != 0 && unit < 0x80) {
        out += static_cast<char>(unit);
    } else if (unit < 0x800) {
        out += static_cast<char>(0xC0 | (unit >> 6));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (unit >> 12));
        out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace

std::string toModifiedUtf8(const std::u16string& units) {
    std::string out;
    out.reserve(units.size());
    for (char16_t unit : units)
        appendUnit(out, unit);
    return out;
}

bool fromModifiedUtf8(const std::string& bytes, std::u16string& units) {
    units.clear();
    bool wellFormed = true;
    const auto at = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char lead = at(i);
        if (lead >= 0x01 && lead < 0x80) {
            units += static_cast<char16_t>(lead);
            i += 1;
            continue;
        }
        if ((lead & 0xE0) == 0xC0 && i + 1 < bytes.size() && isContinuation(at(i + 1))) {
            const unsigned value = ((lead & 0x1F) << 6) | (at(i + 1) & 0x3F);
            // The only over-long form allowed is C0 80 for U+0000.
            if (value >= 0x80 || value == 0) {
                units += static_cast<char16_t>(value);
                i += 2;
                continue;
            }
        }
        if ((lead & 0xF0) == 0xE0 && i + 2 < bytes.size() && isContinuation(at(i + 1)) &&
            isContinuation(at(i + 2))) {
            const unsigned value = ((lead & 0x0F) << 12) | ((at(i + 1) & 0x3F) << 6) | (at(i + 2) & 0x3F);
            if (value >= 0x800) {
                units += static_cast<char16_t>(value);
                i += 3;
                continue;
            }
        }
        units += u'\uFFFD';
        wellFormed = false;
        i += 1;
    }
    return wellFormed;
}

std::string toStandardUtf8(const std::u16string& units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        unsigned code = units[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
            continue;
        }
        if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        if (code == 0)
            out += '\0';
        else
            appendUnit(out, code);
    }
    return out;
}

}  // namespace kvojni
