// File-date repair: every file of a tree whose creation time is earlier than its last-write time
// gets the last-write time as its creation time.
#pragma once

#include <windows.h>
#include <msi.h>

#include "file_date_parameters.h"

namespace kvo::installer {

// Repairs the files below and in directory (ending with a backslash), skipping the directories of
// `exclusions` (may be null) with everything below them and the two protected file names. Returns
// the number of failures, each logged; a path that would not fit a path buffer is one failure and
// is left alone.
unsigned FixTreeFileDates(MSIHANDLE session, const wchar_t* directory, const FileDateParameters* exclusions);

}  // namespace kvo::installer
