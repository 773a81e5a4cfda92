// Java user.language and user.region for a Windows language identifier. Platform-free.
#pragma once

namespace kvo::launcher {

// primary language = languageId & 0x3FF, sub-language = languageId >> 10. Sets both out-parameters
// to constant strings; languages without an entry give "en" / "US".
void localeForLanguageId(unsigned short languageId, const char** language, const char** region);

}  // namespace kvo::launcher
