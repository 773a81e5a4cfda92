// nqfsfunc's platform-free rules from hostile input (fsnative/rules/path_rules.*, native_values.*,
// name_list.*, and the local-text rule they use, support/rules/local_text.*):
//  - roots with their trailing backslash and listing patterns, over local text of a double-byte
//    code page (a 0x5C byte that is the second byte of a character is no backslash), the root
//    buffer's bound, "." and "..";
//  - UNC and absolute paths on UTF-16 units (a buffer of exactly the path's units, not terminated);
//  - the names of network connections narrowed into buffers of every small size, and the comparison
//    of a connection's local name with a root;
//  - attribute bits and drive types through the Java class's constants, FILETIME halves, DOS date and
//    time words, handles in a Java long, the bounds of a block within a Java array;
//  - the roots in a drive-string block of exactly its length, not terminated;
//  - the growing name list, with the allocations failing on demand.
// Each is compared with a model written here, over whole characters where text is concerned.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "heap.h"
#include "heap_failure.h"
#include "local_text_model.h"
#include "name_list.h"
#include "native_values.h"
#include "path_rules.h"

using namespace kvo::fsnative;
using kvofuzz::charactersOf;
using kvofuzz::ExactBuffer;
using kvofuzz::isLeadByte;
using kvofuzz::takeLeadBytes;
using kvofuzz::takeLocal;

namespace {

// Whether wcstombs narrows to UTF-8 here (C.UTF-8), or to ASCII only (the C locale).
bool utf8Locale = false;

// --- Local text as characters ------------------------------------------------------------------

bool modelEndsWithBackslash(const std::string& s) {
    const auto chars = charactersOf(s);
    return !chars.empty() && chars.back() == "\\";
}

std::string shown(const kvo::HeapArray<char>& a) {
    return a ? std::string(a.get()) : std::string("<null>");
}

void checkLocalPath(const std::string& path) {
    // Exactly the path and its terminator.
    ExactBuffer<char> local(path.size() + 1, 0);
    std::memcpy(local.get(), path.c_str(), path.size() + 1);

    KVO_FUZZ_CHECK(fitsRootBuffer(local.get()) == (path.size() < 128), "fitsRootBuffer of %zu bytes",
                   path.size());
    const bool ends = modelEndsWithBackslash(path);
    KVO_FUZZ_CHECK(kvo::endsWithBackslash(local.get(), isLeadByte) == ends, "endsWithBackslash(%s)",
                   path.c_str());

    const std::string root = ends ? path : path + "\\";
    const kvo::HeapArray<char> gotRoot = withTrailingBackslash(local.get(), isLeadByte);
    KVO_FUZZ_CHECK(gotRoot && gotRoot.get() == root, "withTrailingBackslash(%s): %s", path.c_str(),
                   shown(gotRoot).c_str());

    const kvo::HeapArray<char> pattern = listPattern(local.get(), isLeadByte);
    if (path.empty())
        KVO_FUZZ_CHECK(!pattern, "listPattern of an empty path: %s", shown(pattern).c_str());
    else
        KVO_FUZZ_CHECK(pattern && pattern.get() == root + "*.*", "listPattern(%s): %s", path.c_str(),
                       shown(pattern).c_str());

    KVO_FUZZ_CHECK(isDotOrDotDot(local.get()) == (path == "." || path == ".."), "isDotOrDotDot(%s)",
                   path.c_str());

    // Short of memory: null, never a partial text.
    kvo::HeapArray<char> noRoot;
    kvo::HeapArray<char> noPattern;
    {
        const kvotest::FailAllocation failure(1);
        noRoot = withTrailingBackslash(local.get(), isLeadByte);
    }
    {
        const kvotest::FailAllocation failure(1);
        noPattern = listPattern(local.get(), isLeadByte);
    }
    KVO_FUZZ_CHECK(!noRoot, "withTrailingBackslash without memory");
    KVO_FUZZ_CHECK(!noPattern || path.empty(), "listPattern without memory");
}

// --- UNC and absolute paths --------------------------------------------------------------------

void checkUnitPath(const std::vector<uint16_t>& units) {
    ExactBuffer<uint16_t> path(units.size(), 0);
    for (size_t i = 0; i < units.size(); ++i)
        path[i] = units[i];
    const std::u16string s(units.begin(), units.end());
    // \\server\share: two backslashes, then another one somewhere after them.
    const bool unc =
        s.size() >= 2 && s.compare(0, 2, u"\\\\") == 0 && s.find(u'\\', 2) != std::u16string::npos;
    // C:\... longer than 2, or \\ and a backslash at or after the fourth unit, longer than 3.
    const bool absolute =
        (s.size() > 2 && s[1] == u':' && s[2] == u'\\') ||
        (s.size() > 3 && s.compare(0, 2, u"\\\\") == 0 && s.find(u'\\', 3) != std::u16string::npos);
    KVO_FUZZ_CHECK(isUncPath(path.get(), units.size()) == unc, "isUncPath of %zu units", units.size());
    KVO_FUZZ_CHECK(isAbsolutePath(path.get(), units.size()) == absolute, "isAbsolutePath of %zu units",
                   units.size());
}

// --- Connection names --------------------------------------------------------------------------

// The bytes wcstombs makes of the name, or false when it can't convert it.
bool modelNarrow(const std::vector<uint16_t>& name, std::string& out) {
    out.clear();
    for (uint16_t u : name) {
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (!utf8Locale || (u >= 0xD800 && u <= 0xDFFF)) {
            return false;
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return true;
}

void checkUseName(const std::vector<uint16_t>& units, const std::string& root) {
    ExactBuffer<wchar_t> name(units.size() + 1, 0);
    for (size_t i = 0; i < units.size(); ++i)
        name[i] = static_cast<wchar_t>(units[i]);
    std::string narrow;
    const bool converts = modelNarrow(units, narrow);

    // Every small size and reserve: the name and zeros up to the size, or false (never cut).
    for (size_t size = 0; size <= narrow.size() + 4 && size <= 100; ++size) {
        for (size_t reserve = 0; reserve <= 2; ++reserve) {
            ExactBuffer<char> out(size, '#');
            const bool fits = converts && narrow.size() + reserve + 1 <= size;
            KVO_FUZZ_CHECK(narrowUseName(name.get(), out.get(), size, reserve) == fits,
                           "narrowUseName of %zu units into %zu bytes, reserve %zu", units.size(), size,
                           reserve);
            if (fits) {
                KVO_FUZZ_CHECK(std::memcmp(out.get(), narrow.data(), narrow.size()) == 0,
                               "narrowUseName: bytes differ");
                for (size_t i = narrow.size(); i < size; ++i)
                    KVO_FUZZ_CHECK(out[i] == 0, "narrowUseName: byte %zu of %zu not zero", i, size);
            }
        }
    }
    KVO_FUZZ_CHECK(!narrowUseName(nullptr, nullptr, 0, 0), "narrowUseName of null");

    // Byte for byte (case-sensitive), the local name with its backslash; names that do not fit 80
    // bytes with the backslash never match.
    ExactBuffer<char> rootText(root.size() + 1, 0);
    std::memcpy(rootText.get(), root.c_str(), root.size() + 1);
    const bool matches = converts && narrow.size() + 2 <= kUseLocalNameSize && narrow + "\\" == root;
    KVO_FUZZ_CHECK(useNameMatchesRoot(name.get(), rootText.get()) == matches, "useNameMatchesRoot(%s)",
                   root.c_str());
    KVO_FUZZ_CHECK(!useNameMatchesRoot(nullptr, rootText.get()), "useNameMatchesRoot of null");
}

// --- Values between Java and the system --------------------------------------------------------

void checkValues(FuzzedDataProvider& in) {
    int32_t javaAttr[kAttributeCount];
    bool singleBits = true;
    int32_t seen = 0;
    for (size_t i = 0; i < kAttributeCount; ++i) {
        // Mostly distinct single bits, as the Java class has them; sometimes anything.
        javaAttr[i] = in.ConsumeBool()
                          ? in.ConsumeIntegral<int32_t>()
                          : static_cast<int32_t>(1u << in.ConsumeIntegralInRange<unsigned>(0, 31));
        const uint32_t v = static_cast<uint32_t>(javaAttr[i]);
        if (v == 0 || (v & (v - 1)) != 0 || (seen & javaAttr[i]) != 0)
            singleBits = false;
        seen |= javaAttr[i];
    }
    const uint32_t systemBits = in.ConsumeIntegral<uint32_t>();
    const int32_t javaBits = in.ConsumeIntegral<int32_t>();

    uint32_t expectedSystem = 0;
    int32_t expectedJava = 0;
    for (size_t i = 0; i < kAttributeCount; ++i) {
        if (javaAttr[i] != 0 && (javaBits & javaAttr[i]) == javaAttr[i])
            expectedSystem |= kSystemAttributes[i];
        if (systemBits & kSystemAttributes[i])
            expectedJava |= javaAttr[i];
    }
    KVO_FUZZ_CHECK(systemAttributes(javaBits, javaAttr) == expectedSystem, "systemAttributes(%X)",
                   static_cast<unsigned>(javaBits));
    KVO_FUZZ_CHECK(javaAttributes(systemBits, javaAttr) == expectedJava, "javaAttributes(%X)", systemBits);
    const uint32_t known = 0x1 | 0x2 | 0x4 | 0x10 | 0x20 | 0x80 | 0x100 | 0x800;
    KVO_FUZZ_CHECK((systemAttributes(javaBits, javaAttr) & ~known) == 0, "systemAttributes: unknown bits");
    if (singleBits) {
        // With the Java class's kind of constants the two mappings undo each other.
        KVO_FUZZ_CHECK(
            systemAttributes(javaAttributes(systemBits, javaAttr), javaAttr) == (systemBits & known),
            "system -> Java -> system of %X", systemBits);
        KVO_FUZZ_CHECK(javaAttributes(systemAttributes(javaBits, javaAttr), javaAttr) == (javaBits & seen),
                       "Java -> system -> Java of %X", static_cast<unsigned>(javaBits));
    }

    int32_t javaTypes[kDriveTypeCount];
    for (size_t i = 0; i < kDriveTypeCount; ++i)
        javaTypes[i] = in.ConsumeIntegral<int32_t>();
    const uint32_t type =
        in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 8) : in.ConsumeIntegral<uint32_t>();
    const int32_t expectedType = type >= 2 && type <= 6 ? javaTypes[type - 2] : 0;
    KVO_FUZZ_CHECK(javaDriveType(type, javaTypes) == expectedType, "javaDriveType(%u)", type);

    // FILETIME halves as the Java int fields hold them.
    const int32_t low = in.ConsumeIntegral<int32_t>(), high = in.ConsumeIntegral<int32_t>();
    const uint64_t joined = joinHalves(low, high);
    KVO_FUZZ_CHECK(joined == (static_cast<uint64_t>(static_cast<uint32_t>(high)) * 0x100000000ull +
                              static_cast<uint32_t>(low)),
                   "joinHalves");
    KVO_FUZZ_CHECK(lowHalf(joined) == low && highHalf(joined) == high, "halves of joinHalves");
    const uint64_t time = in.ConsumeIntegral<uint64_t>();
    KVO_FUZZ_CHECK(joinHalves(lowHalf(time), highHalf(time)) == time, "joinHalves of the halves");

    // DOS words: the low 16 bits of the field; a word as a non-negative field.
    const int32_t field = in.ConsumeIntegral<int32_t>();
    KVO_FUZZ_CHECK(dosWord(field) == (static_cast<uint32_t>(field) % 65536u), "dosWord(%d)", field);
    const uint16_t word = in.ConsumeIntegral<uint16_t>();
    KVO_FUZZ_CHECK(dosField(word) >= 0 && dosField(word) == static_cast<int32_t>(word) &&
                       dosWord(dosField(word)) == word,
                   "dosField(%u)", word);

    // Handles in a Java long.
    const int64_t handle = in.ConsumeIntegral<int64_t>();
    void* expectedHandle = handle == -1 ? nullptr : reinterpret_cast<void*>(static_cast<intptr_t>(handle));
    if (sizeof(intptr_t) < sizeof(int64_t) && (handle < INTPTR_MIN || handle > INTPTR_MAX))
        expectedHandle = nullptr;
    KVO_FUZZ_CHECK(handleOf(handle) == expectedHandle, "handleOf(%lld)", static_cast<long long>(handle));
    KVO_FUZZ_CHECK(handleOf(kNoHandle) == nullptr && handleOf(0) == nullptr, "handleOf of no handle");
    void* pointer = reinterpret_cast<void*>(static_cast<uintptr_t>(in.ConsumeIntegral<uint64_t>()));
    KVO_FUZZ_CHECK(
        handleField(pointer) == static_cast<int64_t>(reinterpret_cast<intptr_t>(pointer)) &&
            (pointer == reinterpret_cast<void*>(intptr_t{-1}) || handleOf(handleField(pointer)) == pointer),
        "handle round trip");

    // A block within a Java array.
    const int32_t off = in.ConsumeIntegral<int32_t>(), len = in.ConsumeIntegral<int32_t>(),
                  length = in.ConsumeIntegral<int32_t>();
    const bool fits = off >= 0 && len >= 0 && length >= 0 && int64_t{off} + int64_t{len} <= int64_t{length};
    KVO_FUZZ_CHECK(blockFits(off, len, length) == fits, "blockFits(%d, %d, %d)", off, len, length);
}

// --- The drive-string block --------------------------------------------------------------------

void checkRootStrings(const std::string& block) {
    ExactBuffer<char> bytes(block.size(), 0);
    if (!block.empty())
        std::memcpy(bytes.get(), block.data(), block.size());
    // Strings one after another, each with its terminator inside the block; an empty one, or one
    // that runs to the block's end without a terminator, ends the list.
    std::vector<size_t> expected;
    for (size_t at = 0; at < block.size();) {
        const size_t end = block.find('\0', at);
        if (end == at || end == std::string::npos)
            break;
        expected.push_back(at);
        at = end + 1;
    }
    RootStrings roots(bytes.get(), block.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const char* root = roots.next();
        KVO_FUZZ_CHECK(root == bytes.get() + expected[i], "root %zu at %td, expected at %zu", i,
                       root ? root - bytes.get() : -1, expected[i]);
    }
    KVO_FUZZ_CHECK(roots.next() == nullptr, "a root after %zu", expected.size());
    KVO_FUZZ_CHECK(roots.next() == nullptr, "a root after the end");
}

// --- The name list ----------------------------------------------------------------------------

void checkNameList(const std::vector<std::string>& names, int failing) {
    NameList list;
    std::vector<std::string> expected;
    {
        const kvotest::FailAllocation failure(failing);  // 0: none fails
        for (const std::string& name : names) {
            const int before = failure.allocations();
            const bool added = list.add(name.c_str());
            // Added when none of its allocations (a bigger list, the copy) failed.
            const bool failedHere = failing > before && failing <= failure.allocations();
            KVO_FUZZ_CHECK(added == !failedHere, "add gave %d, allocation %d failing, %d made", added,
                           failing, failure.allocations());
            if (added)
                expected.push_back(name);
            KVO_FUZZ_CHECK(list.size() == expected.size(), "%zu names, expected %zu", list.size(),
                           expected.size());
        }
    }
    for (size_t i = 0; i < expected.size(); ++i)
        KVO_FUZZ_CHECK(list[i] != nullptr && expected[i] == list[i], "name %zu differs", i);
}

std::vector<uint16_t> takeUnits(FuzzedDataProvider& in, size_t max) {
    std::vector<uint16_t> units(in.ConsumeIntegralInRange<size_t>(0, max));
    for (uint16_t& u : units)
        u = in.ConsumeBool() ? static_cast<uint16_t>(in.ConsumeIntegralInRange<int>(0, 0x7F))
                             : in.ConsumeIntegral<uint16_t>();
    return units;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    utf8Locale = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // The code page: none, or a set of lead bytes (bits of 16 bytes for 0x80..0xFF).
    takeLeadBytes(in);
    const std::string path = takeLocal(in, 300);
    checkLocalPath(path);

    std::vector<uint16_t> units(path.begin(), path.end());
    checkUnitPath(takeUnits(in, 40));
    // The local path's bytes as units too: the separators and colons the fuzzer found there.
    for (uint16_t& u : units)
        u = static_cast<unsigned char>(u);
    checkUnitPath(units);

    // A connection name is a terminated text: up to its first zero unit.
    std::vector<uint16_t> useName = takeUnits(in, 90);
    useName.erase(std::find(useName.begin(), useName.end(), 0), useName.end());
    checkUseName(useName, in.ConsumeBool() ? path : std::string(useName.begin(), useName.end()) + "\\");

    checkValues(in);
    checkRootStrings(in.ConsumeRandomLengthString(200));

    std::vector<std::string> names;
    const int failing = in.ConsumeIntegralInRange<int>(0, 80);
    const size_t count = in.ConsumeIntegralInRange<size_t>(0, 70);
    for (size_t i = 0; i < count && in.remaining_bytes() > 0; ++i)
        names.push_back(takeLocal(in, 12));
    checkNameList(names, failing);
    return 0;
}
