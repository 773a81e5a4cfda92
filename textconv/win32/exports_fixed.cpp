// Conversions with the fixed code pages (Latin-1 819, EBCDIC 37, OEM 850, BuiltIn 1252) and the
// locale-selected tables. Without their table they return 0 and write nothing.
#include <windows.h>

#include <cstring>
#include <initializer_list>

#include "cp_fast_tables.h"
#include "heap.h"
#include "kvoucd32.h"
#include "static_tables.h"
#include "table_convert.h"

using namespace kvo::textconv;

namespace {

int toCompUnicode(cp_tables& table, const char* src, char* dst, int dstLen, int def, int* used) {
    if (!table.load())
        return 0;
    return fastCpToCompUnicode(table.fastTables(), bytesOf(src), bytesOf(dst), dstLen, def, used);
}

int fromCompUnicode(cp_tables& table, const char* src, char* dst, int dstLen, int def, int* used) {
    if (!table.load())
        return 0;
    return fastCompUnicodeToCp(table.fastTables(), bytesOf(src), bytesOf(dst), dstLen, def, used);
}

bool startsWith(const char* s, const char* prefix) {
    return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

cp_tables& tableForLocale(const char* locale) {
    if (locale == nullptr)
        return localTable;
    for (const char* western : {"en", "fr", "de", "es", "it", "pt"}) {
        if (startsWith(locale, western))
            return builtInTable;
    }
    if (startsWith(locale, "ja"))
        return japaneseTable;
    if (startsWith(locale, "ko"))
        return koreanTable;
    if (std::strcmp(locale, "zhTW") == 0)
        return taiwanTable;
    if (startsWith(locale, "zh"))
        return chineseTable;
    return localTable;
}

// First stage into a temporary CompUnicode text, second stage into the caller's buffer. A first stage
// without its table, or a temporary text that can't be allocated, ends the conversion with 0.
template <class First, class Second>
int twoStage(First first, Second second, const char* src, char* dst, int dstLen, int def, int* used) {
    const int size = first(src, nullptr, 0, def, used);
    if (size == 0)
        return 0;
    const kvo::HeapArray<char> temp = kvo::makeHeapArray<char>(static_cast<size_t>(size));
    if (!temp)
        return 0;
    first(src, temp.get(), size, def, used);
    return second(temp.get(), dst, dstLen, def, used);
}

}  // namespace

extern "C" {

int WINAPI NFConvertUnicodeToLatin1(const wchar_t* src, char* dst, int dstLen, int def, int* used) noexcept {
    if (!latin1Table.load())
        return 0;
    return fastUnicodeToCp(latin1Table.fastTables(), src, bytesOf(dst), dstLen, def, used);
}

int WINAPI NFConvertLatin1ToUnicode(const char* src, wchar_t* dst, int dstLen, int def, int* used) noexcept {
    if (!latin1Table.load())
        return 0;
    return fastCpToUnicode(latin1Table.fastTables(), bytesOf(src), dst, dstLen, def, used);
}

int WINAPI NFConvertCompUnicodeToLatin1(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    return fromCompUnicode(latin1Table, src, dst, dstLen, def, used);
}

int WINAPI NFConvertCompUnicodeToEBCDIC(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    return fromCompUnicode(ebcdicTable, src, dst, dstLen, def, used);
}

int WINAPI NFConvertLatin1ToCompUnicode(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    return toCompUnicode(latin1Table, src, dst, dstLen, def, used);
}

int WINAPI NFConvertEBCDICToCompUnicode(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    return toCompUnicode(ebcdicTable, src, dst, dstLen, def, used);
}

int WINAPI NFConvertBuiltInToCompUnicode(const char* src, char* dst, int dstLen, int def,
                                         int* used) noexcept {
    return toCompUnicode(builtInTable, src, dst, dstLen, def, used);
}

int WINAPI NFConvertOEMToCompUnicode(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    return toCompUnicode(oemTable, src, dst, dstLen, def, used);
}

int WINAPI NFConvertLocaleToCompUnicode(const char* locale, const char* src, char* dst, int dstLen, int def,
                                        int* used) noexcept {
    return toCompUnicode(tableForLocale(locale), src, dst, dstLen, def, used);
}

int WINAPI NFConvertLocalToEBCDIC(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    return twoStage(NFConvertLocalToCompUnicode, NFConvertCompUnicodeToEBCDIC, src, dst, dstLen, def, used);
}

int WINAPI NFConvertEBCDICToLocal(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    return twoStage(NFConvertEBCDICToCompUnicode, NFConvertCompUnicodeToLocal, src, dst, dstLen, def, used);
}

}  // extern "C"
