// The mapping loader (cp_tables::load) through its seam (os_calls.h): the library's code is linked into
// this program, the mapping files come from a scratch directory (GetModuleFileNameA stands in for the
// library's path), and every table uses a code page number of its own, so that its section is new.
// A failing call gives "table unavailable" and leaves nothing behind, and the next call loads the
// table; short reads and short files are read as far as they go; a section that another process left
// empty, holds with something else, or a name taken by another kind of object, never stops a load.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture_output.h"
#include "test_files.h"
#include "cp_tables.h"
#include "kvoucd32.h"
#include "os_calls.h"
#include "seam.h"

using kvo::textconv::cp_tables;
using kvo::textconv::kNoMapping;
using kvo::textconv::os;

namespace {

// The library's path as the stand-in reports it: a file in the scratch directory of the test.
std::string libraryPath;

DWORD WINAPI scratchLibraryPath(HMODULE, LPSTR path, DWORD size) {
    if (libraryPath.size() + 1 > size)
        return size;
    std::memcpy(path, libraryPath.c_str(), libraryPath.size() + 1);
    return static_cast<DWORD>(libraryPath.size());
}

// Stand-ins for the failing calls.
DWORD WINAPI noLibraryPath(HMODULE, LPSTR, DWORD) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}
HANDLE WINAPI noFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}
int readCalls = 0;
BOOL WINAPI readFailsAfterTheSizeField(HANDLE file, LPVOID into, DWORD count, LPDWORD got, LPOVERLAPPED) {
    if (readCalls++ == 0)
        return ReadFile(file, into, count, got, nullptr);
    *got = 0;
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
}
BOOL WINAPI readSevenBytesAtATime(HANDLE file, LPVOID into, DWORD count, LPDWORD got, LPOVERLAPPED) {
    ++readCalls;
    return ReadFile(file, into, count < 7 ? count : 7, got, nullptr);
}
HANDLE WINAPI noSection(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCSTR) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}
LPVOID WINAPI noView(HANDLE, DWORD, DWORD, DWORD, SIZE_T) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}
LPVOID WINAPI noCommit(LPVOID, SIZE_T, DWORD, DWORD) {
    SetLastError(ERROR_COMMITMENT_LIMIT);
    return nullptr;
}

// A code page number that no other table of any process uses.
unsigned freshCodePage() {
    static unsigned next = 100000 + (GetCurrentProcessId() % 10000) * 100;
    return next++;
}

std::string sectionName(unsigned codePage) {
    return "KVOCP" + std::to_string(codePage) + ".UNI";
}

bool sectionExists(unsigned codePage) {
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, sectionName(codePage).c_str());
    if (section != nullptr)
        CloseHandle(section);
    return section != nullptr;
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override { libraryPath = dir_.file("kvoucd32.dll"); }

    // A new code page whose mapping file holds content.
    unsigned install(const std::string& content) {
        const unsigned codePage = freshCodePage();
        kvotest::writeFile(dir_.file("CP" + std::to_string(codePage) + ".UNI"), content);
        return codePage;
    }
    // A copy of a shipped mapping file under a new code page number.
    unsigned installCopyOf(unsigned shipped) {
        return install(
            kvotest::readFile(kvotest::programDirectory() + "CP" + std::to_string(shipped) + ".UNI"));
    }

    kvotest::ScratchDir dir_{"kvoldr"};
    const kvo::Replacement<decltype(os.GetModuleFileNameA)> path_ =
        kvo::replace(os.GetModuleFileNameA, scratchLibraryPath);
};

// A table of CP850 (é is 0x82, ░ is 0xB0) is right.
void expectCp850(const cp_tables& table, const std::string& what) {
    EXPECT_EQ(table.unicode_to_cp(0x00E9), 0x82) << what;
    EXPECT_EQ(table.unicode_to_cp('A'), 'A') << what;
    EXPECT_EQ(table.unicode_to_cp(0x4E2D), kNoMapping) << what;
    const unsigned char text[] = {0xB0, 0};
    EXPECT_EQ(table.cp_to_unicode(text, nullptr), 0x2591) << what;
}

// Each call of the loader failing in turn, where the table's section is new and where another table
// holds it complete already: the load reports 0 where the call was needed, leaves no section behind,
// and the next call of the same table loads it.
TEST_F(Loader, AFailingCallGivesTableUnavailableAndTheNextCallLoads) {
    using Under = void (*)(const std::function<void()>&);
    const struct {
        const char* what;
        Under underFailure;
        bool needed;  // where the section exists complete already
    } cases[] = {
        {"GetModuleFileNameA",
         [](const std::function<void()>& body) {
             const auto r = kvo::replace(os.GetModuleFileNameA, noLibraryPath);
             body();
         },
         true},
        {"CreateFileA",
         [](const std::function<void()>& body) {
             const auto r = kvo::replace(os.CreateFileA, noFile);
             body();
         },
         false},
        {"ReadFile after the size field",
         [](const std::function<void()>& body) {
             readCalls = 0;
             const auto r = kvo::replace(os.ReadFile, readFailsAfterTheSizeField);
             body();
         },
         false},
        {"CreateFileMappingA",
         [](const std::function<void()>& body) {
             const auto r = kvo::replace(os.CreateFileMappingA, noSection);
             body();
         },
         false},
        {"MapViewOfFile",
         [](const std::function<void()>& body) {
             const auto r = kvo::replace(os.MapViewOfFile, noView);
             body();
         },
         true},
        {"VirtualAlloc",
         [](const std::function<void()>& body) {
             const auto r = kvo::replace(os.VirtualAlloc, noCommit);
             body();
         },
         true},
    };
    for (const auto& c : cases) {
        for (const bool shared : {false, true}) {
            const std::string what =
                std::string(c.what) + (shared ? ", section held complete" : ", new section");
            const unsigned codePage = installCopyOf(850);
            cp_tables holder(codePage);
            if (shared) {
                ASSERT_EQ(holder.load(), 1);
            }
            cp_tables table(codePage);
            const int expected = shared && !c.needed ? 1 : 0;
            c.underFailure([&] {
                EXPECT_EQ(table.load(), expected) << what;
                const NFCPMapping mapping = NFLoadCPMapping(static_cast<int>(codePage));
                EXPECT_EQ(mapping != nullptr, expected == 1) << what;
                NFFreeCPMapping(mapping);
                EXPECT_EQ(sectionExists(codePage), shared) << what << ": a section was left behind";
            });
            EXPECT_EQ(table.load(), 1) << what << ": the next call";
            expectCp850(table, what);
        }
    }
}

// A file delivered a few bytes per read is read to its end.
TEST_F(Loader, ShortReadsAreContinued) {
    const unsigned codePage = installCopyOf(850);
    cp_tables table(codePage);
    readCalls = 0;
    {
        const auto r = kvo::replace(os.ReadFile, readSevenBytesAtATime);
        ASSERT_EQ(table.load(), 1);
    }
    EXPECT_GT(readCalls, 100);
    expectCp850(table, "short reads");
}

// An image whose from-Unicode record comes first, then the single-byte record and, last, the record
// of lead byte 0x81 (0x81 0x40 is U+3000, 0x81 0x41 U+3001): 100 bytes.
std::string leadByteImage(uint32_t sizeField) {
    std::string image(80, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            image[at + k] = static_cast<char>(v >> (8 * k));
    };
    put32(0, sizeField);
    put32(8, 86);                                                 // to-Unicode records
    put32(12, 80);                                                // from-Unicode records
    image[16] = 0x01;                                             // to-Unicode: the single-byte record ...
    image[16 + 0x81 / 8] = static_cast<char>(1u << (0x81 % 8));   // ... and lead byte 0x81
    image[48] = 0x01;                                             // from-Unicode: page 0
    image += std::string("\x7F\x01\x00\x00\x01\x00", 6);          // page 0: 0x01..0x7F to themselves
    image += std::string("\x7F\x01\x00\x00\x01\x00", 6);          // single bytes likewise
    image += std::string("\x40\x41\x00\x00\x00\x30\x01\x30", 8);  // lead byte 0x81: 0x40..0x41
    return image;
}

// A file shorter than its size field is read as far as it goes, the rest of the image is zero, and
// that image is validated as any other.
TEST_F(Loader, FileShorterThanItsSizeFieldIsReadAsFarAsItGoes) {
    const unsigned char leadChar[] = {0x81, 0x40, 0};
    const struct {
        const char* what;
        std::string file;
        bool loads;
        uint16_t leadCharUnit;  // what 0x81 0x40 gives
    } cases[] = {
        {"whole file", leadByteImage(100), true, 0x3000},
        {"size field beyond the end of the file", leadByteImage(4096), true, 0x3000},
        {"the last record missing: a lead byte that maps nothing", leadByteImage(100).substr(0, 92), true,
         kNoMapping},
        {"cut inside a run: its value 0 would map characters to U+0000", leadByteImage(100).substr(0, 84),
         false, 0},
        {"size field beyond the section", leadByteImage(0x40001), false, 0},
        {"no whole size field", leadByteImage(100).substr(0, 3), false, 0},
    };
    for (const auto& c : cases) {
        cp_tables table(install(c.file));
        ASSERT_EQ(table.load(), c.loads ? 1 : 0) << c.what;
        if (!c.loads)
            continue;
        int doubleByte = -1;
        EXPECT_EQ(table.cp_to_unicode(leadChar, &doubleByte), c.leadCharUnit) << c.what;
        EXPECT_EQ(doubleByte, 1) << c.what;
        EXPECT_EQ(table.unicode_to_cp('A'), 'A') << c.what;
    }
}

// The section's name already taken: by a section whose image is not complete (its filler stopped or
// is still at work) or not valid, or by another kind of object. The table loads all the same, from
// the file into a section of this process, and the section of that name is left as it was.
TEST_F(Loader, ASectionNameTakenElsewhereNeverStopsTheLoad) {
    const std::string cp850 = kvotest::readFile(kvotest::programDirectory() + "CP850.UNI");
    ASSERT_GT(cp850.size(), 80u);
    const struct {
        const char* what;
        bool asMutex;
        uint32_t sizeField;  // written at the start of the section (0: nothing committed)
    } cases[] = {
        {"empty section", false, 0},
        {"records announced beyond the image", false, 80},
        {"size beyond the section", false, 0x7FFFFFF0},
        {"a mutex of that name", true, 0},
    };
    for (const auto& c : cases) {
        const unsigned codePage = install(cp850);
        const std::string name = sectionName(codePage);
        HANDLE taken;
        unsigned char* view = nullptr;
        if (c.asMutex) {
            taken = CreateMutexA(nullptr, TRUE, name.c_str());
        } else {
            taken = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE, 0,
                                       0x40000, name.c_str());
            view = static_cast<unsigned char*>(MapViewOfFile(taken, FILE_MAP_WRITE, 0, 0, 0));
            if (c.sizeField != 0 && VirtualAlloc(view, 4096, MEM_COMMIT, PAGE_READWRITE) != nullptr) {
                std::memcpy(view, &c.sizeField, 4);
                std::memset(view + 16, 0xFF, 64);  // both bitmaps full
            }
        }
        ASSERT_NE(taken, nullptr) << c.what;
        {
            cp_tables table(codePage);
            EXPECT_EQ(table.load(), 1) << c.what;
            expectCp850(table, c.what);
        }
        if (view != nullptr) {
            uint32_t size = 0;
            if (c.sizeField != 0)
                std::memcpy(&size, view, 4);
            EXPECT_EQ(size, c.sizeField) << c.what << ": the other section was written";
            UnmapViewOfFile(view);
        }
        CloseHandle(taken);
    }
}

// A complete section of another process is used without its file.
TEST_F(Loader, ACompleteSectionIsUsedWithoutTheFile) {
    const unsigned codePage = installCopyOf(850);
    cp_tables first(codePage);
    ASSERT_EQ(first.load(), 1);
    ASSERT_TRUE(DeleteFileA(dir_.file("CP" + std::to_string(codePage) + ".UNI").c_str()));
    cp_tables second(codePage);
    ASSERT_EQ(second.load(), 1);
    expectCp850(second, "without the file");
}

}  // namespace
