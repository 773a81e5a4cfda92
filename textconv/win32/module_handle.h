// The library's own module handle, recorded by its entry point (the mapping files lie beside it).
// Null where the library's code is linked into a program (its tests): the program's own directory.
#pragma once

#include <windows.h>

namespace kvo::textconv {

extern HMODULE libraryModule;

}  // namespace kvo::textconv
