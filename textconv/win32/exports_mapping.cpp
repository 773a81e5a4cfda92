// The local code page number, the ASCII test and the mapping handles (ordinals 14, 15, 20 to 23).
#include <windows.h>

#include "codepage_numbers.h"
#include "heap.h"
#include "kvoucd32.h"
#include "static_tables.h"
#include "table_convert.h"

using namespace kvo::textconv;

extern "C" {

int WINAPI NFGetCodepage(void) noexcept {
    return static_cast<int>(productCodePageOfAnsi(GetACP()));
}

int WINAPI NFIsAllASCII(const char* text) noexcept {
    return isAllAscii(reinterpret_cast<const unsigned char*>(text));
}

NFCPMapping WINAPI NFLoadCPMapping(int codePage) noexcept {
    kvo::HeapObject<cp_tables> table = kvo::makeHeapObject<cp_tables>(static_cast<unsigned>(codePage));
    if (!table || !table->load())
        return nullptr;
    return table.release();
}

int WINAPI NFFreeCPMapping(NFCPMapping mapping) noexcept {
    if (mapping == nullptr)
        return 0;
    kvo::heapDelete(static_cast<cp_tables*>(mapping));
    return 1;
}

int WINAPI NFConvertUnicodeCharToCP(NFCPMapping mapping, int unit, char* dst, int def, int* used) noexcept {
    cp_tables* table = static_cast<cp_tables*>(mapping);
    if (table == nullptr || !table->load())
        return 0;
    uint16_t code = table->unicode_to_cp(static_cast<uint16_t>(unit & 0xFFFF));
    setUsed(used, code == kNoMapping);
    if (code == kNoMapping)
        code = defaultByte(def);
    if (code < 0x100) {
        if (dst != nullptr)
            dst[0] = static_cast<char>(code);
        return 1;
    }
    if (dst != nullptr) {
        dst[0] = static_cast<char>(code >> 8);
        dst[1] = static_cast<char>(code & 0xFF);
    }
    return 2;
}

int WINAPI NFConvertCPCharToUnicode(NFCPMapping mapping, const char* src, wchar_t* dst, int def,
                                    int* used) noexcept {
    static const unsigned char kEmpty[] = {0};
    cp_tables* table = static_cast<cp_tables*>(mapping);
    if (table == nullptr || !table->load())
        return 0;
    const unsigned char* bytes = src != nullptr ? reinterpret_cast<const unsigned char*>(src) : kEmpty;
    int doubleByte = 0;
    uint16_t unit = table->cp_to_unicode(bytes, &doubleByte);
    setUsed(used, unit == kNoMapping);
    if (unit == kNoMapping)
        unit = defaultUnit(def);
    if (dst != nullptr)
        *dst = static_cast<wchar_t>(unit);
    return doubleByte ? 2 : 1;
}

}  // extern "C"
