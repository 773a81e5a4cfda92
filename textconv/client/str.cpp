#include "str.h"

#include <windows.h>

#include <cstring>

#include "codecs.h"
#include "heap.h"
#include "kvoucd32.h"
#include "str_calls.h"
#include "table_convert.h"

namespace kvo {

using namespace textconv;

StrCalls strCalls;

char Str::emptyString[1] = {0};
char Str::scratch = 0;

namespace {

constexpr int kDefaultChar = '*';
constexpr int kResourceBufferSize = 256;

const char* orEmpty(const char* s) {
    return s != nullptr ? s : "";
}

// A buffer of size bytes holding the first length bytes of s and a terminator, or null.
char* copyOf(const char* s, size_t length, size_t size) {
    char* buffer = heapArray<char>(size);
    if (buffer != nullptr) {
        std::memcpy(buffer, s, length);
        buffer[length] = 0;
    }
    return buffer;
}

using ByteConversion = int(__stdcall*)(const char*, char*, int, int, int*);

// One in-place conversion through the library: size query, then the conversion. Null when the
// library reports 0 or the buffer cannot be had.
char* convertWith(ByteConversion convert, const char* src, int* size) {
    *size = convert(src, nullptr, 0, kDefaultChar, nullptr);
    if (*size <= 0)
        return nullptr;
    char* buffer = heapArray<char>(static_cast<size_t>(*size));
    if (buffer == nullptr)
        return nullptr;
    convert(src, buffer, *size, kDefaultChar, nullptr);
    buffer[*size - 1] = 0;
    return buffer;
}

template <class Unit>
unsigned writeUnits(const Unit* units, unsigned n, Unit* out, unsigned count) {
    if (out != nullptr) {
        for (unsigned i = 0; i < n && i < count; ++i)
            out[i] = units[i];
        if (n < count)
            out[n] = 0;
    }
    return n + 1;
}

// The decoders of a caller's buffer return the unit count even when they cannot get their scratch
// memory; nothing is written then.
template <class Unit>
unsigned decodeUtf8Into(const char* text, Unit* out, unsigned count) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(orEmpty(text));
    HeapArray<Unit> units = makeHeapArray<Unit>(utf8UnitCount(bytes) + 1);
    if (!units)
        return static_cast<unsigned>(utf8UnitCount(bytes)) + 1;
    const unsigned n = decodeUtf8Text(bytes, units.get());
    return writeUnits(units.get(), n, out, count);
}

template <class Unit>
unsigned decodeCompUnicodeInto(const char* text, Unit* out, unsigned count) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(orEmpty(text));
    HeapArray<Unit> units = makeHeapArray<Unit>(std::strlen(orEmpty(text)) + 1);
    if (!units)
        return compUnicodeUnitCount(bytes) + 1;
    const unsigned n = decodeCompUnicodeText(bytes, units.get(), kReplacementUnit);
    return writeUnits(units.get(), n, out, count);
}

}  // namespace

Str::Str() : capacity(0), text(nullptr) {}

Str::Str(const char* s) : capacity(0), text(nullptr) {
    s = orEmpty(s);
    const size_t length = std::strlen(s);
    adopt(copyOf(s, length, length + 1), static_cast<int>(length + 1));
}

Str::Str(const Str& other) : capacity(0), text(nullptr) {
    if (other.text != nullptr) {
        const size_t length = std::strlen(other.text);
        adopt(copyOf(other.text, length, length + 1), static_cast<int>(length + 1));
    }
}

Str::Str(unsigned id, HINSTANCE__* module) : capacity(0), text(nullptr) {
    char buffer[kResourceBufferSize];
    const int n = strCalls.LoadStringA(module, id, buffer, sizeof(buffer));
    if (n > 0) {
        const size_t length = std::strlen(buffer);
        adopt(copyOf(buffer, length, length + 1), static_cast<int>(length + 1));
    }
}

Str::~Str() {
    heapRelease(text);
}

int Str::length() const {
    return text != nullptr ? static_cast<int>(std::strlen(text)) : 0;
}

char& Str::at(unsigned i) {
    if (text != nullptr && i < static_cast<unsigned>(capacity))
        return text[i];
    return scratch;
}

void Str::adopt(char* buffer, int size) {
    heapRelease(text);
    text = buffer;
    capacity = buffer != nullptr ? size : 0;
}

Str& Str::assign(const char* s) {
    s = orEmpty(s);
    const size_t length = std::strlen(s);
    const size_t need = length + 1;
    if (need > static_cast<size_t>(capacity) || 2 * need < static_cast<size_t>(capacity)) {
        // The source may lie inside the old buffer: copy before freeing it.
        const size_t size = need * 3 / 2;
        adopt(copyOf(s, length, size), static_cast<int>(size));
    } else {
        std::memmove(text, s, need);
    }
    return *this;
}

Str& Str::operator=(const Str& other) {
    if (this != &other) {
        if (other.text == nullptr) {
            adopt(nullptr, 0);
        } else {
            assign(other.text);
        }
    }
    return *this;
}

Str& Str::append(const char* s) {
    s = orEmpty(s);
    const size_t oldLength = text != nullptr ? std::strlen(text) : 0;
    const size_t addLength = std::strlen(s);
    const size_t need = oldLength + addLength + 1;
    if (need > static_cast<size_t>(capacity)) {
        const size_t size = need * 3 / 2;
        char* buffer = heapArray<char>(size);
        if (buffer != nullptr) {
            if (oldLength)
                std::memcpy(buffer, text, oldLength);
            std::memcpy(buffer + oldLength, s, addLength);  // s may be our own text: still valid here
            buffer[need - 1] = 0;
        }
        adopt(buffer, static_cast<int>(size));
    } else {
        std::memmove(text + oldLength, s, addLength);
        text[need - 1] = 0;
    }
    return *this;
}

Str Str::concat(const Str& a, const Str& b) {
    const char* sa = orEmpty(a.text);
    const char* sb = orEmpty(b.text);
    const size_t la = std::strlen(sa), lb = std::strlen(sb);
    Str result;
    char* buffer = heapArray<char>(la + lb + 1);
    if (buffer != nullptr) {
        std::memcpy(buffer, sa, la);
        std::memcpy(buffer + la, sb, lb + 1);
    }
    result.adopt(buffer, static_cast<int>(la + lb + 1));
    return result;
}

Str operator+(const Str& a, const Str& b) {
    return Str::concat(a, b);
}

Str Str::substr(unsigned index, unsigned count) const {
    Str result;
    if (text == nullptr)
        return result;
    const unsigned length = static_cast<unsigned>(std::strlen(text));
    if (index > length)
        index = length;
    if (count > length - index)
        count = length - index;
    result.adopt(copyOf(text + index, count, count + 1), static_cast<int>(count + 1));
    return result;
}

void Str::toUpper() {
    if (text != nullptr)
        CharUpperA(text);
}

int Str::compare(const char* s) const {
    const int r = lstrcmpA(orEmpty(text), orEmpty(s));
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int Str::localToCompUnicode() {
    int size;
    char* buffer = convertWith(strCalls.NFConvertLocalToCompUnicode, orEmpty(text), &size);
    if (buffer == nullptr)
        return 0;
    adopt(buffer, size);
    return 1;
}

int Str::compUnicodeToLocal() {
    int size;
    char* buffer = convertWith(strCalls.NFConvertCompUnicodeToLocal, orEmpty(text), &size);
    if (buffer == nullptr)
        return 0;
    adopt(buffer, size);
    return 1;
}

int Str::builtInToCompUnicode() {
    int size;
    char* buffer = convertWith(strCalls.NFConvertBuiltInToCompUnicode, orEmpty(text), &size);
    if (buffer == nullptr)
        return 0;
    adopt(buffer, size);
    return 1;
}

int Str::localToUTF8() {
    const char* src = orEmpty(text);
    const int count = strCalls.NFConvertLocalToUnicode(src, nullptr, 0, kDefaultChar, nullptr);
    if (count <= 0)
        return 0;
    HeapArray<wchar_t> units = makeHeapArray<wchar_t>(static_cast<size_t>(count));
    if (!units)
        return 0;
    strCalls.NFConvertLocalToUnicode(src, units.get(), count, kDefaultChar, nullptr);
    units[count - 1] = 0;
    const unsigned size = utf8SizeOf(units.get());
    char* buffer = heapArray<char>(size);
    if (buffer == nullptr)
        return 0;
    encodeUtf8Text(units.get(), reinterpret_cast<unsigned char*>(buffer));
    adopt(buffer, static_cast<int>(size));
    return 1;
}

int Str::utf8ToLocal() {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(orEmpty(text));
    HeapArray<wchar_t> units = makeHeapArray<wchar_t>(utf8UnitCount(bytes) + 1);
    if (!units)
        return 0;
    decodeUtf8Text(bytes, units.get());
    const int size = strCalls.NFConvertUnicodeToLocal(units.get(), nullptr, 0, kDefaultChar, nullptr);
    if (size <= 0)
        return 0;
    char* buffer = heapArray<char>(static_cast<size_t>(size));
    if (buffer == nullptr)
        return 0;
    strCalls.NFConvertUnicodeToLocal(units.get(), buffer, size, kDefaultChar, nullptr);
    buffer[size - 1] = 0;
    adopt(buffer, size);
    return 1;
}

unsigned Str::utf8ToUTF16(wchar_t* out, unsigned count) const {
    return decodeUtf8Into(text, out, count);
}

unsigned Str::utf8ToUTF16(unsigned short* out, unsigned count) const {
    return decodeUtf8Into(text, out, count);
}

// --- UnicodeStr --------------------------------------------------------------------------------

namespace {

template <class Unit>
void buildCompUnicode(const Unit* s, char** text, int* capacity) {
    static const Unit kEmpty[] = {0};
    if (s == nullptr)
        s = kEmpty;
    const unsigned size = compUnicodeSizeOf(s);
    *text = heapArray<char>(size);
    *capacity = 0;
    if (*text != nullptr) {
        encodeCompUnicodeText(s, reinterpret_cast<unsigned char*>(*text));
        *capacity = static_cast<int>(size);
    }
}

}  // namespace

UnicodeStr::UnicodeStr(const wchar_t* s) {
    buildCompUnicode(s, &text, &capacity);
}

UnicodeStr::UnicodeStr(const unsigned short* s) {
    buildCompUnicode(s, &text, &capacity);
}

UnicodeStr::~UnicodeStr() = default;

unsigned UnicodeStr::getUnicode(wchar_t* out, unsigned count) const {
    return decodeCompUnicodeInto(text, out, count);
}

unsigned UnicodeStr::getUnicode(unsigned short* out, unsigned count) const {
    return decodeCompUnicodeInto(text, out, count);
}

}  // namespace kvo
