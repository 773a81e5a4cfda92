// The data-directory routines: three walkers that have the installer remove directory trees in its
// own removal steps (temporary Directory and RemoveFile rows naming every folder), and the copy of
// the default data into the data directory and its undoing.
//
// Entries are walked by name: "." and ".." are skipped wherever a listing puts them (a drive root
// lists neither). A path that would not fit a path buffer is never cut and used: the walk of that
// directory fails, is logged, and nothing is scheduled or copied for it.
#pragma once

#include <windows.h>
#include <msi.h>

#include "row_keys.h"

namespace kvo::installer {

// The walkers' counters: process-wide, 0 when the library is loaded, never reset.
struct RemovalCounters {
    KeyCounter tree;
    KeyCounter classfix;
    KeyCounter empty;
};
extern RemovalCounters removalCounters;

// Each returns 1 on success, 0 on failure. parentPath ends with a backslash; the rows of name are
// added under parentDirKey. A tree that does not exist is no failure: its own rows stay.
int ScheduleTreeRemoval(const wchar_t* name, const wchar_t* parentPath, const wchar_t* parentDirKey,
                        const wchar_t* prefix, const wchar_t* component, MSIHANDLE session);
int ScheduleClassfixRemoval(const wchar_t* name, const wchar_t* parentPath, const wchar_t* parentDirKey,
                            const wchar_t* prefix, MSIHANDLE session);
int ScheduleEmptyRemoval(const wchar_t* name, const wchar_t* parentPath, const wchar_t* parentDirKey,
                         MSIHANDLE session);

// Copies the tree below sourceDir into destDir without overwriting a file; both end with a
// backslash. 0 on success, -1 when a directory could not be created, -2 when a file could not be
// copied. A source directory that cannot be listed copies nothing and returns 0.
int CopyProddata(MSIHANDLE session, const wchar_t* sourceDir, const wchar_t* destDir);

// Undoes CopyProddata (sourceDir, destDir) for a rollback: removes each file of destDir that holds
// the same bytes as its counterpart below sourceDir, then each folder of the copy that is left
// empty. A file that differs (the user's), one the defaults do not have and a link stay, with the
// folders that hold them. Failures are logged; the walk goes on.
void removeSeededCopies(MSIHANDLE session, const wchar_t* sourceDir, const wchar_t* destDir);

}  // namespace kvo::installer
