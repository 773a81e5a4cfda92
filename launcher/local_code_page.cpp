#include "local_code_page.h"

#include <windows.h>

bool IsLocalLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}
