#include "bounded_text.h"

namespace kvo::installer {

namespace {

bool isHighSurrogate(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::size_t textLength(const wchar_t* text) {
    std::size_t length = 0;
    if (text != nullptr) {
        while (text[length] != L'\0')
            ++length;
    }
    return length;
}

BoundedText::BoundedText(wchar_t* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {
    buffer_[0] = L'\0';
}

BoundedText::BoundedText(wchar_t* buffer, std::size_t capacity, KeepText)
    : buffer_(buffer), capacity_(capacity) {
    acceptWritten();
}

void BoundedText::clear() {
    length_ = 0;
    cut_ = false;
    buffer_[0] = L'\0';
}

void BoundedText::truncate(std::size_t length) {
    if (length < length_) {
        length_ = length;
        buffer_[length_] = L'\0';
    }
}

void BoundedText::acceptWritten() {
    // The text up to its terminator; one that runs to the end of the buffer is cut there like any
    // other text (the cut marked, a surrogate pair never split).
    cut_ = false;
    length_ = 0;
    while (length_ < capacity_ && buffer_[length_] != L'\0')
        ++length_;
    if (length_ == capacity_) {
        length_ = capacity_ - 1;
        if (length_ > 0 && isHighSurrogate(buffer_[length_ - 1]) && isLowSurrogate(buffer_[length_]))
            --length_;
        cut_ = true;
    }
    buffer_[length_] = L'\0';
}

BoundedText& BoundedText::append(const wchar_t* text) {
    return append(text, textLength(text));
}

BoundedText& BoundedText::append(const wchar_t* text, std::size_t length) {
    // A cut text stays what it was when it was cut: nothing after the cut is added.
    if (cut_)
        return *this;
    const std::size_t room = capacity_ - 1 - length_;
    std::size_t count = length;
    if (count > room) {
        count = room;
        cut_ = true;
        // The unit after the cut would complete a pair: leave its first half out too.
        if (count > 0 && isHighSurrogate(text[count - 1]) && isLowSurrogate(text[count]))
            --count;
    }
    for (std::size_t i = 0; i < count; ++i)
        buffer_[length_ + i] = text[i];
    length_ += count;
    buffer_[length_] = L'\0';
    return *this;
}

BoundedText& BoundedText::append(wchar_t unit) {
    return append(&unit, 1);
}

bool BoundedText::appendWhole(const wchar_t* text, std::size_t length) {
    if (cut_ || length > capacity_ - 1 - length_) {
        cut_ = true;
        return false;
    }
    append(text, length);
    return true;
}

BoundedText& BoundedText::appendUnsigned(unsigned long long value) {
    wchar_t digits[24];
    std::size_t count = 0;
    do {
        digits[sizeof digits / sizeof digits[0] - 1 - count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return append(digits + sizeof digits / sizeof digits[0] - count, count);
}

BoundedText& BoundedText::appendSigned(long long value) {
    if (value < 0) {
        append(L'-');
        // The magnitude of the most negative value does not fit a long long; its unsigned twin does.
        return appendUnsigned(0ULL - static_cast<unsigned long long>(value));
    }
    return appendUnsigned(static_cast<unsigned long long>(value));
}

BoundedText& BoundedText::appendHex(unsigned long long value) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    wchar_t digits[20];
    std::size_t count = 0;
    do {
        digits[sizeof digits / sizeof digits[0] - 1 - count++] = kDigits[value % 16];
        value /= 16;
    } while (value != 0);
    return append(digits + sizeof digits / sizeof digits[0] - count, count);
}

void FormatArg::appendTo(BoundedText& out, wchar_t conversion) const {
    switch (kind_) {
        case Kind::Text:
            out.append(text_, length_);
            break;
        case Kind::Signed:
            if (conversion == L'X')
                out.appendHex(static_cast<unsigned long long>(signed_));
            else
                out.appendSigned(signed_);
            break;
        case Kind::Unsigned:
            if (conversion == L'X')
                out.appendHex(unsigned_);
            else
                out.appendUnsigned(unsigned_);
            break;
    }
}

bool formatText(BoundedText& out, const wchar_t* pattern, std::initializer_list<FormatArg> args) {
    const FormatArg* next = args.begin();
    const wchar_t* p = pattern;
    while (*p != L'\0') {
        const wchar_t* literal = p;
        while (*p != L'\0' && *p != L'%')
            ++p;
        out.append(literal, static_cast<std::size_t>(p - literal));
        if (*p == L'\0')
            break;
        // p is at a '%'.
        if (p[1] == L'%') {
            out.append(L'%');
            p += 2;
            continue;
        }
        const wchar_t* conversion = p + 1;
        if (*conversion == L'l')
            ++conversion;
        const wchar_t letter = *conversion;
        const bool known = letter == L's' || letter == L'd' || letter == L'u' || letter == L'X';
        if (!known || next == args.end()) {
            out.append(L'%');
            ++p;
            continue;
        }
        next->appendTo(out, letter);
        ++next;
        p = conversion + 1;
    }
    return !out.cut();
}

bool joinWhole(BoundedText& out, std::initializer_list<const wchar_t*> parts) {
    out.clear();
    for (const wchar_t* part : parts) {
        if (!out.appendWhole(part, textLength(part))) {
            out.truncate(0);  // keeps the mark that something did not fit
            return false;
        }
    }
    return true;
}

bool appendInstallerLiteral(BoundedText& out, const wchar_t* text) {
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p) {
        const wchar_t unit = *p;
        if (unit == L'[' || unit == L']' || unit == L'{' || unit == L'}') {
            const wchar_t escape[] = {L'[', L'\\', unit, L']'};
            if (!out.appendWhole(escape, 4))
                return false;
        } else if (isHighSurrogate(unit) && isLowSurrogate(p[1])) {
            if (!out.appendWhole(p, 2))
                return false;
            ++p;
        } else if (!out.appendWhole(&unit, 1)) {
            return false;
        }
    }
    return true;
}

}  // namespace kvo::installer
