#include "static_tables.h"

#include "codepage_numbers.h"

cp_tables g_builtInTable(1252);
cp_tables g_japaneseTable(932);
cp_tables g_koreanTable(949);
cp_tables g_chineseTable(1381);
cp_tables g_taiwanTable(950);
cp_tables g_localTable(0);
cp_tables g_ebcdicTable(37);
cp_tables g_latin1Table(819);
cp_tables g_oemTable(850);

cp_tables* localTableForConversion() {
    if (kvo::textconv::isSystemConvertedCodePage(g_localTable.codePage()))
        return nullptr;
    return loaded(g_localTable);
}
