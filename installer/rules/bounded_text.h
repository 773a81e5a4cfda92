// Wide text in fixed buffers. Every log line, path, key and query of the custom actions is composed
// in a buffer of a fixed number of UTF-16 units (the terminator included); what does not fit is cut
// at the buffer, never written past it, and the owner learns that it was cut. A surrogate pair is
// never split by a cut. A cut text takes nothing more until it is cleared, so it is always the start
// of everything appended to it (a short piece after a cut never makes a cut line look complete).
// Platform-free (wchar_t is 16 bits on Windows, 32 on Linux; only the unit values matter here).
#pragma once

#include <cstddef>
#include <initializer_list>

namespace kvo::installer {

// Lengths of a text, counted in units, without its terminator; a null text is empty.
std::size_t textLength(const wchar_t* text);

class BoundedText {
public:
    // buffer holds capacity units, the terminator included (capacity >= 1); it starts empty.
    BoundedText(wchar_t* buffer, std::size_t capacity);
    // The same over a buffer that holds a text already: that text is kept (cut where the buffer ends,
    // and then marked cut).
    struct KeepText {};
    BoundedText(wchar_t* buffer, std::size_t capacity, KeepText);
    BoundedText(const BoundedText&) = delete;
    BoundedText& operator=(const BoundedText&) = delete;

    // Appends as much of the text as fits (a null text is empty); nothing once the text was cut.
    BoundedText& append(const wchar_t* text);
    BoundedText& append(const wchar_t* text, std::size_t length);
    BoundedText& append(wchar_t unit);
    BoundedText& appendSigned(long long value);
    BoundedText& appendUnsigned(unsigned long long value);
    BoundedText& appendHex(unsigned long long value);  // upper-case digits, no prefix
    // Appends the text only when all of it fits (never to a cut text); returns whether it did.
    bool appendWhole(const wchar_t* text, std::size_t length);

    void clear();
    // Keeps the first length units (a shorter text is left alone); the cut mark stays.
    void truncate(std::size_t length);

    // For a system call that writes a terminated text into the buffer itself (at most capacity()
    // units): data() is where it writes, and acceptWritten() takes what it wrote as the text (cut,
    // and marked cut, when it fills the buffer without a terminator).
    wchar_t* data() { return buffer_; }
    void acceptWritten();
    const wchar_t* text() const { return buffer_; }
    std::size_t length() const { return length_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return length_ == 0; }
    // Whether something appended since the last clear did not fit.
    bool cut() const { return cut_; }
    bool endsWith(wchar_t unit) const { return length_ > 0 && buffer_[length_ - 1] == unit; }

private:
    wchar_t* buffer_;
    std::size_t capacity_;
    std::size_t length_ = 0;
    bool cut_ = false;
};

namespace detail {
template <std::size_t N>
struct TextStorage {
    wchar_t storage_[N];
};
}  // namespace detail

// A BoundedText with its own buffer of N units.
template <std::size_t N>
class TextBuffer : private detail::TextStorage<N>, public BoundedText {
public:
    static_assert(N >= 1, "room for the terminator");
    TextBuffer() : BoundedText(this->storage_, N) {}
    explicit TextBuffer(const wchar_t* text) : TextBuffer() { append(text); }
};

// A text given by its start and length (it need not be terminated).
struct TextSpan {
    const wchar_t* text;
    std::size_t length;
};

// One argument of formatText: a text or a number.
class FormatArg {
public:
    FormatArg(const wchar_t* text) : kind_(Kind::Text), text_(text), length_(textLength(text)) {}
    FormatArg(TextSpan span) : kind_(Kind::Text), text_(span.text), length_(span.length) {}
    FormatArg(const BoundedText& text) : kind_(Kind::Text), text_(text.text()), length_(text.length()) {}
    FormatArg(int value) : kind_(Kind::Signed), signed_(value) {}
    FormatArg(long value) : kind_(Kind::Signed), signed_(value) {}
    FormatArg(long long value) : kind_(Kind::Signed), signed_(value) {}
    FormatArg(unsigned value) : kind_(Kind::Unsigned), unsigned_(value) {}
    FormatArg(unsigned long value) : kind_(Kind::Unsigned), unsigned_(value) {}
    FormatArg(unsigned long long value) : kind_(Kind::Unsigned), unsigned_(value) {}

    void appendTo(BoundedText& out, wchar_t conversion) const;

private:
    enum class Kind { Text, Signed, Unsigned };
    Kind kind_;
    const wchar_t* text_ = nullptr;
    std::size_t length_ = 0;
    long long signed_ = 0;
    unsigned long long unsigned_ = 0;
};

// Appends pattern to out with each conversion replaced by the next argument: %s a text, %d and %u
// a number in decimal, %X in upper-case hexadecimal (an "l" between % and the letter is allowed),
// %% a percent sign. The argument decides between text and number. A conversion without an argument
// stays as it is. Returns false when the text was cut (now or by an earlier append).
bool formatText(BoundedText& out, const wchar_t* pattern, std::initializer_list<FormatArg> args);

// out = the parts one after another, only when all of them fit; otherwise out is left empty (and
// cut). For paths: a path that does not fit is never cut and used.
bool joinWhole(BoundedText& out, std::initializer_list<const wchar_t*> parts);

// Appends text with the characters that the Windows Installer's formatting would take as syntax
// ([ ] { }) escaped as "[\\x]", so that the installer shows the text as it is. An escape is never cut
// in half. Returns whether everything fit.
bool appendInstallerLiteral(BoundedText& out, const wchar_t* text);

}  // namespace kvo::installer
