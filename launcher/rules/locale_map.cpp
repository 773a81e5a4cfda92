#include "locale_map.h"

namespace kvo::launcher {

namespace {

struct LocaleRow {
    unsigned primary;
    int subLanguage;  // -1: any
    const char* language;
    const char* region;
};

const LocaleRow kLocales[] = {
    {0x04, 1, "zh", "TW"},   // Chinese, traditional
    {0x04, 2, "zh", "CN"},   // Chinese, simplified
    {0x07, -1, "de", "DE"},  // German
    {0x09, -1, "en", "US"},  // English
    {0x0A, -1, "es", "ES"},  // Spanish
    {0x0C, -1, "fr", "FR"},  // French
    {0x11, -1, "ja", "JP"},  // Japanese
    {0x12, -1, "ko", "KR"},  // Korean
};

}  // namespace

void localeForLanguageId(unsigned short languageId, const char** language, const char** region) {
    unsigned primary = languageId & 0x3FFu;
    int subLanguage = languageId >> 10;
    for (const LocaleRow& row : kLocales) {
        if (row.primary == primary && (row.subLanguage < 0 || row.subLanguage == subLanguage)) {
            *language = row.language;
            *region = row.region;
            return;
        }
    }
    *language = "en";
    *region = "US";
}

}  // namespace kvo::launcher
