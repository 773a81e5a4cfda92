// UTF-8 conversions (ordinals 12, 13, 26 to 29): decoded and encoded here, the code-page part through
// the Unicode conversions. Malformed UTF-8 becomes U+FFFD, and from there the default character.
// A temporary buffer that can't be allocated gives 0, and nothing is written.
#include <windows.h>

#include <cstring>

#include "cp_fast_utf8.h"
#include "heap.h"
#include "kvoucd32.h"
#include "static_tables.h"
#include "table_convert.h"

using namespace kvo::textconv;

namespace {

constexpr int kDefaultChar = '*';

// A null text reads as the empty text.
const unsigned char* bytesOrEmpty(const char* s) {
    static const unsigned char kEmpty[] = {0};
    return s != nullptr ? reinterpret_cast<const unsigned char*>(s) : kEmpty;
}

// The units of a UTF-8 text with their terminator, or null when their memory can't be had.
kvo::HeapArray<wchar_t> decodeUtf8ToUnits(const char* src) {
    const unsigned char* bytes = bytesOrEmpty(src);
    kvo::HeapArray<wchar_t> units = kvo::makeHeapArray<wchar_t>(utf8UnitCount(bytes) + size_t{1});
    if (units)
        decodeUtf8Text(bytes, units.get());
    return units;
}

// UTF-8 straight into a table's code page: one pass to count, one to convert; a too-small buffer is
// left untouched.
int utf8ToTable(const CpFastTables& f, const char* src, char* dst, int dstLen) {
    const unsigned char* bytes = bytesOrEmpty(src);
    const int size = static_cast<int>(fastUtf8ToCp(f, bytes, nullptr, kDefaultChar));
    if (dst != nullptr && dstLen >= size)
        fastUtf8ToCp(f, bytes, reinterpret_cast<unsigned char*>(dst), kDefaultChar);
    return size;
}

// UTF-8 through Unicode into a code page; a too-small buffer is left untouched.
int utf8ToCodePage(int(WINAPI* fromUnicode)(const wchar_t*, char*, int, int, int*), const char* src,
                   char* dst, int dstLen) {
    const kvo::HeapArray<wchar_t> units = decodeUtf8ToUnits(src);
    if (!units)
        return 0;
    const int size = fromUnicode(units.get(), nullptr, 0, kDefaultChar, nullptr);
    if (dst != nullptr && size != 0 && dstLen >= size)
        fromUnicode(units.get(), dst, size, kDefaultChar, nullptr);
    return size;
}

// A code page through Unicode into UTF-8; a too-small buffer is left untouched.
int codePageToUtf8(int(WINAPI* toUnicode)(const char*, wchar_t*, int, int, int*), const char* src, char* dst,
                   int dstLen) {
    const int count = toUnicode(src, nullptr, 0, kDefaultChar, nullptr);
    if (count <= 0)
        return 0;
    const kvo::HeapArray<wchar_t> units = kvo::makeHeapArray<wchar_t>(static_cast<size_t>(count));
    if (!units)
        return 0;
    toUnicode(src, units.get(), count, kDefaultChar, nullptr);
    units[count - 1] = 0;
    const int size = static_cast<int>(utf8SizeOf(units.get()));
    if (dst != nullptr && dstLen >= size)
        encodeUtf8Text(units.get(), reinterpret_cast<unsigned char*>(dst));
    return size;
}

}  // namespace

extern "C" {

int WINAPI NFConvertUTF8ToLocal(const char* src, char* dst, int dstLen, int, int) noexcept {
    if (const CpFastTables* f = localFastTables())
        return utf8ToTable(*f, src, dst, dstLen);
    return utf8ToCodePage(NFConvertUnicodeToLocal, src, dst, dstLen);
}

int WINAPI NFConvertUTF8ToLatin1(const char* src, char* dst, int dstLen, int, int) noexcept {
    if (!latin1Table.load())
        return 0;
    return utf8ToTable(latin1Table.fastTables(), src, dst, dstLen);
}

int WINAPI NFConvertUTF8ToCompUnicode(const char* src, char* dst, int dstLen, int, int) noexcept {
    const kvo::HeapArray<wchar_t> units = decodeUtf8ToUnits(src);
    if (!units)
        return 0;
    const int size = static_cast<int>(compUnicodeSizeOf(units.get()));
    if (dst != nullptr && dstLen >= size)
        encodeCompUnicodeText(units.get(), reinterpret_cast<unsigned char*>(dst));
    return size;
}

int WINAPI NFConvertLocalToUTF8(const char* src, char* dst, int dstLen, int, int) noexcept {
    return codePageToUtf8(NFConvertLocalToUnicode, src, dst, dstLen);
}

int WINAPI NFConvertLatin1ToUTF8(const char* src, char* dst, int dstLen, int, int) noexcept {
    return codePageToUtf8(NFConvertLatin1ToUnicode, src, dst, dstLen);
}

// The only conversion whose dst may overlap its source: it encodes from a copy.
int WINAPI NFConvertUnicodeToUTF8(const wchar_t* src, char* dst, int dstLen) noexcept {
    static const wchar_t kEmpty[] = {0};
    if (src == nullptr)
        src = kEmpty;
    const int size = static_cast<int>(utf8SizeOf(src));
    if (dst == nullptr)
        return size;
    if (dstLen < size) {
        if (dstLen > 0)
            dst[0] = 0;
        return size;
    }
    size_t length = 0;
    while (src[length])
        ++length;
    const kvo::HeapArray<wchar_t> copy = kvo::makeHeapArray<wchar_t>(length + 1);
    if (!copy)
        return 0;
    std::memcpy(copy.get(), src, (length + 1) * sizeof(wchar_t));
    encodeUtf8Text(copy.get(), reinterpret_cast<unsigned char*>(dst));
    return size;
}

}  // extern "C"
