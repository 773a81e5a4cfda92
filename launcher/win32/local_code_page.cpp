#include "local_code_page.h"

#include <windows.h>

#include <cwchar>

#include "bounded_path.h"
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

bool localPathInto(const wchar_t* wide, int count, char* buffer) {
    wchar_t back[kPathBufferSize];
    int written = 0;
    if (count > 0 && count <= kMaxPathLength) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);  // what a result that differs when read back means
        written = exactBytesInto({os.WideCharToMultiByte, os.MultiByteToWideChar}, os.GetACP(), wide, count,
                                 buffer, kMaxPathLength, back);
    } else {
        SetLastError(count > 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
    }
    buffer[written] = 0;
    return written > 0;
}

}  // namespace kvo::launcher
