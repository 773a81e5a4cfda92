// Command-line arguments (UTF-16, as typed) as a Java String[] (built from the JVM's UTF-8 form).
#include "heap.h"
#include "java_arguments.h"
#include "table_convert.h"
#include "trace_log.h"

namespace kvo::launcher {

char* ConvertToUTF8(const wchar_t* string) {
    if (string == nullptr) {
        KVO_TRACE(traceEntryHigh, "ConvertToUTF8: string = NIL");
        KVO_TRACE(traceExitHigh, "ConvertToUTF8: return ( NIL )");
        return nullptr;
    }
    KVO_TRACE(traceEntryHigh, "ConvertToUTF8: string = \"%S\"", string);
    // Every unit on its own, surrogates too, as the JVM's modified UTF-8 has them; a command line
    // holds no zero unit, so no unit needs the two-byte form of zero.
    const size_t size = textconv::utf8SizeOf(string);
    char* copy = heapArray<char>(size);
    if (copy == nullptr) {
        KVO_TRACE(traceError, "ConvertToUTF8: unable to allocate %d byte(s) for value",
                  static_cast<int>(size));
        KVO_TRACE(traceExitHigh, "ConvertToUTF8: return ( NIL )");
        return nullptr;
    }
    textconv::encodeUtf8Text(string, reinterpret_cast<unsigned char*>(copy));
    KVO_TRACE(traceExitHigh, "ConvertToUTF8: return ( \"%s\" )", copy);
    return copy;
}

jobjectArray NewStringArray(JNIEnv* env, int count, const wchar_t* const* arguments) {
    KVO_TRACE(traceEntry, "NewStringArray: size = %d", count);
    for (int i = 0; i < count; ++i)
        KVO_TRACE(traceInfo, "NewStringArray: array[ %d ] = \"%S\"", i, arguments[i] ? arguments[i] : L"");

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
            KVO_TRACE(traceError, "NewStringArray: unable to convert string \"%S\" to UTF8",
                      arguments[i] ? arguments[i] : L"");
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
