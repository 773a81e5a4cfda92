// Allocation failures (kvo::heap) injected at each allocation of each conversion, with the library's
// code linked into this program. A conversion whose temporary buffer can't be had returns 0 and
// writes nothing; a table whose memory can't be had is unavailable (NFLoadCPMapping gives null) and
// loads at the next call, from any thread. Conversions on loaded tables allocate nothing. The program
// runs under the ANSI code pages 1252 and 936 (local code page 1381: every local conversion the
// system's way).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "cp_tables.h"
#include "heap_failure.h"
#include "kvoucd32.h"

using kvo::textconv::cp_tables;

namespace {

constexpr char kSentinel = '\x5A';

bool localIsSystemWay() {
    return NFGetCodepage() == 1381;
}

// Plain text for the local code page of the run: ASCII and, where 1252 is local, an accented letter.
const char* localText() {
    return GetACP() == 1252 ? "caf\xE9 au lait" : "cafe au lait";
}

struct Family {
    const char* name;
    std::function<int(char* dst, int dstLen)> convert;
    int unitSize;  // bytes of one output unit
    enum Allocates { Never, Always, OnTheSystemWay } allocates;
};

std::vector<Family> families() {
    static const wchar_t* const kWide = L"caf\x00E9 \x4E2D";
    static const char* const kUtf8 = "caf\xC3\xA9 \xE4\xB8\xAD";
    static const char* const kComp = "\x6C\x64\x69\xE6\x04";  // "caf" and U+00E9
    return {
        {"UTF8ToCompUnicode", [](char* d, int n) { return NFConvertUTF8ToCompUnicode(kUtf8, d, n, 0, 0); }, 1,
         Family::Always},
        {"UTF8ToLatin1", [](char* d, int n) { return NFConvertUTF8ToLatin1(kUtf8, d, n, 0, 0); }, 1,
         Family::Never},
        {"UTF8ToLocal", [](char* d, int n) { return NFConvertUTF8ToLocal(kUtf8, d, n, 0, 0); }, 1,
         Family::OnTheSystemWay},
        {"LocalToUTF8", [](char* d, int n) { return NFConvertLocalToUTF8(localText(), d, n, 0, 0); }, 1,
         Family::Always},
        {"Latin1ToUTF8", [](char* d, int n) { return NFConvertLatin1ToUTF8("caf\xE9", d, n, 0, 0); }, 1,
         Family::Always},
        {"UnicodeToUTF8", [](char* d, int n) { return NFConvertUnicodeToUTF8(kWide, d, n); }, 1,
         Family::Always},
        {"LocalToEBCDIC",
         [](char* d, int n) { return NFConvertLocalToEBCDIC(localText(), d, n, '*', nullptr); }, 1,
         Family::Always},
        {"EBCDICToLocal",
         [](char* d, int n) {
             return NFConvertEBCDICToLocal("\x83\x81\x86\x51\x40\xC1", d, n, '*', nullptr);
         },
         1, Family::Always},
        {"CompUnicodeToLocal",
         [](char* d, int n) { return NFConvertCompUnicodeToLocal(kComp, d, n, '*', nullptr); }, 1,
         Family::OnTheSystemWay},
        {"UnicodeToLocal", [](char* d, int n) { return NFConvertUnicodeToLocal(kWide, d, n, '*', nullptr); },
         1, Family::Never},
        {"LocalToUnicode",
         [](char* d, int n) {
             return NFConvertLocalToUnicode(localText(), reinterpret_cast<wchar_t*>(d), n, '*', nullptr);
         },
         2, Family::Never},
        {"LocalToCompUnicode",
         [](char* d, int n) { return NFConvertLocalToCompUnicode(localText(), d, n, '*', nullptr); }, 1,
         Family::Never},
        {"Latin1ToUnicode",
         [](char* d, int n) {
             return NFConvertLatin1ToUnicode("caf\xE9", reinterpret_cast<wchar_t*>(d), n, '*', nullptr);
         },
         2, Family::Never},
        {"CompUnicodeToEBCDIC",
         [](char* d, int n) { return NFConvertCompUnicodeToEBCDIC(kComp, d, n, '*', nullptr); }, 1,
         Family::Never},
        {"LocaleToCompUnicode",
         [](char* d, int n) { return NFConvertLocaleToCompUnicode("ja", "\x82\xA0", d, n, '*', nullptr); }, 1,
         Family::Never},
    };
}

// Each allocation of each conversion failing in turn (the tables loaded beforehand): 0 and an untouched
// buffer; without a failure the whole output. A conversion that allocates nothing is never affected.
TEST(AllocationFailure, EachAllocationOfAConversionGivesZeroAndWritesNothing) {
    for (const Family& f : families()) {
        const int size = f.convert(nullptr, 0);  // also loads the tables the conversion uses
        ASSERT_GT(size, 1) << f.name;
        std::vector<char> expected(static_cast<size_t>(size * f.unitSize), kSentinel);
        ASSERT_EQ(f.convert(expected.data(), size), size) << f.name;

        std::vector<int> results;
        const int allocations = kvotest::forEachFailingAllocation([&](int n) {
            std::vector<char> out(expected.size() + 4, kSentinel);
            const int result = f.convert(out.data(), size);
            results.push_back(result);
            if (result == 0) {
                EXPECT_EQ(out, std::vector<char>(out.size(), kSentinel)) << f.name << ": allocation " << n;
            } else {
                EXPECT_EQ(result, size) << f.name;
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << f.name;
            }
        });
        const bool allocates =
            f.allocates == Family::Always || (f.allocates == Family::OnTheSystemWay && localIsSystemWay());
        if (allocates)
            EXPECT_GT(allocations, 0) << f.name;
        else
            EXPECT_EQ(allocations, 0) << f.name << " allocates on a loaded table";
        ASSERT_EQ(results.size(), static_cast<size_t>(allocations) + 1) << f.name;
        for (int n = 1; n <= allocations; ++n)
            EXPECT_EQ(results[n - 1], 0) << f.name << ": allocation " << n << " failed";
        EXPECT_EQ(results.back(), size) << f.name;
    }
}

struct LoadCall {
    cp_tables* table;
    int result = -1;
};

DWORD WINAPI loadThread(void* arg) {
    LoadCall* call = static_cast<LoadCall*>(arg);
    call->result = call->table->load();
    return 0;
}

// Runs load() on another thread; -1 if it did not come back (a lock left held).
int loadOnAnotherThread(cp_tables& table) {
    LoadCall call{&table};
    HANDLE thread = CreateThread(nullptr, 0, loadThread, &call, 0, nullptr);
    if (thread == nullptr)
        return -2;
    const bool ended = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended ? call.result : -1;
}

// Each allocation of a table load failing in turn (the per-process tables of a double-byte and two
// single-byte code pages): the table is unavailable, its lock is free (another thread then loads it),
// and NFLoadCPMapping gives null.
TEST(AllocationFailure, EachAllocationOfATableLoadGivesTableUnavailable) {
    for (unsigned codePage : {942u, 850u, 37u}) {
        const uint16_t codeOfA = codePage == 37 ? 0xC1 : 'A';
        std::vector<int> results;
        const int allocations = kvotest::forEachFailingAllocation([&](int n) {
            cp_tables table(codePage);
            results.push_back(table.load());
            if (results.back() == 0) {
                EXPECT_EQ(loadOnAnotherThread(table), 1) << codePage << ": allocation " << n;
            }
            EXPECT_EQ(table.unicode_to_cp('A'), codeOfA) << codePage;
        });
        EXPECT_GT(allocations, 0) << codePage;
        ASSERT_EQ(results.size(), static_cast<size_t>(allocations) + 1);
        for (int n = 1; n <= allocations; ++n)
            EXPECT_EQ(results[n - 1], 0) << codePage << ": allocation " << n << " failed";
        EXPECT_EQ(results.back(), 1) << codePage;

        std::vector<bool> handles;
        const int handleAllocations = kvotest::forEachFailingAllocation([&](int) {
            const NFCPMapping mapping = NFLoadCPMapping(static_cast<int>(codePage));
            handles.push_back(mapping != nullptr);
            char out[2];
            if (mapping != nullptr) {
                EXPECT_EQ(NFConvertUnicodeCharToCP(mapping, 'A', out, '*', nullptr), 1);
            }
            NFFreeCPMapping(mapping);
        });
        EXPECT_EQ(handleAllocations, allocations + 1) << codePage << ": the handle, then the table";
        std::vector<bool> expectedHandles(static_cast<size_t>(handleAllocations), false);
        expectedHandles.push_back(true);
        EXPECT_EQ(handles, expectedHandles) << codePage << ": null for each failed allocation";
    }
}

}  // namespace
