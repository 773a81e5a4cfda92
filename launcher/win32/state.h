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

}  // namespace kvo::launcher
