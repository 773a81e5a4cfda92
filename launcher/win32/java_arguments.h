// The launcher's command-line arguments as Java strings, and the reports of pending Java exceptions.
#pragma once

#include <jni.h>

namespace kvo::launcher {

// New String[count] of the arguments as typed (UTF-16, each unit kept); an element that cannot be had
// stays null. Null when the class java.lang.String or the array cannot be had.
jobjectArray NewStringArray(JNIEnv* env, int count, const wchar_t* const* arguments);
// New copy (heapRelease it) of UTF-16 text in the JVM's UTF-8 form, one to three bytes for each unit,
// or null (also for null input).
char* ConvertToUTF8(const wchar_t* string);
// Turns every "/" into "\\" in place; accepts null.
void NormalizeFileName(char* name);

// Reports the pending Java exception in the variant's way (describe to stderr, or a ".jexp" file).
// Defined with the shutdown and dump code of the programs, not in kvo_launcher_core.
void DumpException(JNIEnv* env);

}  // namespace kvo::launcher
