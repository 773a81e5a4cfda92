// Calls every export of kvoucd32 through the ordinal import library: the link fails if a symbol of the
// import library does not match the header. Run with an argument it prints the local code page.
#include <cstdio>

#include "kvoucd32.h"

int main(int argc, char** argv) {
    if (argc < 2)
        return 0;
    char out[64];
    wchar_t wide[64];
    int used = 0;
    const char* s = argv[1];
    int sum = 0;
    sum += NFConvertUnicodeToLocal(L"a", out, 64, '*', &used);
    sum += NFConvertUnicodeToLatin1(L"a", out, 64, '*', &used);
    sum += NFConvertLocalToUnicode(s, wide, 64, '*', &used);
    sum += NFConvertLatin1ToUnicode(s, wide, 64, '*', &used);
    sum += NFConvertCompUnicodeToLocal(s, out, 64, '*', &used);
    sum += NFConvertCompUnicodeToLatin1(s, out, 64, '*', &used);
    sum += NFConvertCompUnicodeToEBCDIC(s, out, 64, '*', &used);
    sum += NFConvertLocalToCompUnicode(s, out, 64, '*', &used);
    sum += NFConvertLatin1ToCompUnicode(s, out, 64, '*', &used);
    sum += NFConvertEBCDICToCompUnicode(s, out, 64, '*', &used);
    sum += NFConvertBuiltInToCompUnicode(s, out, 64, '*', &used);
    sum += NFConvertUTF8ToLocal(s, out, 64, 0, 0);
    sum += NFConvertLocalToUTF8(s, out, 64, 0, 0);
    sum += NFGetCodepage();
    sum += NFIsAllASCII(s);
    sum += NFConvertUnicodeCharToLocal('a', out, '*', &used);
    sum += NFConvertLocalCharToUnicode(s, wide, '*', &used);
    sum += NFConvertLocalToEBCDIC(s, out, 64, '*', &used);
    sum += NFConvertEBCDICToLocal(s, out, 64, '*', &used);
    NFCPMapping mapping = NFLoadCPMapping(0);
    sum += NFConvertUnicodeCharToCP(mapping, 'a', out, '*', &used);
    sum += NFConvertCPCharToUnicode(mapping, s, wide, '*', &used);
    sum += NFFreeCPMapping(mapping);
    sum += NFGetEncodedLength(s);
    sum += NFConvertLocaleToCompUnicode("en_US", s, out, 64, '*', &used);
    sum += NFConvertUTF8ToCompUnicode(s, out, 64, 0, 0);
    sum += NFConvertUnicodeToUTF8(L"a", out, 64);
    sum += NFConvertUTF8ToLatin1(s, out, 64, 0, 0);
    sum += NFConvertLatin1ToUTF8(s, out, 64, 0, 0);
    sum += NFConvertOEMToCompUnicode(s, out, 64, '*', &used);
    std::printf("%d %d\n", NFGetCodepage(), sum);
    return 0;
}
