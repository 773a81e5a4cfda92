#include "response_keys.h"

namespace kvo::installer {

namespace {
// A null character between two names turns into a comma, and names are split at commas.
bool separatesNames(wchar_t unit) {
    return unit == L'\0' || unit == L',';
}
}  // namespace

bool ResponseKeyNames::next(const wchar_t*& name, std::size_t& length) {
    while (at_ != end_ && separatesNames(*at_))
        ++at_;
    if (at_ == end_)
        return false;
    name = at_;
    while (at_ != end_ && !separatesNames(*at_))
        ++at_;
    length = static_cast<std::size_t>(at_ - name);
    return true;
}

}  // namespace kvo::installer
