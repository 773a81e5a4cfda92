// The library's own module handle, recorded by its entry point (the mapping files lie beside it).
#pragma once

#include <windows.h>

extern HMODULE g_kvoucd32Module;
