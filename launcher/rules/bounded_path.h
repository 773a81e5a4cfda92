// Paths in fixed 260-byte buffers: at most 259 characters are kept, so a path that would be longer
// is cut off, never overrun. Platform-free.
#pragma once

#include "local_text.h"

namespace kvo::launcher {

constexpr int kPathBufferSize = 260;
constexpr int kMaxPathLength = kPathBufferSize - 1;

// buffer = at most 259 characters of text (null is read as "").
void copyPath(char* buffer, const char* text);
// Appends at most 259 - strlen(buffer) characters of text (null is read as "").
void appendPath(char* buffer, const char* text);
// buffer = first + second, cut at 259 characters.
void joinPath(char* buffer, const char* first, const char* second);

// Appends a backslash to a non-empty path that does not end with one, when there is room.
void ensureTrailingBackslash(char* buffer, LeadBytePredicate isLeadByte);

// Installation root for a program file: the parent of the directory holding it, with a trailing
// backslash ("X\\bin\\p.exe" -> "X\\"). A program directly in a drive root ("C:\\p.exe") gives that
// directory ("C:\\"); a name without any backslash gives "".
void rootFromProgramPath(char* root, const char* programPath, LeadBytePredicate isLeadByte);

// An empty directory becomes root + subdirectory ("bin\\", ...); a set one is left alone.
void defaultDirectory(char* directory, const char* root, const char* subdirectory);

// True for a path that depends on neither the current drive nor the current directory: a drive
// letter with its root ("C:\\...") or a UNC path ("\\\\server\\..."), backslashes only.
bool isFullyQualifiedPath(const char* path);

}  // namespace kvo::launcher
