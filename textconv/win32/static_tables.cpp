#include "static_tables.h"

#include "codepage_numbers.h"

namespace kvo::textconv {

cp_tables builtInTable(1252);
cp_tables japaneseTable(932);
cp_tables koreanTable(949);
cp_tables chineseTable(1381);
cp_tables taiwanTable(950);
cp_tables localTable(0);
cp_tables ebcdicTable(37);
cp_tables latin1Table(819);
cp_tables oemTable(850);

cp_tables* localTableForConversion() {
    if (kvo::textconv::isSystemConvertedCodePage(localTable.codePage()))
        return nullptr;
    return loaded(localTable);
}

std::atomic<const CpFastTables*> localFastTablesOnceLoaded{nullptr};

const CpFastTables* localFastTablesFirstTime() {
    cp_tables* table = localTableForConversion();
    if (table == nullptr)
        return nullptr;
    // A loaded table stays loaded, its flat tables unchanged, until the library is unloaded.
    localFastTablesOnceLoaded.store(&table->fastTables(), std::memory_order_release);
    return &table->fastTables();
}

}  // namespace kvo::textconv
