// The launcher's class-path value rules from hostile text (launcher/rules/classpath_rules.*,
// bounded_path.*, support/rules/local_text.*): paths joined in 260-byte buffers, "classpath:" values
// and the search of the CLASSPATH list, duplicate detection (comparison ignoring case), the library
// path. The input gives the lead bytes of a double-byte code page (or none), then texts. Every result
// is compared with a model written here over whole characters; every buffer is exactly as large as
// the rules say.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bounded_path.h"
#include "classpath_rules.h"
#include "fuzz_support.h"
#include "local_text.h"
#include "local_text_model.h"

using namespace kvo;
using namespace kvo::launcher;
using kvofuzz::charactersOf;
using kvofuzz::ExactBuffer;
using kvofuzz::isLeadByte;
using kvofuzz::takeLeadBytes;
using kvofuzz::takeLocal;

namespace {

// --- The model: a local text as a list of characters ------------------------------------------

char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Characters equal ignoring the case of ASCII letters; double-byte characters exactly.
bool sameCharacter(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    if (a.size() == 2)
        return a == b;
    return fold(a[0]) == fold(b[0]);
}

bool modelEqualsIgnoreCase(const std::string& a, const std::string& b, bool dbcs) {
    if (a.size() != b.size())
        return false;
    const auto ca = charactersOf(a, dbcs);
    // The second text is read with the first one's character boundaries: equal texts have the same.
    size_t at = 0;
    for (const std::string& c : ca) {
        if (!sameCharacter(c, b.substr(at, c.size())))
            return false;
        at += c.size();
    }
    return true;
}

bool modelEndsWith(const std::string& text, const std::string& suffix, bool dbcs) {
    if (suffix.size() > text.size())
        return false;
    const size_t start = text.size() - suffix.size();
    size_t at = 0;
    for (const std::string& c : charactersOf(text, dbcs)) {
        if (at == start)
            return modelEqualsIgnoreCase(text.substr(start), suffix, dbcs);
        at += c.size();
    }
    return at == start && suffix.empty();
}

// Byte offset of the last backslash that is a character of its own, or npos.
size_t modelLastBackslash(const std::string& s, bool dbcs) {
    size_t last = std::string::npos, at = 0;
    for (const std::string& c : charactersOf(s, dbcs)) {
        if (c == "\\")
            last = at;
        at += c.size();
    }
    return last;
}

std::string cut(const std::string& s) {
    return s.substr(0, std::min<size_t>(s.size(), kMaxPathLength));
}

// --- Checks ------------------------------------------------------------------------------------

// A path buffer of exactly 260 bytes holding text (at most 259 bytes of it).
struct PathBuffer {
    ExactBuffer<char> b{kPathBufferSize, '#'};
    explicit PathBuffer(const std::string& text = "") { copyPath(b.get(), text.c_str()); }
    std::string str() const {
        const void* end = std::memchr(b.get(), 0, kPathBufferSize);
        KVO_FUZZ_CHECK(end != nullptr, "path buffer not terminated");
        return std::string(b.get());
    }
};

void checkPaths(const std::string& first, const std::string& second, bool dbcs) {
    LeadBytePredicate lead = dbcs ? isLeadByte : nullptr;
    PathBuffer copied(first);
    KVO_FUZZ_CHECK(copied.str() == cut(first), "copyPath");
    copyPath(copied.b.get(), nullptr);
    KVO_FUZZ_CHECK(copied.str().empty(), "copyPath of null");

    PathBuffer joined;
    joinPath(joined.b.get(), first.c_str(), second.c_str());
    KVO_FUZZ_CHECK(joined.str() == cut(cut(first) + second), "joinPath");
    appendPath(joined.b.get(), second.c_str());
    KVO_FUZZ_CHECK(joined.str() == cut(cut(first) + second + second), "appendPath");
    appendPath(joined.b.get(), nullptr);

    // A trailing backslash where the path does not end with a separator character and there is room.
    PathBuffer trailing(first);
    const std::string before = trailing.str();
    ensureTrailingBackslash(trailing.b.get(), lead);
    const size_t last = modelLastBackslash(before, dbcs);
    const bool endsWithSeparator =
        !before.empty() && ((last != std::string::npos && last + 1 == before.size()) || before.back() == '/');
    const bool add =
        !before.empty() && !endsWithSeparator && before.size() < static_cast<size_t>(kMaxPathLength);
    KVO_FUZZ_CHECK(trailing.str() == (add ? before + "\\" : before), "ensureTrailingBackslash");

    // Root from the program path: the parent of the program's directory, with its backslash.
    PathBuffer root;
    rootFromProgramPath(root.b.get(), first.c_str(), lead);
    const std::string program = cut(first);
    std::string expected;
    const size_t fileSeparator = modelLastBackslash(program, dbcs);
    if (fileSeparator != std::string::npos) {
        const std::string directory = program.substr(0, fileSeparator);
        const size_t parent = modelLastBackslash(directory, dbcs);
        expected = parent != std::string::npos ? directory.substr(0, parent + 1) : directory + "\\";
    }
    KVO_FUZZ_CHECK(root.str() == expected, "rootFromProgramPath of %zu bytes", program.size());

    PathBuffer directory(second.size() % 2 ? "" : second);
    const std::string set = directory.str();
    defaultDirectory(directory.b.get(), first.c_str(), "bin\\");
    KVO_FUZZ_CHECK(directory.str() == (set.empty() ? cut(cut(first) + "bin\\") : set), "defaultDirectory");
}

void checkJoin(const std::vector<std::string>& entries, const std::string& separator) {
    std::vector<const char*> pointers;
    std::string expected;
    for (size_t i = 0; i < entries.size(); ++i) {
        pointers.push_back(entries[i].c_str());
        expected += (i > 0 ? separator : "") + entries[i];
    }
    const int count = static_cast<int>(entries.size());
    const size_t size = joinedSize(pointers.data(), count, separator.c_str());
    KVO_FUZZ_CHECK(size >= expected.size() + 1, "joinedSize %zu for %zu bytes", size, expected.size());
    ExactBuffer<char> out(size, '#');
    joinEntries(out.get(), pointers.data(), count, separator.c_str());
    KVO_FUZZ_CHECK(std::string(out.get()) == expected, "joinEntries");
}

void checkClasspathValue(const std::string& value, const std::string& list, bool dbcs) {
    LeadBytePredicate lead = dbcs ? isLeadByte : nullptr;
    const char* pattern = nullptr;
    const ClasspathValueKind kind = classifyClasspathValue(value.c_str(), &pattern);
    std::string head = value.substr(0, 10);
    for (char& c : head)
        c = fold(c);
    if (head == "classpath:") {
        KVO_FUZZ_CHECK(kind == ClasspathValueKind::SystemClasspath && pattern == value.c_str() + 10,
                       "classpath: value not seen");
    } else if (value == "\\" || value == "/" || value.find(':') != std::string::npos) {
        KVO_FUZZ_CHECK(kind == ClasspathValueKind::Verbatim, "verbatim value not seen");
    } else {
        KVO_FUZZ_CHECK(kind == ClasspathValueKind::RootRelative, "root-relative value not seen");
    }
    if (kind != ClasspathValueKind::SystemClasspath)
        return;

    // The first non-empty piece of the list that ends with the pattern.
    const std::string patternText(pattern);
    std::vector<std::string> expectedVisits;
    size_t expectedAt = std::string::npos;
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find(';', at);
        if (end == std::string::npos)
            end = list.size();
        const std::string piece = list.substr(at, end - at);
        if (!piece.empty()) {
            expectedVisits.push_back(piece);
            if (modelEndsWith(piece, patternText, dbcs)) {
                expectedAt = at;
                break;
            }
        }
        at = end + 1;
    }
    ExactBuffer<char> copy(list.size() + 1, 0);
    std::memcpy(copy.get(), list.c_str(), list.size() + 1);
    static std::vector<std::string>* visits;
    std::vector<std::string> seen;
    visits = &seen;
    const char* found = firstEntryEndingWith(copy.get(), patternText.c_str(), lead,
                                             [](const char* e) { visits->push_back(e); });
    KVO_FUZZ_CHECK(seen == expectedVisits, "pieces visited differ (%zu against %zu)", seen.size(),
                   expectedVisits.size());
    if (expectedAt == std::string::npos) {
        KVO_FUZZ_CHECK(found == nullptr, "a piece found where none ends with the pattern");
    } else {
        KVO_FUZZ_CHECK(found == copy.get() + expectedAt, "found at %td, expected %zu",
                       found ? found - copy.get() : -1, expectedAt);
        KVO_FUZZ_CHECK(std::string(found) == expectedVisits.back(), "found piece not cut at its end");
    }
}

// Duplicate detection: equality ignoring case, and the other text rules it rests on.
void checkComparisons(const std::string& a, const std::string& b, bool dbcs) {
    LeadBytePredicate lead = dbcs ? isLeadByte : nullptr;
    KVO_FUZZ_CHECK(equalsIgnoreCase(a.c_str(), b.c_str(), lead) == modelEqualsIgnoreCase(a, b, dbcs),
                   "equalsIgnoreCase");
    KVO_FUZZ_CHECK(
        equalsIgnoreCase(a.c_str(), b.c_str(), lead) == equalsIgnoreCase(b.c_str(), a.c_str(), lead),
        "equalsIgnoreCase not symmetric");
    KVO_FUZZ_CHECK(equalsIgnoreCase(a.c_str(), a.c_str(), lead), "equalsIgnoreCase not reflexive");
    KVO_FUZZ_CHECK(endsWithIgnoreCase(a.c_str(), b.c_str(), lead) == modelEndsWith(a, b, dbcs),
                   "endsWithIgnoreCase");
    std::string head = a.substr(0, b.size());
    KVO_FUZZ_CHECK(startsWithAsciiIgnoreCase(a.c_str(), b.c_str()) ==
                       (a.size() >= b.size() && modelEqualsIgnoreCase(head, b, false)),
                   "startsWithAsciiIgnoreCase");

    ExactBuffer<char> text(a.size() + 1, 0);
    std::memcpy(text.get(), a.c_str(), a.size() + 1);
    const char* last = findLastBackslash(text.get(), lead);
    const size_t expectedLast = modelLastBackslash(a, dbcs);
    KVO_FUZZ_CHECK(last == (expectedLast == std::string::npos ? nullptr : text.get() + expectedLast),
                   "findLastBackslash");
    replaceSlashes(text.get());
    std::string slashes = a;
    for (char& c : slashes)
        if (c == '/')
            c = '\\';
    KVO_FUZZ_CHECK(std::string(text.get()) == slashes, "replaceSlashes");
    replaceSlashes(nullptr);
}

void checkLibraryPath(const std::string& jni, const std::string& bin, const std::string& path,
                      bool withPath) {
    const char* variable = withPath ? path.c_str() : nullptr;
    const size_t size = libraryPathSize(jni.c_str(), bin.c_str(), variable);
    auto withoutLast = [](const std::string& s) { return s.empty() ? s : s.substr(0, s.size() - 1); };
    const std::string expected = withoutLast(jni) + ";" + withoutLast(bin) + (withPath ? ";" + path : "");
    KVO_FUZZ_CHECK(size >= expected.size() + 1, "libraryPathSize %zu for %zu bytes", size, expected.size());
    ExactBuffer<char> out(size, '#');
    composeLibraryPath(out.get(), jni.c_str(), bin.c_str(), variable);
    KVO_FUZZ_CHECK(std::string(out.get()) == expected, "composeLibraryPath");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // The code page: none, or a set of lead bytes (bits of 16 bytes for 0x80..0xFF).
    const bool dbcs = takeLeadBytes(in);
    auto text = [&]() { return takeLocal(in, 600); };
    const std::string a = text(), b = text(), c = text();

    checkPaths(a, b, dbcs);
    checkComparisons(a, b, dbcs);
    checkComparisons(b, a, dbcs);
    checkClasspathValue(a, b, dbcs);
    checkClasspathValue("classpath:" + c, b, dbcs);
    checkLibraryPath(a, b, c, (a.size() & 1) != 0);

    std::vector<std::string> entries;
    while (in.remaining_bytes() > 0 && entries.size() < 16)
        entries.push_back(text());
    checkJoin(entries, c.empty() ? ";" : c.substr(0, 3));
    return 0;
}
