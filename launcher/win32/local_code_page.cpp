#include "local_code_page.h"

#include <windows.h>

#include <cwchar>

#include "exact_code_page.h"
#include "os_calls.h"

namespace kvo::launcher {

bool isLocalLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

// Only an exact form will do: a best-fit form of a path or an option names something else ("Ω.jar"
// would become "O.jar" under 1252), so a text the code page has no exact form for is not converted.
LocalText localTextOf(const wchar_t* wide) {
    return exactBytes({os.WideCharToMultiByte, os.MultiByteToWideChar}, os.GetACP(), wide,
                      static_cast<int>(std::wcslen(wide)));
}

}  // namespace kvo::launcher
