#include "file_date_parameters.h"

namespace kvo::installer {

bool FileDateParameters::parse(const wchar_t* text, std::size_t length) {
    status_ = SearchDirectory::Missing;
    search_.clear();
    first_ = nullptr;
    firstLength_ = 0;
    excludeCount_ = 0;
    excludeText_.reset();
    excludes_.reset();

    ParameterTokens tokens(text, length);
    const wchar_t* token;
    std::size_t tokenLength;
    if (!tokens.next(token, tokenLength))
        return true;
    first_ = token;
    firstLength_ = tokenLength;
    // Never cut: a cut path names another directory.
    if (search_.appendWhole(token, tokenLength) && ensureTrailingBackslash(search_)) {
        status_ = SearchDirectory::Found;
    } else {
        status_ = SearchDirectory::TooLong;
        search_.clear();
    }

    // The exclusions: count them and their units, then copy each with its backslash.
    std::size_t units = 0;
    ParameterTokens counting = tokens;
    while (counting.next(token, tokenLength)) {
        ++excludeCount_;
        units += tokenLength + 2;  // a backslash and the terminator at most
    }
    if (excludeCount_ == 0)
        return true;
    excludeText_.reset(heapArray<wchar_t>(units));
    excludes_.reset(heapArray<const wchar_t*>(excludeCount_));
    if (!excludeText_ || !excludes_) {
        excludeCount_ = 0;
        excludeText_.reset();
        excludes_.reset();
        return false;
    }
    wchar_t* at = excludeText_.get();
    for (std::size_t index = 0; tokens.next(token, tokenLength); ++index) {
        excludes_[index] = at;
        for (std::size_t i = 0; i < tokenLength; ++i)
            *at++ = token[i];
        if (token[tokenLength - 1] != L'\\')
            *at++ = L'\\';
        *at++ = L'\0';
    }
    return true;
}

}  // namespace kvo::installer
