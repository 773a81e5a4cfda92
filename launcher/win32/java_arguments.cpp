// Command-line arguments (local code page) as a Java String[] (built from UTF-8).
#include <cstring>

#include "heap.h"
#include "java_arguments.h"
#include "str.h"
#include "trace_log.h"

namespace kvo::launcher {

char* ConvertToUTF8(const char* localString) {
    if (localString == nullptr) {
        KVO_TRACE(traceEntryHigh, "ConvertToUTF8: localString = NIL");
        KVO_TRACE(traceExitHigh, "ConvertToUTF8: return ( NIL )");
        return nullptr;
    }
    KVO_TRACE(traceEntryHigh, "ConvertToUTF8: localString = \"%s\"", localString);
    Str text(localString);
    if (text.c_str() == nullptr) {
        KVO_TRACE(traceError, "ConvertToUTF8: unable to allocate %d byte(s) for value",
                  static_cast<int>(std::strlen(localString) + 1));
        KVO_TRACE(traceExitHigh, "ConvertToUTF8: return ( NIL )");
        return nullptr;
    }
    // Local text that could not be converted is no UTF-8: hand nothing to the JVM rather than that.
    if (!text.localToUTF8()) {
        KVO_TRACE(traceError, "ConvertToUTF8: unable to convert \"%s\" from the local code page",
                  localString);
        KVO_TRACE(traceExitHigh, "ConvertToUTF8: return ( NIL )");
        return nullptr;
    }
    const char* utf8 = text.c_str() != nullptr ? text.c_str() : "";
    size_t size = std::strlen(utf8) + 1;
    char* copy = heapArray<char>(size);
    if (copy == nullptr) {
        KVO_TRACE(traceError, "ConvertToUTF8: unable to allocate %d byte(s) for value",
                  static_cast<int>(size));
        KVO_TRACE(traceExitHigh, "ConvertToUTF8: return ( NIL )");
        return nullptr;
    }
    std::memcpy(copy, utf8, size);
    KVO_TRACE(traceExitHigh, "ConvertToUTF8: return ( \"%s\" )", copy);
    return copy;
}

jobjectArray NewStringArray(JNIEnv* env, int count, const char* const* arguments) {
    KVO_TRACE(traceEntry, "NewStringArray: size = %d", count);
    for (int i = 0; i < count; ++i)
        KVO_TRACE(traceInfo, "NewStringArray: array[ %d ] = \"%s\"", i, arguments[i] ? arguments[i] : "");

    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) {
        KVO_TRACE(traceError, "NewStringArray: unable to find class \"%s\"", "java/lang/String");
        if (env->ExceptionCheck())
            DumpException(env);
        return nullptr;
    }
    jobjectArray array = env->NewObjectArray(count, stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    if (array == nullptr) {
        KVO_TRACE(traceError, "NewStringArray: unable to allocate %d element object array", count);
        if (env->ExceptionCheck())
            DumpException(env);
        return nullptr;
    }

    for (int i = 0; i < count; ++i) {
        char* utf8 = ConvertToUTF8(arguments[i]);
        if (utf8 == nullptr) {
            KVO_TRACE(traceError, "NewStringArray: unable to convert string \"%s\" to UTF8",
                      arguments[i] ? arguments[i] : "");
            continue;  // element i stays null
        }
        jstring string = env->NewStringUTF(utf8);
        if (string == nullptr) {
            KVO_TRACE(traceError, "NewStringArray: unable to allocate utf8 string");
            if (env->ExceptionCheck())
                DumpException(env);
        } else {
            env->SetObjectArrayElement(array, i, string);
            if (env->ExceptionCheck())
                DumpException(env);
            env->DeleteLocalRef(string);
        }
        heapRelease(utf8);
    }
    KVO_TRACE(traceExit, "NewStringArray");
    return array;
}

}  // namespace kvo::launcher
