// The nine tables of the library, built when it is loaded (in this order) and destroyed, in reverse
// order, when it is unloaded. Each loads its mapping file at first use.
#pragma once

#include <atomic>

#include "cp_tables.h"

namespace kvo::textconv {

extern cp_tables builtInTable;   // 1252: BuiltIn conversions; locales en, fr, de, es, it, pt
extern cp_tables japaneseTable;  // 932 -> 942: locale ja
extern cp_tables koreanTable;    // 949: locale ko
extern cp_tables chineseTable;   // 1381: locale zh
extern cp_tables taiwanTable;    // 950: locale zhTW
extern cp_tables localTable;     // NFGetCodepage() at load time: local conversions
extern cp_tables ebcdicTable;    // 37
extern cp_tables latin1Table;    // 819
extern cp_tables oemTable;       // 850

// The local table when local conversions may use it (its code page is not system-converted and it
// loads), else null: the caller then takes the system way.
cp_tables* localTableForConversion();

// The flat tables of the local table where local conversions may use it, else null (the system
// way): remembered once the local table has loaded, so that a whole-text conversion finds them with
// one read. Until then each call asks localTableForConversion.
extern std::atomic<const CpFastTables*> localFastTablesOnceLoaded;
const CpFastTables* localFastTablesFirstTime();
inline const CpFastTables* localFastTablesIfLoaded() {
    return localFastTablesOnceLoaded.load(std::memory_order_acquire);
}
inline const CpFastTables* localFastTables() {
    if (const CpFastTables* f = localFastTablesIfLoaded())
        return f;
    return localFastTablesFirstTime();
}

// A fixed table if it loads, else null.
inline cp_tables* loaded(cp_tables& table) {
    return table.load() ? &table : nullptr;
}

}  // namespace kvo::textconv
