// Process-wide state of a launcher program and the launcher functions that work on it.
//
// The main thread fills the state before it starts the worker thread (JavaThread); afterwards the
// state is only read. Paths are narrow strings in the local code page, in 260-byte buffers (at most
// 259 characters, cut rather than overrun), each directory ending with a backslash.
#pragma once

#include <jni.h>

#include "bounded_path.h"  // kPathBufferSize, kMaxPathLength
#include "properties.h"
#include "trace_log.h"  // extern RAS* ras: the trace log, null until main creates it
#include "variant.h"

// ---- Launcher state ----------------------------------------------------------------------------

extern int launcherArgc;  // argument count and vector of the run-time library, unchanged
extern char** launcherArgv;
extern int firstJavaArgument;        // Java main receives launcherArgv[firstJavaArgument..]
extern const char* mainClassName;    // dotted name of the Java class to run
extern const char* programName;      // base name of the per-program files, window title
extern const char* windowClassName;  // class of the hidden window

extern char rootDirectory[kPathBufferSize];
extern char binDirectory[kPathBufferSize];
extern char dataDirectory[kPathBufferSize];
extern char databaseDirectory[kPathBufferSize];
extern char jniDirectory[kPathBufferSize];
extern char jreDirectory[kPathBufferSize];
extern char logDirectory[kPathBufferSize];
extern char proddataDirectory[kPathBufferSize];
extern char tempdataDirectory[kPathBufferSize];

// Registry flags, 0 or 1; all start as 0.
extern int logOutputFlag;
extern int noClassGCFlag;
extern int jitFlag;
extern int smpOkFlag;

extern unsigned long mainThreadId;     // quit messages (WM_QUIT + exit code) are posted here
extern Properties launcherProperties;  // the launcher properties file, loaded by main
extern JavaVM* jvm;                    // set by the worker once the JVM is created

// ---- Settings ------------------------------------------------------------------------------------

// Registry key read by LoadSettings (HKEY_LOCAL_MACHINE, the program's own registry view).
extern const char* const kSettingsKey;  // "SOFTWARE\\Orvane\\Varnel\\CurrentVersion"

// Reads the registry key and fills the nine directories and the four flags. Runs before the trace
// log exists: its only messages go to standard error.
void LoadSettings();

// Unsigned number of a launcher property; default when missing or not a number.
unsigned long GetProperty(const wchar_t* key, unsigned long defaultValue);
// 1 for "TRUE", "T", "YES", "Y" (any case) or "1"; default for anything else or when missing.
int GetBooleanProperty(const wchar_t* key, int defaultValue);

// ---- Class paths ---------------------------------------------------------------------------------

// Ordered class path entries (owned, malloc'ed narrow strings), never two equal ignoring case.
struct ClasspathList {
    char** entries = nullptr;
    int count = 0;
};

// Frees the entries and the array; the list is empty afterwards.
void FreeClasspathList(ClasspathList* list);

// Each returns a new string (free() it), or null when memory runs out.
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
// New copy (free() it) of the first CLASSPATH entry ending with pattern (ignoring case), or null.
char* GetEntryFromSystemClasspath(const char* pattern);

// ---- Process environment and JVM hooks ----------------------------------------------------------

// JAVA_DUMP_OPTS and the ZAL_ dump variables (dump directories = log directory).
void SetEnvironmentVariables();
// Restricts the process to one of its allowed processors (no trace: runs before the trace log).
void BindToOneProcessor();
// user.language and user.region from the system default language (constant strings).
void GetLocale(const char** language, const char** region);

// JVM "exit" hook: posts WM_QUIT with code to the main thread.
void JNICALL JvmExit(jint code);
// JVM "abort" hook: posts WM_QUIT with -13 to the main thread.
void JNICALL JvmAbort();

// ---- Java arguments ------------------------------------------------------------------------------

// New String[count] of the arguments converted to UTF-8; an element that cannot be converted stays
// null. Null when the class java.lang.String or the array cannot be had.
jobjectArray NewStringArray(JNIEnv* env, int count, const char* const* arguments);
// New UTF-8 copy (free() it) of local-code-page text, or null (also for null input).
char* ConvertToUTF8(const char* localString);
// Turns every "/" into "\\" in place; accepts null.
void NormalizeFileName(char* name);

// Reports the pending Java exception in the variant's way (describe to stderr, or a ".jexp" file).
// Defined with the shutdown and dump code of the programs, not in kvo_launcher_core.
void DumpException(JNIEnv* env);
