// Class path assembly: the boot class path, the application class path (fixed entries, extension
// files, launcher properties), the native library path and the protocol handler packages.
#pragma once

namespace kvo {
class Properties;
}

namespace kvo::launcher {

// Ordered class path entries (owned heap strings), never two equal ignoring case. The array of
// entries doubles whenever it is full.
struct ClasspathList {
    char** entries = nullptr;
    int count = 0;
    int capacity = 0;  // slots of entries
};

// Frees the entries and the array; the list is empty afterwards.
void freeClasspathList(ClasspathList* list);

// Each returns a new heap string (heapRelease it), or null when memory runs out.
char* BuildBootClasspath();
char* BuildClasspath();
char* BuildLibraryPath();
char* BuildProtocolHandler();

// Appends a copy of entry unless an entry equal to it ignoring case is present.
void AddClasspathEntryToList(ClasspathList* list, const char* entry);
// Adds the "classpath.append.N" entries of every file in root + "classes\\extensions\\" matching filter.
void SearchExtensions(ClasspathList* list, const char* filter);
// Adds the entries named by "classpath.append.1", ".2", ... of properties (until the first missing).
void ProcessClasspathProperties(ClasspathList* list, const Properties* properties);
// New copy (heapRelease it) of the first CLASSPATH entry ending with pattern (ignoring case), or null.
char* GetEntryFromSystemClasspath(const char* pattern);

}  // namespace kvo::launcher
