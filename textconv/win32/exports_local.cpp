// The local conversions (ordinals 1, 3, 5, 8, 16, 17 and 24): table-driven on the local table, or the
// system's way where the local code page is system-converted or its table does not load.
#include <windows.h>

#include "kvoucd32.h"
#include "static_tables.h"
#include "system_convert.h"
#include "cp_fast_tables.h"
#include "table_convert.h"

using namespace kvo::textconv;

namespace {

// Until the local table has loaded, or where it never does: load it, then the export again (it then
// finds the flat tables with one read), or the system's way. Out of line, so that the exports keep no
// registers for this way.
KVO_NOINLINE int unicodeToLocalFirstTime(const wchar_t* src, char* dst, int dstLen, int def, int* used) {
    if (localFastTablesFirstTime() != nullptr)
        return NFConvertUnicodeToLocal(src, dst, dstLen, def, used);
    return systemUnicodeToLocal(src, dst, dstLen, def, used);
}

KVO_NOINLINE int localToUnicodeFirstTime(const char* src, wchar_t* dst, int dstLen, int def, int* used) {
    if (localFastTablesFirstTime() != nullptr)
        return NFConvertLocalToUnicode(src, dst, dstLen, def, used);
    return systemLocalToUnicode(bytesOf(src), dst, dstLen, def, used);
}

KVO_NOINLINE int compUnicodeToLocalFirstTime(const char* src, char* dst, int dstLen, int def, int* used) {
    if (localFastTablesFirstTime() != nullptr)
        return NFConvertCompUnicodeToLocal(src, dst, dstLen, def, used);
    return systemCompUnicodeToLocal(bytesOf(src), dst, dstLen, def, used);
}

KVO_NOINLINE int localToCompUnicodeFirstTime(const char* src, char* dst, int dstLen, int def, int* used) {
    if (localFastTablesFirstTime() != nullptr)
        return NFConvertLocalToCompUnicode(src, dst, dstLen, def, used);
    return systemLocalToCompUnicode(bytesOf(src), bytesOf(dst), dstLen, def, used);
}

}  // namespace

extern "C" {

int WINAPI NFConvertUnicodeToLocal(const wchar_t* src, char* dst, int dstLen, int def, int* used) noexcept {
    if (const CpFastTables* f = localFastTablesIfLoaded())
        return fastUnicodeToCp(*f, src, bytesOf(dst), dstLen, def, used);
    return unicodeToLocalFirstTime(src, dst, dstLen, def, used);
}

int WINAPI NFConvertLocalToUnicode(const char* src, wchar_t* dst, int dstLen, int def, int* used) noexcept {
    if (const CpFastTables* f = localFastTablesIfLoaded())
        return fastCpToUnicode(*f, bytesOf(src), dst, dstLen, def, used);
    return localToUnicodeFirstTime(src, dst, dstLen, def, used);
}

int WINAPI NFConvertCompUnicodeToLocal(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    if (const CpFastTables* f = localFastTablesIfLoaded())
        return fastCompUnicodeToCp(*f, bytesOf(src), bytesOf(dst), dstLen, def, used);
    return compUnicodeToLocalFirstTime(src, dst, dstLen, def, used);
}

int WINAPI NFConvertLocalToCompUnicode(const char* src, char* dst, int dstLen, int def, int* used) noexcept {
    if (const CpFastTables* f = localFastTablesIfLoaded())
        return fastCpToCompUnicode(*f, bytesOf(src), bytesOf(dst), dstLen, def, used);
    return localToCompUnicodeFirstTime(src, dst, dstLen, def, used);
}

int WINAPI NFConvertUnicodeCharToLocal(int unit, char* dst, int def, int* used) noexcept {
    if (cp_tables* table = localTableForConversion())
        return NFConvertUnicodeCharToCP(table, unit, dst, def, used);
    return systemUnicodeCharToLocal(static_cast<wchar_t>(unit & 0xFFFF), dst, def, used);
}

int WINAPI NFConvertLocalCharToUnicode(const char* src, wchar_t* dst, int def, int* used) noexcept {
    if (cp_tables* table = localTableForConversion())
        return NFConvertCPCharToUnicode(table, src, dst, def, used);
    return systemLocalCharToUnicode(bytesOf(src), dst, def, used);
}

int WINAPI NFGetEncodedLength(const char* src) noexcept {
    if (!localTable.load())
        return 0;
    return tableEncodedLength(localTable.tables(), bytesOf(src));
}

}  // extern "C"
