// Properties from hostile bytes. The input is a properties file:
//  - loaded from a buffer and from a file image (the same bytes behind a FILE*): the same table;
//  - saved (to a stream, and to buffers of the exact size and of every shorter size: the same bytes
//    as far as they go, nothing past the size) and loaded again: the same table (round trip);
//  - listed into wide buffers of every small size: the length the listing needs whatever the size,
//    only whole lines that fit with the terminator, nothing past the size; compared with a listing
//    built here from the table's keys and values.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "heap.h"
#include "properties.h"

using kvo::Properties;
using kvofuzz::ExactBuffer;

namespace {

using Units = std::u16string;

Units unitsOf(const wchar_t* s) {
    Units u;
    for (; *s != 0; ++s)
        u.push_back(static_cast<char16_t>(static_cast<uint32_t>(*s) & 0xFFFF));
    return u;
}

std::string narrow(const Units& u) {
    std::string s;
    for (char16_t c : u) {
        char hex[8];
        if (c >= 0x20 && c < 0x7F) {
            s.push_back(static_cast<char>(c));
        } else {
            std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
            s += hex;
        }
    }
    return s;
}

struct Entry {
    Units key;
    Units value;
};

// The table's own entries, in listing order.
std::vector<Entry> entriesOf(const Properties& p) {
    std::vector<Entry> entries;
    const wchar_t** names = p.propertyNames();
    KVO_FUZZ_CHECK(names != nullptr, "no key list");
    for (const wchar_t** n = names; *n != nullptr; ++n) {
        const wchar_t* value = p.getProperty(*n);
        KVO_FUZZ_CHECK(value != nullptr, "listed key without a value: %s", narrow(unitsOf(*n)).c_str());
        entries.push_back({unitsOf(*n), unitsOf(value)});
    }
    kvo::heapRelease(names);
    KVO_FUZZ_CHECK(entries.size() == static_cast<size_t>(p.size()), "%zu keys listed, size() %d",
                   entries.size(), p.size());
    return entries;
}

void expectSameTable(const Properties& a, const Properties& b, const char* what) {
    KVO_FUZZ_CHECK(a.size() == b.size(), "%s: %d entries against %d", what, a.size(), b.size());
    for (const Entry& e : entriesOf(a)) {
        std::wstring key(e.key.begin(), e.key.end());
        const wchar_t* other = b.getProperty(key.c_str());
        KVO_FUZZ_CHECK(other != nullptr, "%s: key %s missing", what, narrow(e.key).c_str());
        KVO_FUZZ_CHECK(unitsOf(other) == e.value, "%s: key %s has %s, not %s", what, narrow(e.key).c_str(),
                       narrow(unitsOf(other)).c_str(), narrow(e.value).c_str());
    }
}

// The bytes save(FILE*) writes.
std::string savedToStream(const Properties& p, const wchar_t* header) {
    char* text = nullptr;
    size_t length = 0;
    FILE* stream = open_memstream(&text, &length);
    KVO_FUZZ_CHECK(stream != nullptr, "open_memstream failed");
    KVO_FUZZ_CHECK(p.save(stream, header) == 1, "save to a stream did not return 1");
    std::fclose(stream);
    std::string saved(text, length);
    std::free(text);
    return saved;
}

void checkSave(const Properties& table) {
    static const wchar_t kHeader[] = L"saved by the fuzzer";
    const std::string saved = savedToStream(table, kHeader);

    // The buffer form: the same bytes as far as the buffer goes, nothing past it.
    const size_t sizes[] = {saved.size(), saved.size() / 2, saved.size() > 0 ? saved.size() - 1 : 0, 0, 1, 7};
    for (size_t size : sizes) {
        if (size > saved.size())
            continue;
        ExactBuffer<char> buffer(size, '#');
        KVO_FUZZ_CHECK(table.save(buffer.get(), static_cast<int>(size), kHeader) == 1,
                       "save did not return 1");
        KVO_FUZZ_CHECK(std::memcmp(buffer.get(), saved.data(), size) == 0,
                       "save into %zu bytes differs from the stream's bytes", size);
    }
    KVO_FUZZ_CHECK(table.save(nullptr, 10, kHeader) == 1, "save to no buffer did not return 1");

    // Round trip.
    Properties again;
    again.load(saved.data(), static_cast<int>(saved.size()));
    expectSameTable(table, again, "saved and loaded again");
    expectSameTable(again, table, "saved and loaded again (other way)");
}

// The listing built from the table's entries, with the lengths each line counts.
struct Listing {
    Units header;
    std::vector<Units> lines;
    std::vector<int> counted;
};

Listing expectedListing(const Properties& p) {
    Listing l;
    for (const char* h = "-- listing properties --\n"; *h; ++h)
        l.header.push_back(static_cast<char16_t>(*h));
    for (const Entry& e : entriesOf(p)) {
        Units line = e.key;
        line.push_back(u'=');
        if (e.value.size() > 40) {
            line += e.value.substr(0, 40);
            line += u"...";
            l.counted.push_back(static_cast<int>(e.key.size()) + 46);
        } else {
            line += e.value;
            l.counted.push_back(static_cast<int>(e.key.size() + e.value.size()) + 2);
        }
        line.push_back(u'\n');
        l.lines.push_back(line);
    }
    return l;
}

void checkList(const Properties& p) {
    const Listing l = expectedListing(p);
    int needed = static_cast<int>(l.header.size());
    for (int c : l.counted)
        needed += c;
    KVO_FUZZ_CHECK(p.list(nullptr, 0) == needed, "size query %d, expected %d", p.list(nullptr, 0), needed);
    KVO_FUZZ_CHECK(p.list(nullptr, 100) == needed, "null buffer with a size: %d", p.list(nullptr, 100));

    // Every small size, the exact size and one more.
    const int largest = needed < 300 ? needed + 1 : 300;
    for (int size = -1; size <= largest + 1; ++size) {
        const int room = size == largest + 1 ? needed + 1 : size;
        ExactBuffer<wchar_t> buffer(room > 0 ? static_cast<size_t>(room) : 0, L'#');
        const int result = p.list(buffer.get(), room);
        KVO_FUZZ_CHECK(result == needed, "size %d: result %d, expected %d", room, result, needed);
        // What fits: the header if shorter than the size, then each line while the counted length so far
        // plus its own stays below the size.
        Units expected;
        int length = static_cast<int>(l.header.size());
        if (length < room)
            expected = l.header;
        for (size_t i = 0; i < l.lines.size(); ++i) {
            if (length + l.counted[i] < room)
                expected += l.lines[i];
            length += l.counted[i];
        }
        if (room <= 0)
            continue;
        KVO_FUZZ_CHECK(expected.size() < static_cast<size_t>(room), "model wrote past the size");
        Units got;
        for (int i = 0; i < room && buffer[static_cast<size_t>(i)] != 0; ++i)
            got.push_back(
                static_cast<char16_t>(static_cast<uint32_t>(buffer[static_cast<size_t>(i)]) & 0xFFFF));
        // Values may hold a zero unit only as their end, so the listing text has none inside.
        KVO_FUZZ_CHECK(got == expected, "size %d: listing %s, expected %s", room, narrow(got).c_str(),
                       narrow(expected).c_str());
        KVO_FUZZ_CHECK(buffer[got.size()] == 0, "size %d: no terminator after the listing", room);
        for (size_t i = got.size() + 1; i < static_cast<size_t>(room); ++i)
            KVO_FUZZ_CHECK(buffer[i] == L'#', "size %d: unit %zu written after the terminator", room, i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20)
        return 0;
    // Exactly the input's bytes, no terminator: the reader goes by the size.
    ExactBuffer<char> bytes(size, 0);
    if (size != 0)
        std::memcpy(bytes.get(), data, size);

    Properties fromBuffer;
    KVO_FUZZ_CHECK(fromBuffer.load(bytes.get(), static_cast<int>(size)) == 1, "load did not return 1");

    Properties fromFile;
    if (size != 0) {
        FILE* file = fmemopen(bytes.get(), size, "r");
        KVO_FUZZ_CHECK(file != nullptr, "fmemopen failed");
        KVO_FUZZ_CHECK(fromFile.load(file) == 1, "load from a file did not return 1");
        std::fclose(file);
    }
    expectSameTable(fromBuffer, fromFile, "buffer against file");
    expectSameTable(fromFile, fromBuffer, "file against buffer");

    // A table with defaults: lookups fall back, the listing holds this table's own entries only.
    Properties layered(&fromBuffer);
    layered.setProperty(L"layered.key", L"layered value");
    for (const Entry& e : entriesOf(fromBuffer)) {
        std::wstring key(e.key.begin(), e.key.end());
        const wchar_t* got = layered.getProperty(key.c_str());
        KVO_FUZZ_CHECK(got != nullptr, "default not found for %s", narrow(e.key).c_str());
        if (e.key != u"layered.key")
            KVO_FUZZ_CHECK(unitsOf(got) == e.value, "default of %s differs", narrow(e.key).c_str());
    }

    checkSave(fromBuffer);
    checkList(fromBuffer);
    return 0;
}
