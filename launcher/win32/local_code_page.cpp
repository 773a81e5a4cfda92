#include "local_code_page.h"

#include <windows.h>

#include "os_calls.h"

namespace kvo::launcher {

bool isLocalLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

LocalText localTextOf(const wchar_t* wide) {
    LocalText result;
    result.size = os.WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (result.size <= 0) {
        result.error = GetLastError();
        return result;
    }
    result.text = makeHeapArray<char>(static_cast<size_t>(result.size));
    if (!result.text) {
        result.noMemory = true;
        return result;
    }
    if (os.WideCharToMultiByte(CP_ACP, 0, wide, -1, result.text.get(), result.size, nullptr, nullptr) <= 0) {
        result.error = GetLastError();
        result.text.reset();
        return result;
    }
    result.text[result.size - 1] = '\0';
    return result;
}

}  // namespace kvo::launcher
