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
    LocalText result;
    const int units = static_cast<int>(std::wcslen(wide));
    if (units == 0) {
        result.size = 1;
        result.text = makeHeapArray<char>(1);
        if (result.text)
            result.text[0] = '\0';
        else
            result.noMemory = true;
        return result;
    }
    const UINT codePage = os.GetACP();
    const int bytes =
        os.WideCharToMultiByte(codePage, codePageFlags(codePage).toBytes, wide, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        result.error = GetLastError();
        return result;
    }
    result.size = bytes + 1;
    result.text = makeHeapArray<char>(static_cast<size_t>(result.size));
    const HeapArray<wchar_t> back = makeHeapArray<wchar_t>(static_cast<size_t>(units));
    if (!result.text || !back) {
        result.text.reset();
        result.noMemory = true;
        return result;
    }
    if (exactBytesInto({os.WideCharToMultiByte, os.MultiByteToWideChar}, codePage, wide, units, result.text.get(),
                       bytes, back.get()) != bytes) {
        result.error = ERROR_NO_UNICODE_TRANSLATION;
        result.text.reset();
        return result;
    }
    result.text[bytes] = '\0';
    return result;
}

}  // namespace kvo::launcher
