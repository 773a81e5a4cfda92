// The parameter text of kta_ca's FixFileDatesCA from hostile text (installer/rules/
// file_date_parameters.*): tokens separated by ";" or line feeds, runs of separators counting as
// one; the first token the search directory (with its backslash, whole or not at all within 259
// units), every further one an exclusion with its backslash.
//
// The input: one byte of choices (which allocation fails, whether a second text is parsed by the same
// object), then wide text in the compact form of wide_text.h. The text is handed over in a buffer of
// exactly its units, not terminated; every result is compared with a model written here that splits
// the text into tokens.
#include <cstdint>
#include <cstring>

#include "file_date_parameters.h"
#include "fuzz_support.h"
#include "heap.h"
#include "heap_failure.h"
#include "wide_text.h"

using namespace kvo::installer;
using namespace kvofuzz;

namespace {

struct Token {
    size_t offset;
    Units units;
};

std::vector<Token> modelTokens(const Units& text) {
    std::vector<Token> tokens;
    size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ';' || text[at] == '\n') {
            ++at;
            continue;
        }
        Token token{at, {}};
        while (at < text.size() && text[at] != ';' && text[at] != '\n')
            token.units.push_back(text[at++]);
        tokens.push_back(token);
    }
    return tokens;
}

Units withBackslash(Units units) {
    if (units.empty() || units.back() != '\\')
        units.push_back('\\');
    return units;
}

void checkParse(FileDateParameters& parameters, const Units& text, int failing) {
    const ExactBuffer<wchar_t> buffer = wideBuffer(text, false);
    int allocations = 0;
    bool ok = false;
    {
        const kvotest::FailAllocation failure(failing);  // 0: none fails
        ok = parameters.parse(buffer.get(), text.size());
        allocations = failure.allocations();
    }

    const std::vector<Token> tokens = modelTokens(text);
    if (tokens.empty()) {
        KVO_FUZZ_CHECK(ok, "parse failed without tokens");
        KVO_FUZZ_CHECK(parameters.searchStatus() == SearchDirectory::Missing, "no token, status %d",
                       static_cast<int>(parameters.searchStatus()));
        KVO_FUZZ_CHECK(unitsOf(parameters.searchDirectory()).empty(), "no token, search directory %s",
                       show(unitsOf(parameters.searchDirectory())).c_str());
        KVO_FUZZ_CHECK(parameters.firstToken() == nullptr && parameters.firstTokenLength() == 0,
                       "no token, but a first token");
        KVO_FUZZ_CHECK(parameters.excludeCount() == 0, "no token, %zu exclusions", parameters.excludeCount());
        KVO_FUZZ_CHECK(allocations == 0, "no token, %d allocations", allocations);
        return;
    }

    // The first token, and the search directory made of it.
    const Token& first = tokens.front();
    KVO_FUZZ_CHECK(parameters.firstToken() == buffer.get() + first.offset &&
                       parameters.firstTokenLength() == first.units.size(),
                   "first token at %td (%zu units), expected at %zu (%zu units)",
                   parameters.firstToken() - buffer.get(), parameters.firstTokenLength(), first.offset,
                   first.units.size());
    const Units search = withBackslash(first.units);
    if (search.size() <= 259) {
        KVO_FUZZ_CHECK(parameters.searchStatus() == SearchDirectory::Found,
                       "search directory of %zu units: %d", search.size(),
                       static_cast<int>(parameters.searchStatus()));
        // Compared as terminated texts: a zero unit in the token ends the text there.
        KVO_FUZZ_CHECK(unitsOf(parameters.searchDirectory()) == beforeZero(search),
                       "search directory %s, expected %s",
                       show(unitsOf(parameters.searchDirectory())).c_str(), show(search).c_str());
    } else {
        KVO_FUZZ_CHECK(parameters.searchStatus() == SearchDirectory::TooLong,
                       "search directory of %zu units: status %d", search.size(),
                       static_cast<int>(parameters.searchStatus()));
        KVO_FUZZ_CHECK(unitsOf(parameters.searchDirectory()).empty(), "too long, yet a search directory");
    }

    // The exclusions: all of them, or none when memory was short.
    const size_t excludes = tokens.size() - 1;
    const bool failed = failing >= 1 && failing <= 2 && excludes > 0;
    KVO_FUZZ_CHECK(ok == !failed, "parse gave %d with allocation %d failing and %zu exclusions", ok, failing,
                   excludes);
    KVO_FUZZ_CHECK(allocations == (excludes > 0 ? 2 : 0), "%d allocations for %zu exclusions", allocations,
                   excludes);
    if (failed) {
        KVO_FUZZ_CHECK(parameters.excludeCount() == 0, "memory short, yet %zu exclusions",
                       parameters.excludeCount());
        return;
    }
    KVO_FUZZ_CHECK(parameters.excludeCount() == excludes, "%zu exclusions, expected %zu",
                   parameters.excludeCount(), excludes);
    for (size_t i = 0; i < excludes; ++i) {
        const Units expected = withBackslash(tokens[i + 1].units);
        KVO_FUZZ_CHECK(unitsOf(parameters.exclude(i)) == beforeZero(expected),
                       "exclusion %zu: %s, expected %s", i, show(unitsOf(parameters.exclude(i))).c_str(),
                       show(expected).c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t choices = data[0];
    const Units text = decodeUnits(data + 1, size - 1);
    // Bits 0-1: the allocation that fails in the first parse (0: none); bit 2: a second text, the
    // input's second half, parsed by the same object (everything of the first must be gone).
    const int failing = choices & 3;
    FileDateParameters parameters;
    if ((choices & 4) == 0) {
        checkParse(parameters, text, failing);
    } else {
        const Units firstHalf(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(text.size() / 2));
        const Units secondHalf(text.begin() + static_cast<std::ptrdiff_t>(text.size() / 2), text.end());
        checkParse(parameters, firstHalf, failing);
        checkParse(parameters, secondHalf, 0);
    }
    // The text as the action reads it (up to its first zero unit) parses alike.
    FileDateParameters fresh;
    checkParse(fresh, beforeZero(text), 0);
    return 0;
}
