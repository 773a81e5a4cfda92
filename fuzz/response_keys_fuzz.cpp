// The key names of a response-file section from hostile text (installer/rules/response_keys.*): the
// block the profile functions fill (names each ended by a zero unit) and the count of units before
// its final terminator, read as ReadRspFileCA reads it: every zero unit among the first count - 1
// becomes a comma, the text is split at commas, empty pieces are skipped.
//
// The input: one byte that picks the count (the whole block, or fewer units, or 0), then the block's
// units in the compact form of wide_text.h, any units at all. The block is handed over in a buffer of
// exactly count units. The names read are compared with a model that joins and splits as the action
// describes it, and must lie within the first count - 1 units. The marker test of a missing section
// ("RSPFILE_BAD" in any case) is compared with a model too.
#include <cstdint>

#include "fuzz_support.h"
#include "response_keys.h"
#include "text_rules.h"
#include "wide_text.h"

using namespace kvo::installer;
using namespace kvofuzz;

namespace {

struct Name {
    size_t offset;
    size_t length;
};

std::vector<Name> modelNames(const Units& block, size_t count) {
    Units joined(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(count > 0 ? count - 1 : 0));
    for (uint32_t& u : joined)
        if (u == 0)
            u = ',';
    std::vector<Name> names;
    for (size_t at = 0; at < joined.size();) {
        size_t end = at;
        while (end < joined.size() && joined[end] != ',')
            ++end;
        if (end > at)
            names.push_back({at, end - at});
        at = end + 1;
    }
    return names;
}

bool modelMissingSectionMarker(const Units& text) {
    const Units marker = unitsOf("RSPFILE_BAD");
    if (text.size() != marker.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t u = text[i];
        if (u >= 'a' && u <= 'z')
            u -= 'a' - 'A';
        if (u != marker[i])
            return false;
    }
    return true;
}

void checkNames(const Units& block, size_t count) {
    const Units given(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(count));
    const ExactBuffer<wchar_t> buffer = wideBuffer(given, false);
    const std::vector<Name> expected = modelNames(given, count);
    ResponseKeyNames names(buffer.get(), count);
    const wchar_t* name = nullptr;
    size_t length = 0;
    size_t index = 0;
    while (names.next(name, length)) {
        KVO_FUZZ_CHECK(index < expected.size(), "count %zu: name %zu read, %zu expected", count, index,
                       expected.size());
        const ptrdiff_t offset = name - buffer.get();
        KVO_FUZZ_CHECK(offset >= 0 && static_cast<size_t>(offset) + length + 1 <= count,
                       "count %zu: name %zu at %td, %zu units, beyond the names", count, index, offset,
                       length);
        KVO_FUZZ_CHECK(
            static_cast<size_t>(offset) == expected[index].offset && length == expected[index].length,
            "count %zu: name %zu at %td (%zu units), expected at %zu (%zu units)", count, index, offset,
            length, expected[index].offset, expected[index].length);
        ++index;
    }
    KVO_FUZZ_CHECK(index == expected.size(), "count %zu: %zu names read, %zu expected", count, index,
                   expected.size());
    KVO_FUZZ_CHECK(!names.next(name, length), "count %zu: a name after the end", count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const Units block = decodeUnits(data + 1, size - 1);
    // The whole block as the count, and a count picked by the first byte (at most the block).
    checkNames(block, block.size());
    checkNames(block, block.empty() ? 0 : data[0] % (block.size() + 1));
    // A count of 0 never looks at the block, which may then be absent.
    ResponseKeyNames none(nullptr, 0);
    const wchar_t* name;
    size_t length;
    KVO_FUZZ_CHECK(!none.next(name, length), "a name without a block");

    // The block as a terminated text: the marker of a missing section, or not.
    const ExactBuffer<wchar_t> text = wideBuffer(beforeZero(block), true);
    KVO_FUZZ_CHECK(isMissingSectionMarker(text.get()) == modelMissingSectionMarker(beforeZero(block)),
                   "isMissingSectionMarker(%s)", show(beforeZero(block)).c_str());
    return 0;
}
