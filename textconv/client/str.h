// Str: a heap copy of a NUL-terminated narrow string in the local (ANSI) code page, with assignment,
// concatenation, comparison, sub-strings and in-place conversions between the local code page, UTF-8
// and CompUnicode. UnicodeStr: a Str whose bytes hold UTF-16 text in CompUnicode form.
//
// The conversions that involve the local code page go through kvoucd32 (its ordinals 1, 3, 5, 8 and
// 11); UTF-8 is encoded and decoded here. Characters the local code page can't represent become "*".
//
// Memory comes from kvo::heap and nothing throws. An operation that needs memory and cannot get it
// leaves the string without a buffer (c_str() null, capacity 0), which every user of a Str checks for;
// a conversion that cannot get memory returns 0 and leaves the string as it was.
#pragma once

struct HINSTANCE__;  // HMODULE, without pulling in <windows.h>

namespace kvo {

class Str {
public:
    Str();
    Str(const char* s);  // null is read as ""
    Str(const Str& other);
    // String resource id of module (null: the process's executable); null text if absent or empty.
    Str(unsigned id, HINSTANCE__* module);
    virtual ~Str();

    const char* c_str() const { return text; }
    char* buffer() { return text; }
    int length() const;
    // Size of the buffer in bytes, terminator included; 0 without a buffer.
    int getCapacity() const { return capacity; }
    // Byte i, or a shared scratch byte when i is not below the capacity.
    char& at(unsigned i);

    Str& assign(const char* s);
    Str& operator=(const char* s) { return assign(s); }
    Str& operator=(const Str& other);
    Str& append(const char* s);
    Str& operator+=(const char* s) { return append(s); }
    Str& operator+=(const Str& other) { return append(other.text); }
    static Str concat(const Str& a, const Str& b);
    // At most count bytes from index (both clamped to the text); null text gives null text.
    Str substr(unsigned index, unsigned count) const;
    void toUpper();

    // The system's locale-aware, case-sensitive comparison: -1, 0 or 1.
    int compare(const char* s) const;
    bool operator==(const char* s) const { return compare(s) == 0; }
    bool operator!=(const char* s) const { return compare(s) != 0; }
    bool operator<(const char* s) const { return compare(s) == -1; }
    bool operator>(const char* s) const { return compare(s) == 1; }
    bool operator<=(const char* s) const { return compare(s) != 1; }
    bool operator>=(const char* s) const { return compare(s) != -1; }

    // In-place conversions: 1, or 0 with the object unchanged when the conversion library reports 0.
    int localToCompUnicode();
    int compUnicodeToLocal();
    int builtInToCompUnicode();
    int localToUTF8();
    int utf8ToLocal();

    // Decodes the UTF-8 text into out (null measures), writing while fewer than count units have been
    // produced, and a terminator if there is room. Returns the units including the terminator.
    unsigned utf8ToUTF16(wchar_t* out, unsigned count) const;
    unsigned utf8ToUTF16(unsigned short* out, unsigned count) const;

protected:
    // Replaces text by a buffer of size bytes that the caller filled.
    void adopt(char* buffer, int size);

    int capacity;
    char* text;

    static char emptyString[1];
    static char scratch;
};

Str operator+(const Str& a, const Str& b);

class UnicodeStr : public Str {
public:
    UnicodeStr() = default;
    UnicodeStr(const wchar_t* s);         // UTF-16 text, stored as CompUnicode
    UnicodeStr(const unsigned short* s);  // the same for 16-bit units of another type (jchar)
    UnicodeStr(const UnicodeStr& other) = default;
    UnicodeStr& operator=(const UnicodeStr& other) = default;
    ~UnicodeStr() override;

    // Decodes the CompUnicode form into out, with the rules of utf8ToUTF16.
    unsigned getUnicode(wchar_t* out, unsigned count) const;
    unsigned getUnicode(unsigned short* out, unsigned count) const;
};

}  // namespace kvo
