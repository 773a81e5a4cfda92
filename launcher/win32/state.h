// Process-wide state of a launcher program.
//
// The main thread fills the state before it starts the worker thread (JavaThread); afterwards the
// state is only read. Paths are narrow strings in the local code page, in 260-byte buffers (at most
// 259 characters, cut rather than overrun), each directory ending with a backslash.
#pragma once

#include <jni.h>

#include "bounded_path.h"  // kPathBufferSize, kMaxPathLength
#include "properties.h"

namespace kvo::launcher {

// The command line split into its arguments as typed (command_line.h), argument 0 the program.
extern int commandArgumentCount;
extern wchar_t** commandArguments;
extern int firstJavaArgument;         // Java main receives commandArguments[firstJavaArgument..]
extern const wchar_t* javaClassName;  // dotted name of the Java class to run, as typed
extern const char* mainClassName;     // the same in the local code page
extern const char* programName;       // base name of the per-program files, window title
extern const char* windowClassName;   // class of the hidden window

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

}  // namespace kvo::launcher
