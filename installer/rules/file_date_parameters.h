// The parameter text of FixFileDatesCA: tokens separated by semicolons or line feeds (runs of
// separators count as one, separators at the ends are ignored). The first token names the search
// directory, every further token a directory excluded from the repair with everything below it.
// Platform-free; the entry point for a fuzzer is FileDateParameters::parse.
#pragma once

#include <cstddef>

#include "bounded_text.h"
#include "heap.h"
#include "text_rules.h"

namespace kvo::installer {

// The tokens of a parameter text, one after another.
class ParameterTokens : public TextTokens {
public:
    ParameterTokens(const wchar_t* text, std::size_t length) : TextTokens(text, length, isSeparator) {}

private:
    static bool isSeparator(wchar_t unit) { return unit == L';' || unit == L'\n'; }
};

enum class SearchDirectory {
    Found,    // the first token, with its backslash, fits a path buffer
    Missing,  // the text holds no token
    TooLong,  // the first token with its backslash needs more than 259 characters: it is not used
};

class FileDateParameters {
public:
    FileDateParameters() = default;
    FileDateParameters(const FileDateParameters&) = delete;
    FileDateParameters& operator=(const FileDateParameters&) = delete;

    // Reads the text (length units; it need not be terminated). Returns false only when memory for
    // the exclude list could not be had; the search directory is read either way.
    bool parse(const wchar_t* text, std::size_t length);

    SearchDirectory searchStatus() const { return status_; }
    // The search directory with a trailing backslash (Found); otherwise empty.
    const wchar_t* searchDirectory() const { return search_.text(); }
    // The first token as given, for messages about it (any status but Missing).
    const wchar_t* firstToken() const { return first_; }
    std::size_t firstTokenLength() const { return firstLength_; }

    // Number of tokens after the first.
    std::size_t excludeCount() const { return excludeCount_; }
    // Exclusion index (0-based), with a trailing backslash.
    const wchar_t* exclude(std::size_t index) const { return excludes_[index]; }

private:
    SearchDirectory status_ = SearchDirectory::Missing;
    TextBuffer<kPathCapacity> search_;
    const wchar_t* first_ = nullptr;
    std::size_t firstLength_ = 0;
    std::size_t excludeCount_ = 0;
    HeapArray<wchar_t> excludeText_;      // every exclusion, each terminated
    HeapArray<const wchar_t*> excludes_;  // where each starts in excludeText_
};

}  // namespace kvo::installer
