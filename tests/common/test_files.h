// Files as the Windows test programs look at them.
#pragma once

#include <string>

namespace kvotest {

// The bytes of a file (read while others may still write it); "<missing>" when it cannot be opened.
std::string readTextFile(const std::wstring& path);
bool exists(const std::wstring& path);
// The folder of the running test program, with a trailing backslash.
std::string programDirectory();

}  // namespace kvotest
