// The key names of a response-file section as the profile functions return them: the names one
// after another, each ended by a null character, and a count of the units placed before the final
// terminator. ReadRspFileCA joins them with commas and splits the result at commas, skipping empty
// pieces, so a key whose name holds a comma becomes two names. Platform-free; the entry point for a
// fuzzer is ResponseKeyNames.
#pragma once

#include <cstddef>

#include "text_rules.h"

namespace kvo::installer {

class ResponseKeyNames : public TextTokens {
public:
    // list holds at least count units; only the first count - 1 are looked at (the last one ends the
    // final name). A count of 0 gives no names.
    ResponseKeyNames(const wchar_t* list, std::size_t count)
        : TextTokens(list, count > 0 ? count - 1 : 0, separatesNames) {}

private:
    // A null character between two names turns into a comma, and names are split at commas.
    static bool separatesNames(wchar_t unit) { return unit == L'\0' || unit == L','; }
};

}  // namespace kvo::installer
