#include "property_values.h"

namespace kvo::launcher {

namespace {

bool isSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

wchar_t foldAscii(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool equalsAsciiIgnoreCase(const wchar_t* text, const wchar_t* upper) {
    for (; *upper != 0; ++text, ++upper) {
        if (foldAscii(*text) != *upper)
            return false;
    }
    return *text == 0;
}

}  // namespace

bool parseUnsigned32(const wchar_t* text, unsigned long* value) {
    if (text == nullptr)
        return false;
    while (isSpace(*text))
        ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = (*text == L'-');
        ++text;
    }
    if (*text < L'0' || *text > L'9')
        return false;
    unsigned long long number = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        number = number * 10 + static_cast<unsigned long long>(*text - L'0');
        if (number > 0xFFFFFFFFull)
            return false;
    }
    if (negative)
        number = (0x100000000ull - number) & 0xFFFFFFFFull;
    *value = static_cast<unsigned long>(number);
    return true;
}

int parseBooleanText(const wchar_t* text) {
    if (text == nullptr)
        return -1;
    static const wchar_t* const kTrueWords[] = {L"TRUE", L"T", L"YES", L"Y"};
    for (const wchar_t* word : kTrueWords) {
        if (equalsAsciiIgnoreCase(text, word))
            return 1;
    }
    if (text[0] == L'1' && text[1] == 0)
        return 1;
    return -1;
}

}  // namespace kvo::launcher
