// The JVM option array handed to JNI_CreateJavaVM: at most 64 options, each text a heap string
// owned by the list.
#pragma once

#include <jni.h>

#include "trace_log.h"  // KVO_PRINTF_LIKE

namespace kvo::launcher {

constexpr int kMaxJvmOptions = 64;

struct JvmOptionList {
    JavaVMOption options[kMaxJvmOptions] = {};
    int count = 0;
};

// Appends a copy of text (with extraInfo); false when the array is full or memory runs out.
bool addJvmOption(JvmOptionList* list, const char* text, void* extraInfo = nullptr);
// Appends the printf-formatted text; false when the array is full or memory runs out.
bool addJvmOptionFormatted(JvmOptionList* list, const char* format, ...) KVO_PRINTF_LIKE(2, 3);
// Frees every option text; the list is empty afterwards.
void freeJvmOptions(JvmOptionList* list);

// The four strings of the class path assembly that go into the options.
struct JvmPaths {
    const char* bootClasspath;
    const char* classpath;
    const char* libraryPath;
    const char* protocolHandler;
};

// Fills the list with the launcher's options in their fixed order, then the ".jvm.option.N" extras
// of the launcher properties while slots remain (the rest are traced and dropped). Reads the
// launcher state; traces every option. False only when memory runs out.
bool buildJvmOptions(JvmOptionList* list, const JvmPaths& paths);

}  // namespace kvo::launcher
