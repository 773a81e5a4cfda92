// What the class paths are made of, and the text rules that assemble them. Platform-free.
#pragma once

#include <cstddef>

#include "local_text.h"

namespace kvo::launcher {

// Boot class path entries, each appended to the root directory.
extern const char* const kBootClasspathEntries[];
extern const int kBootClasspathEntryCount;  // 2
// Application class path entries, each appended to the root directory, in order.
extern const char* const kFixedClasspathEntries[];
extern const int kFixedClasspathEntryCount;  // 15
// URL protocol handler packages, in order, and their separator.
extern const char* const kProtocolHandlerPackages[];
extern const int kProtocolHandlerPackageCount;       // 4
extern const char* const kProtocolHandlerSeparator;  // "|"
extern const char* const kClasspathSeparator;        // ";"
// Extension description files live in root + this directory.
extern const char* const kExtensionDirectory;  // "classes\\extensions\\"
// Prefix of a class path value naming an entry of the CLASSPATH environment variable.
extern const char* const kSystemClasspathPrefix;  // "classpath:"

// Size in bytes (terminator included) of entries joined with separator between them.
size_t joinedSize(const char* const* entries, int count, const char* separator);
// Writes the entries joined with separator into out (joinedSize bytes); no trailing separator.
void joinEntries(char* out, const char* const* entries, int count, const char* separator);

// How a "classpath.append.N" value turns into a class path entry.
enum class ClasspathValueKind {
    SystemClasspath,  // "classpath:<pattern>": the first CLASSPATH entry ending with the pattern
    Verbatim,         // exactly "\\" or "/", or contains ":": the value itself
    RootRelative,     // anything else: root + value
};
// Kind of text; for SystemClasspath, *pattern points at the pattern inside text.
ClasspathValueKind classifyClasspathValue(const char* text, const char** pattern);

// Searches the ";"-separated list (changed in place: separators become NULs) for the first
// non-empty piece that ends with pattern ignoring case; returns it or null. visit, when given, is
// called with each piece looked at, in order.
char* firstEntryEndingWith(char* list, const char* pattern, LeadBytePredicate isLeadByte,
                           void (*visit)(const char* entry));

// Library path: jni + ";" + bin, each without its final character (the trailing backslash), then
// ";" + pathVariable when that is not null. Size in bytes, terminator included.
size_t libraryPathSize(const char* jni, const char* bin, const char* pathVariable);
void composeLibraryPath(char* out, const char* jni, const char* bin, const char* pathVariable);

}  // namespace kvo::launcher
