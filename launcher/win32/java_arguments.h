// The launcher's command-line arguments as Java strings, and the reports of pending Java exceptions.
#pragma once

#include <jni.h>

namespace kvo::launcher {

// New String[count] of the arguments converted to UTF-8; an element that cannot be converted stays
// null. Null when the class java.lang.String or the array cannot be had.
jobjectArray NewStringArray(JNIEnv* env, int count, const char* const* arguments);
// New UTF-8 copy (heapRelease it) of local-code-page text, or null (also for null input).
char* ConvertToUTF8(const char* localString);
// Turns every "/" into "\\" in place; accepts null.
void NormalizeFileName(char* name);

// Reports the pending Java exception in the variant's way (describe to stderr, or a ".jexp" file).
// Defined with the shutdown and dump code of the programs, not in kvo_launcher_core.
void DumpException(JNIEnv* env);

}  // namespace kvo::launcher
