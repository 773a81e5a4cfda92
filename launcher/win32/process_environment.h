// The process the JVM runs in: dump environment variables, one processor, the system's locale, and
// the hooks the JVM calls when the Java program exits or the JVM aborts.
#pragma once

#include <jni.h>

namespace kvo::launcher {

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

}  // namespace kvo::launcher
