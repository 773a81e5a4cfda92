#include "path_rules.h"

#include <cstdlib>
#include <cstring>

namespace kvo::fsnative {

namespace {

constexpr char kBackslash = '\\';
constexpr const char kAllEntries[] = "*.*";

// A copy of text followed by suffix (with a backslash between them when separator is set).
HeapArray<char> joined(const char* text, bool separator, const char* suffix) {
    const std::size_t length = std::strlen(text);
    const std::size_t suffixLength = std::strlen(suffix);
    HeapArray<char> result = makeHeapArray<char>(length + (separator ? 1 : 0) + suffixLength + 1);
    if (!result)
        return result;
    char* out = result.get();
    std::memcpy(out, text, length);
    out += length;
    if (separator)
        *out++ = kBackslash;
    std::memcpy(out, suffix, suffixLength + 1);
    return result;
}

}  // namespace

bool fitsRootBuffer(const char* modifiedUtf8) {
    return std::strlen(modifiedUtf8) < kRootBufferSize;
}

HeapArray<char> withTrailingBackslash(const char* local, LeadBytePredicate isLeadByte) {
    return joined(local, !endsWithBackslash(local, isLeadByte), "");
}

HeapArray<char> listPattern(const char* local, LeadBytePredicate isLeadByte) {
    if (local[0] == 0)
        return HeapArray<char>();
    return joined(local, !endsWithBackslash(local, isLeadByte), kAllEntries);
}

HeapArray<std::uint16_t> listPattern(const std::uint16_t* units, std::size_t count) {
    if (count == 0)
        return HeapArray<std::uint16_t>();
    const bool separator = units[count - 1] != kBackslash;
    const std::size_t tail = std::strlen(kAllEntries);
    HeapArray<std::uint16_t> pattern = makeHeapArray<std::uint16_t>(count + (separator ? 1 : 0) + tail + 1);
    if (!pattern)
        return pattern;
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i)
        pattern[n++] = units[i];
    if (separator)
        pattern[n++] = kBackslash;
    for (std::size_t i = 0; i < tail; ++i)
        pattern[n++] = static_cast<unsigned char>(kAllEntries[i]);
    pattern[n] = 0;
    return pattern;
}

bool isDotOrDotDot(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool isUncPath(const std::uint16_t* units, std::size_t count) {
    if (count < 2 || units[0] != kBackslash || units[1] != kBackslash)
        return false;
    for (std::size_t i = 2; i < count; ++i)
        if (units[i] == kBackslash)
            return true;
    return false;
}

bool isAbsolutePath(const std::uint16_t* units, std::size_t count) {
    if (count > 2 && units[1] == ':' && units[2] == kBackslash)
        return true;
    if (count > 3 && units[0] == kBackslash && units[1] == kBackslash) {
        for (std::size_t i = 3; i < count; ++i)
            if (units[i] == kBackslash)
                return true;
    }
    return false;
}

bool narrowUseName(const wchar_t* name, char* out, std::size_t size, std::size_t reserve) {
    if (name == nullptr)
        return false;
    const std::size_t need = std::wcstombs(nullptr, name, 0);
    if (need == static_cast<std::size_t>(-1) || need + reserve + 1 > size)
        return false;
    std::memset(out, 0, size);
    return std::wcstombs(out, name, size) == need;
}

bool useNameMatchesRoot(const wchar_t* localName, const char* root) {
    char local[kUseLocalNameSize];
    if (!narrowUseName(localName, local, sizeof(local), 1))
        return false;
    const std::size_t length = std::strlen(local);
    local[length] = kBackslash;
    local[length + 1] = 0;
    return std::strcmp(local, root) == 0;
}

}  // namespace kvo::fsnative
