// Files as the Windows test programs look at them.
#pragma once

#include <windows.h>

#include <string>

namespace kvotest {

// The bytes of a file (read while others may still write it); "<missing>" when it cannot be opened.
std::string readTextFile(const std::wstring& path);
// A file with content (created or replaced); a failure to create it fails the test.
void writeTextFile(const std::wstring& path, const std::string& content);
bool exists(const std::wstring& path);
// A directory with its parents.
void makeDirectory(const std::wstring& path);
// A directory with everything in it (read-only entries and paths over 259 characters too); a link
// in it is removed itself, never entered.
void removeTree(const std::wstring& path);
// A symbolic link to a directory, and whether it is there (FILE_ATTRIBUTE_REPARSE_POINT). Wine 8 makes
// none (CreateSymbolicLinkW, mklink /J) but shows the host's symbolic links so: the host's ln makes it.
bool makeDirectoryLink(const std::wstring& link, const std::wstring& target);
// Removes the link itself (under Wine with the host's rm). Wine shows no link whose target is gone:
// remove links before their targets.
void removeLink(const std::wstring& link);
// The folder of the running test program, with a trailing backslash.
std::string programDirectory();

// Text in a code page (UTF-8 unless named; CP_ACP for the paths of the A functions) as UTF-16, and
// UTF-16 as UTF-8.
std::wstring toWide(const std::string& text, UINT codePage = CP_UTF8);
std::string toNarrow(const std::wstring& text);

}  // namespace kvotest
