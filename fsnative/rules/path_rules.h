// Path rules of nqfsfunc: volume roots, list patterns, UNC and absolute paths, the entries a listing
// skips, and the names of network connections. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

#include "heap.h"
#include "local_text.h"

namespace kvo::fsnative {

// Root paths arrive in a buffer of this many bytes of modified UTF-8, terminator included.
constexpr std::size_t kRootBufferSize = 128;

// Buffers for the local and remote names of a network connection, terminator included.
constexpr std::size_t kUseLocalNameSize = 80;
constexpr std::size_t kUseRemoteNameSize = 98;

// Whether a root path in modified UTF-8 fits the root buffer with its terminator.
bool fitsRootBuffer(const char* modifiedUtf8);

// local with a backslash appended unless it already ends with one (kvo::endsWithBackslash: a 0x5C
// byte that is the second byte of a double-byte character is none); null when memory is short.
HeapArray<char> withTrailingBackslash(const char* local, LeadBytePredicate isLeadByte);

// The search pattern that lists a directory: path, a backslash unless it ends with one, "*.*".
// Null for an empty path (there is no last character to look at) or when memory is short.
HeapArray<char> listPattern(const char* local, LeadBytePredicate isLeadByte);

// The same pattern from a path in UTF-16 units (count of them, no terminator needed), terminated.
HeapArray<std::uint16_t> listPattern(const std::uint16_t* units, std::size_t count);

// "." and "..", the entries a listing leaves out (exact byte comparison).
bool isDotOrDotDot(const char* name);

// On UTF-16 units, so that no byte of a double-byte character is taken for a backslash:
// \\server\share: two backslashes and another one somewhere after them.
bool isUncPath(const std::uint16_t* units, std::size_t count);
// C:\... (more than 2 units), or \\x\... (more than 3 units, a backslash at or after the fourth).
bool isAbsolutePath(const std::uint16_t* units, std::size_t count);

// A name of a network connection in local text through the C runtime's wcstombs, into out of size
// bytes, with room left for `reserve` more bytes and the terminator. False (out unspecified) when
// the name is null, cannot be converted in the current locale, or does not fit: such a connection
// is skipped, never cut.
bool narrowUseName(const wchar_t* name, char* out, std::size_t size, std::size_t reserve);

// Whether the connection's local name (such as L"Z:"), with a backslash added, is root byte for byte
// (case-sensitive).
bool useNameMatchesRoot(const wchar_t* localName, const char* root);

}  // namespace kvo::fsnative
