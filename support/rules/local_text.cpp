#include "local_text.h"

#include <cstring>

namespace kvo {

namespace {

unsigned char foldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool isLead(LeadBytePredicate isLeadByte, unsigned char c) {
    return isLeadByte != nullptr && c >= 0x80 && isLeadByte(c);
}

// The bytes of the character at p (not the terminator): 2 for a lead byte with a byte after it.
std::size_t characterSize(const char* p, LeadBytePredicate isLeadByte) {
    return isLead(isLeadByte, static_cast<unsigned char>(p[0])) && p[1] != 0 ? 2 : 1;
}

// Compares n bytes starting on character boundaries of both strings.
bool equalRunIgnoreCase(const unsigned char* a, const unsigned char* b, size_t n,
                        LeadBytePredicate isLeadByte) {
    size_t i = 0;
    while (i < n) {
        if (isLead(isLeadByte, a[i]) && i + 1 < n && a[i + 1] != 0) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            i += 2;
            continue;
        }
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
        ++i;
    }
    return true;
}

}  // namespace

bool equalsIgnoreCase(const char* a, const char* b, LeadBytePredicate isLeadByte) {
    size_t length = std::strlen(a);
    if (length != std::strlen(b))
        return false;
    return equalRunIgnoreCase(reinterpret_cast<const unsigned char*>(a),
                              reinterpret_cast<const unsigned char*>(b), length, isLeadByte);
}

bool endsWithIgnoreCase(const char* text, const char* suffix, LeadBytePredicate isLeadByte) {
    size_t textLength = std::strlen(text);
    size_t suffixLength = std::strlen(suffix);
    if (suffixLength > textLength)
        return false;
    size_t start = textLength - suffixLength;
    // The suffix must begin where a character of text begins.
    size_t i = 0;
    while (i < start)
        i += characterSize(text + i, isLeadByte);
    if (i != start)
        return false;
    return equalRunIgnoreCase(reinterpret_cast<const unsigned char*>(text + start),
                              reinterpret_cast<const unsigned char*>(suffix), suffixLength, isLeadByte);
}

bool startsWithAsciiIgnoreCase(const char* text, const char* prefix) {
    for (; *prefix != 0; ++prefix, ++text) {
        if (*text == 0 ||
            foldAscii(static_cast<unsigned char>(*text)) != foldAscii(static_cast<unsigned char>(*prefix)))
            return false;
    }
    return true;
}

const char* findLastBackslash(const char* text, LeadBytePredicate isLeadByte) {
    const char* last = nullptr;
    for (const char* p = text; *p != 0; p += characterSize(p, isLeadByte)) {
        if (*p == '\\')
            last = p;
    }
    return last;
}

bool endsWithBackslash(const char* text, LeadBytePredicate isLeadByte) {
    const char* last = findLastBackslash(text, isLeadByte);
    return last != nullptr && last[1] == 0;
}

void replaceSlashes(char* text) {
    if (text == nullptr)
        return;
    for (; *text != 0; ++text) {
        if (*text == '/')
            *text = '\\';
    }
}

void replaceBackslashes(char* text, LeadBytePredicate isLeadByte) {
    if (text == nullptr)
        return;
    for (; *text != 0; text += characterSize(text, isLeadByte)) {
        if (*text == '\\')
            *text = '/';
    }
}

}  // namespace kvo
