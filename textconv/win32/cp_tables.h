// One code-page table: the image of its mapping file "CP<n>.UNI" (beside the library), held in the
// named shared section "KVO" + file name that all processes of the product use (or, where that
// section can't be used, in a section of this process alone), and the record pointers of this process
// into it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "cp_fast_build.h"
#include "cp_image.h"
#include "unique_handle.h"

namespace kvo::textconv {

class cp_tables {
public:
    // codePage 0 is the local code page (NFGetCodepage()); then 932, 934, 936 and 938 are renumbered
    // to 942, 944, 946 and 948. Loads nothing.
    explicit cp_tables(unsigned codePage);
    virtual ~cp_tables();

    cp_tables(const cp_tables&) = delete;
    cp_tables& operator=(const cp_tables&) = delete;

    // 1 when the table is loaded (at once if it already was), 0 if it can't be; a failed load is
    // tried again at the next call. Safe to call from several threads at once; never waits for
    // another process.
    int load() {
        if (loaded.load(std::memory_order_acquire))
            return 1;
        return loadOnce();
    }

    // Lookups; only on a loaded table.
    uint16_t unicode_to_cp(uint16_t unit) const { return kvo::textconv::cpUnicodeToCp(records, unit); }
    uint16_t cp_to_unicode(const unsigned char* p, int* doubleByte) const {
        return kvo::textconv::cpToUnicode(records, p, doubleByte);
    }
    const kvo::textconv::CpRecords& tables() const { return records; }
    // Flat per-process expansion of the records, for the whole-text conversions.
    const kvo::textconv::CpFastTables& fastTables() const { return fast; }

    unsigned codePage() const { return code_page; }

private:
    int loadOnce();
    bool loadImage();

    kvo::UniqueLocal descriptor;  // the section's security descriptor, or none
    SECURITY_ATTRIBUTES security{};
    kvo::UniqueHandle section;  // the section holding the image, or none while not loaded
    kvo::UniqueView view;       // this process's read-only view of it: the records point into it
    kvo::textconv::CpRecords records{};
    kvo::textconv::CpFastTables fast{};
    unsigned code_page = 0;
    SRWLOCK loadLock = SRWLOCK_INIT;
    std::atomic<bool> loaded{false};
};

}  // namespace kvo::textconv
