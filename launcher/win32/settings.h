// Launcher settings: the product's registry key, the directory layout derived from it, and the
// number and yes/no lookups in the launcher properties.
#pragma once

namespace kvo::launcher {

// Registry key read by LoadSettings (HKEY_LOCAL_MACHINE, the program's own registry view).
extern const char* const kSettingsKey;  // "SOFTWARE\\Orvane\\Varnel\\CurrentVersion"

// Reads the registry key and fills the nine directories and the four flags. Runs before the trace
// log exists: its only messages go to standard error. The root stays empty when neither the registry
// nor the program's whole path gives one.
void LoadSettings();

// Unsigned number of a launcher property; default when missing or not a number.
unsigned long GetProperty(const wchar_t* key, unsigned long defaultValue);
// 1 for "TRUE", "T", "YES", "Y" (any case) or "1"; default for anything else or when missing.
int GetBooleanProperty(const wchar_t* key, int defaultValue);

}  // namespace kvo::launcher
