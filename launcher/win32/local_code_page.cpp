#include "local_code_page.h"

#include <windows.h>

namespace kvo::launcher {

bool isLocalLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace kvo::launcher
