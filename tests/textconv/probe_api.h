// kvoucd32 bound at run time from a given file (GetProcAddress by name), and a digest of every lookup
// of a mapping handle, so that two processes can show that they see the same table.
#pragma once

#include <windows.h>

#include <cstdint>

#include "kvoucd32.h"

struct ProbeApi {
    HMODULE module = nullptr;
    decltype(&NFLoadCPMapping) load = nullptr;
    decltype(&NFFreeCPMapping) free = nullptr;
    decltype(&NFConvertUnicodeCharToCP) unicodeCharToCp = nullptr;
    decltype(&NFConvertCPCharToUnicode) cpCharToUnicode = nullptr;
    decltype(&NFConvertLocaleToCompUnicode) localeToCompUnicode = nullptr;
    decltype(&NFConvertLocalToUnicode) localToUnicode = nullptr;
    decltype(&NFConvertUnicodeToLocal) unicodeToLocal = nullptr;
    decltype(&NFConvertUTF8ToCompUnicode) utf8ToCompUnicode = nullptr;

    bool bind(const char* dllPath) {
        module = LoadLibraryA(dllPath);
        if (module == nullptr)
            return false;
        load = procAs<decltype(load)>("NFLoadCPMapping");
        free = procAs<decltype(free)>("NFFreeCPMapping");
        unicodeCharToCp = procAs<decltype(unicodeCharToCp)>("NFConvertUnicodeCharToCP");
        cpCharToUnicode = procAs<decltype(cpCharToUnicode)>("NFConvertCPCharToUnicode");
        localeToCompUnicode = procAs<decltype(localeToCompUnicode)>("NFConvertLocaleToCompUnicode");
        localToUnicode = procAs<decltype(localToUnicode)>("NFConvertLocalToUnicode");
        unicodeToLocal = procAs<decltype(unicodeToLocal)>("NFConvertUnicodeToLocal");
        utf8ToCompUnicode = procAs<decltype(utf8ToCompUnicode)>("NFConvertUTF8ToCompUnicode");
        return utf8ToCompUnicode && load && free && unicodeCharToCp && cpCharToUnicode &&
               localeToCompUnicode && localToUnicode && unicodeToLocal;
    }
    template <class F>
    F procAs(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    void unbind() {
        if (module != nullptr)
            FreeLibrary(module);
        module = nullptr;
    }

    // FNV-1a over both lookups of every 16-bit value.
    uint64_t digest(NFCPMapping mapping) const {
        uint64_t h = 1469598103934665603ull;
        auto mix = [&h](unsigned v) {
            for (int i = 0; i < 4; ++i) {
                h ^= (v >> (8 * i)) & 0xFF;
                h *= 1099511628211ull;
            }
        };
        for (unsigned v = 1; v < 0x10000; ++v) {
            char bytes[3] = {0, 0, 0};
            int used = 0;
            const int n = unicodeCharToCp(mapping, static_cast<int>(v), bytes, '?', &used);
            mix(static_cast<unsigned>(n) | (static_cast<unsigned char>(bytes[0]) << 8) |
                (static_cast<unsigned char>(bytes[1]) << 16) | (used << 24));
            char text[3] = {0, 0, 0};
            if (v > 0xFF) {
                text[0] = static_cast<char>(v >> 8);
                text[1] = static_cast<char>(v & 0xFF);
            } else {
                text[0] = static_cast<char>(v);
            }
            wchar_t unit = 0;
            const int consumed = cpCharToUnicode(mapping, text, &unit, 0xFFFD, &used);
            mix(static_cast<unsigned>(consumed) | (static_cast<unsigned>(unit) << 8) | (used << 24));
        }
        return h;
    }
};
