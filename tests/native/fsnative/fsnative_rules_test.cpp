// nqfsfunc's rules: roots and list patterns (double-byte characters whose second byte is 0x5C),
// UNC and absolute paths, connection names, attribute and drive-type mapping, file-time halves,
// handles in a Java long, block bounds, the drive-string block and the growing name list.
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstring>
#include <string>

#include "heap_failure.h"
#include "name_list.h"
#include "native_values.h"
#include "path_rules.h"

namespace {

using namespace kvo::fsnative;
using kvo::LeadBytePredicate;

// Code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC.
bool lead932(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
bool noLead(unsigned char) {
    return false;
}

std::string text(const kvo::HeapArray<char>& array) {
    return array ? std::string(array.get()) : "<null>";
}

TEST(FsNativePathRules, TrailingBackslashAndListPattern) {
    const struct {
        const char* local;
        LeadBytePredicate lead;
        const char* root;
        const char* pattern;
    } cases[] = {
        {"C:", noLead, "C:\\", "C:\\*.*"},
        {"C:\\", noLead, "C:\\", "C:\\*.*"},
        {"\\\\server\\share", noLead, "\\\\server\\share\\", "\\\\server\\share\\*.*"},
        {"dir\\", noLead, "dir\\", "dir\\*.*"},
        // U+8868 in code page 932 is 95 5C: its second byte is no backslash.
        {"C:\\\x95\x5C", lead932, "C:\\\x95\x5C\\", "C:\\\x95\x5C\\*.*"},
        {"C:\\\x95\x5C\\", lead932, "C:\\\x95\x5C\\", "C:\\\x95\x5C\\*.*"},
        {"C:\\\x95\x5C", noLead, "C:\\\x95\x5C", "C:\\\x95\x5C*.*"},
        // A lead byte at the very end (a cut character) is a character of its own.
        {"ab\x95", lead932, "ab\x95\\", "ab\x95\\*.*"},
        {"", noLead, "\\", "<null>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(withTrailingBackslash(c.local, c.lead)), c.root) << c.local;
        EXPECT_EQ(text(listPattern(c.local, c.lead)), c.pattern) << c.local;
    }
}

TEST(FsNativePathRules, RootBufferOf128Bytes) {
    EXPECT_TRUE(fitsRootBuffer(std::string(127, 'x').c_str()));
    EXPECT_FALSE(fitsRootBuffer(std::string(128, 'x').c_str()));
    EXPECT_TRUE(fitsRootBuffer(""));
}

TEST(FsNativePathRules, DotAndDotDot) {
    EXPECT_TRUE(isDotOrDotDot("."));
    EXPECT_TRUE(isDotOrDotDot(".."));
    for (const char* name : {"...", ".x", "..x", "", "a"})
        EXPECT_FALSE(isDotOrDotDot(name)) << name;
}

TEST(FsNativePathRules, UncAndAbsolutePaths) {
    const struct {
        std::u16string path;
        bool unc, absolute;
    } cases[] = {
        {u"\\\\server\\share", true, true},
        {u"\\\\server\\", true, true},
        {u"\\\\server", false, false},
        {u"C:\\temp", false, true},
        {u"C:\\", false, true},
        {u"C:", false, false},
        {u"\\\\a\\b", true, true},
        {u"temp\\file", false, false},
        {u"", false, false},
        {u"\\", false, false},
        {u"\\\\", false, false},
        {u"\\\\\\", true, false},
        {u"\\\\\\\\", true, true},
        {u"C:/", false, false},
        {u"\\\\\uFF3C\\", true, true},
        {u"\\\\x\uFF3Cy", false, false},
    };
    for (const auto& c : cases) {
        const auto* units = reinterpret_cast<const std::uint16_t*>(c.path.data());
        EXPECT_EQ(isUncPath(units, c.path.size()), c.unc) << c.path.size();
        EXPECT_EQ(isAbsolutePath(units, c.path.size()), c.absolute) << c.path.size();
    }
}

TEST(FsNativePathRules, ConnectionNamesThatDoNotFitAreSkipped) {
    std::setlocale(LC_ALL, "C");
    char out[kUseRemoteNameSize];
    EXPECT_TRUE(narrowUseName(L"\\\\server\\share", out, sizeof(out), 0));
    EXPECT_STREQ(out, "\\\\server\\share");
    const std::wstring fits(kUseRemoteNameSize - 1, L'r');
    EXPECT_TRUE(narrowUseName(fits.c_str(), out, sizeof(out), 0));
    EXPECT_EQ(std::strlen(out), kUseRemoteNameSize - 1);
    const std::wstring tooLong(kUseRemoteNameSize, L'r');
    EXPECT_FALSE(narrowUseName(tooLong.c_str(), out, sizeof(out), 0));
    EXPECT_FALSE(narrowUseName(fits.c_str(), out, sizeof(out), 1)) << "no room for the backslash";
    EXPECT_FALSE(narrowUseName(nullptr, out, sizeof(out), 0));
    EXPECT_FALSE(narrowUseName(L"\x4E2D", out, sizeof(out), 0)) << "not in the C locale";

    EXPECT_TRUE(useNameMatchesRoot(L"Z:", "Z:\\"));
    EXPECT_FALSE(useNameMatchesRoot(L"Z:", "z:\\"));
    EXPECT_FALSE(useNameMatchesRoot(L"Z:", "Z:"));
    EXPECT_FALSE(useNameMatchesRoot(nullptr, "Z:\\"));
    const std::wstring longLocal(kUseLocalNameSize, L'Z');
    EXPECT_FALSE(useNameMatchesRoot(longLocal.c_str(), (std::string(kUseLocalNameSize, 'Z') + "\\").c_str()));
}

// Java constants unlike the system's bits, so that a missing mapping shows.
constexpr std::int32_t kJavaBits[kAttributeCount] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
constexpr std::int32_t kJavaTypes[kDriveTypeCount] = {11, 12, 13, 14, 15};

TEST(FsNativeValues, AttributesAndDriveTypes) {
    EXPECT_EQ(systemAttributes(0x01 | 0x02, kJavaBits), 0x1u | 0x2u);
    EXPECT_EQ(systemAttributes(0x08 | 0x80, kJavaBits), 0x10u | 0x800u);
    EXPECT_EQ(systemAttributes(0, kJavaBits), 0u);
    EXPECT_EQ(systemAttributes(0xFF, kJavaBits), 0x1u | 0x2 | 0x4 | 0x10 | 0x20 | 0x80 | 0x100 | 0x800);
    EXPECT_EQ(javaAttributes(0x1 | 0x2 | 0x20, kJavaBits), 0x01 | 0x02 | 0x10);
    EXPECT_EQ(javaAttributes(0x400 | 0x2000 | 0x10, kJavaBits), 0x08) << "other system bits are dropped";
    const std::int32_t zeros[kAttributeCount] = {};
    EXPECT_EQ(systemAttributes(-1, zeros), 0u) << "a constant of 0 stands for no bit";

    const std::uint32_t types[] = {0, 1, 2, 3, 4, 5, 6, 7};
    const std::int32_t expected[] = {0, 0, 11, 12, 13, 14, 15, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(javaDriveType(types[i], kJavaTypes), expected[i]) << types[i];
}

TEST(FsNativeValues, FileTimeHalvesAndDosWords) {
    const std::uint64_t value = 0x01D5C1F2'8A3B4C5DULL;
    EXPECT_EQ(lowHalf(value), static_cast<std::int32_t>(0x8A3B4C5D));
    EXPECT_EQ(highHalf(value), 0x01D5C1F2);
    EXPECT_EQ(joinHalves(lowHalf(value), highHalf(value)), value);
    EXPECT_EQ(joinHalves(-1, -1), ~0ULL);
    EXPECT_EQ(dosWord(0x1234ABCD), 0xABCDu);
    EXPECT_EQ(dosWord(-1), 0xFFFFu);
    EXPECT_EQ(dosField(0x8021), 0x8021) << "zero-extended, never negative";
}

TEST(FsNativeValues, HandlesInAJavaLong) {
    EXPECT_EQ(handleOf(kNoHandle), nullptr);
    EXPECT_EQ(handleOf(0), nullptr);
    EXPECT_EQ(handleField(reinterpret_cast<void*>(static_cast<std::intptr_t>(-1))), -1);
    void* small = reinterpret_cast<void*>(static_cast<std::intptr_t>(0x1234));
    EXPECT_EQ(handleOf(handleField(small)), small);
    if (sizeof(void*) == 8) {
        // The whole handle, not its low 32 bits.
        void* wide = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x123456789AULL));
        EXPECT_EQ(handleField(wide), 0x123456789ALL);
        EXPECT_EQ(handleOf(handleField(wide)), wide);
    }
}

TEST(FsNativeValues, BlocksInsideTheirArray) {
    const struct {
        std::int32_t off, len, length;
        bool fits;
    } cases[] = {
        {0, 0, 0, true},
        {0, 5, 5, true},
        {5, 0, 5, true},
        {2, 3, 5, true},
        {0, 6, 5, false},
        {5, 1, 5, false},
        {6, 0, 5, false},
        {-1, 1, 5, false},
        {1, -1, 5, false},
        {INT_MAX, 1, 5, false},
        {1, INT_MAX, 5, false},
        {INT_MAX, INT_MAX, INT_MAX, false},
        {INT_MAX, 0, INT_MAX, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(blockFits(c.off, c.len, c.length), c.fits) << c.off << " " << c.len << " " << c.length;
}

TEST(FsNativeValues, RootStringsStayInsideTheirBlock) {
    const char block[] = "A:\\\0C:\\\0Z:\\\0";
    RootStrings roots(block, sizeof(block) - 1);
    EXPECT_STREQ(roots.next(), "A:\\");
    EXPECT_STREQ(roots.next(), "C:\\");
    EXPECT_STREQ(roots.next(), "Z:\\");
    EXPECT_EQ(roots.next(), nullptr);
    // A block cut inside a string: that string is not read.
    const char cut[] = {'A', ':', '\\', 0, 'C', ':'};
    RootStrings partial(cut, sizeof(cut));
    EXPECT_STREQ(partial.next(), "A:\\");
    EXPECT_EQ(partial.next(), nullptr);
    RootStrings empty(block, 0);
    EXPECT_EQ(empty.next(), nullptr);
}

TEST(FsNativeNameList, GrowsBy32AndKeepsItsNames) {
    NameList names;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(names.add(("name" + std::to_string(i)).c_str()));
    ASSERT_EQ(names.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_STREQ(names[static_cast<std::size_t>(i)], ("name" + std::to_string(i)).c_str());
}

TEST(FsNativeNameList, AFailedAllocationLeavesTheListAsItWas) {
    const int allocations = kvotest::forEachFailingAllocation([](int n) {
        NameList names;
        std::size_t added = 0;
        for (int i = 0; i < 40; ++i) {
            if (!names.add("entry"))
                break;
            ++added;
        }
        EXPECT_EQ(names.size(), added) << n;
        for (std::size_t i = 0; i < names.size(); ++i)
            EXPECT_STREQ(names[i], "entry");
    });
    EXPECT_EQ(allocations, 42);  // two steps of the list and 40 names
}

}  // namespace
