// The key names of a response-file section as the profile functions return them: the names one
// after another, each ended by a null character, and a count of the units placed before the final
// terminator. ReadRspFileCA joins them with commas and splits the result at commas, skipping empty
// pieces, so a key whose name holds a comma becomes two names. Platform-free; the entry point for a
// fuzzer is ResponseKeyNames.
#pragma once

#include <cstddef>

namespace kvo::installer {

class ResponseKeyNames {
public:
    // list holds at least count units; only the first count - 1 are looked at (the last one ends the
    // final name). A count of 0 gives no names.
    ResponseKeyNames(const wchar_t* list, std::size_t count)
        : at_(list), end_(count > 0 ? list + count - 1 : list) {}

    // The next name (not terminated: text and length); false when there is none left.
    bool next(const wchar_t*& name, std::size_t& length);

private:
    const wchar_t* at_;
    const wchar_t* end_;
};

}  // namespace kvo::installer
