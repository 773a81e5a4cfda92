// The natives of com.orvane.kvo.libs.RndAccessFile: a file whose system handle lives in the Java
// object's long field `filehandle` (-1: no file open). Failures throw java/io/IOException with a fixed
// message, a missing field included where the native documents it; a null array throws
// java/lang/NullPointerException and a block outside its array java/lang/IndexOutOfBoundsException
// (as java.io does) before anything is read or written.
#include <windows.h>

#include <cstdint>

#include "com_orvane_kvo_libs_RndAccessFile.h"
#include "jni_support.h"
#include "native_values.h"
#include "os_calls.h"

namespace kvo::fsnative {

namespace {

constexpr const char* kIOException = "java/io/IOException";
constexpr const char* kIndexOutOfBounds = "java/lang/IndexOutOfBoundsException";
constexpr const char* kNullPointer = "java/lang/NullPointerException";
constexpr const char* kOpenFailed = "Error opening file";
constexpr const char* kReadFailed = "Error reading file";
constexpr const char* kWriteFailed = "Error writing file";
constexpr const char* kPointerFailed = "Error getting file pointer";
constexpr const char* kSeekFailed = "Error setting file pointer";
constexpr const char* kLengthFailed = "Error getting file length";

// The field `filehandle` of obj; null with the JVM's NoSuchFieldError pending when it is missing
// (that error is then what the caller sees: no second exception can be thrown over it).
jfieldID handleFieldOf(JNIEnv* env, jobject obj) {
    const jclass cls = env->GetObjectClass(obj);
    const jfieldID id = env->GetFieldID(cls, "filehandle", "J");
    env->DeleteLocalRef(cls);
    return id;
}

HANDLE handleIn(JNIEnv* env, jobject obj, jfieldID id) {
    return static_cast<HANDLE>(handleOf(env->GetLongField(obj, id)));
}

// What a native reports when the object has no `filehandle` field: the JVM's NoSuchFieldError (the
// readers), or its own IOException in place of that error (the writers, the pointer and the length).
enum class MissingField { NoSuchFieldError, IOException };

// The open file the object holds. False when there is none: with IOException(failure) thrown, or,
// when the object has no `filehandle` field and `missing` says so, NoSuchFieldError pending.
bool openFile(JNIEnv* env, jobject obj, const char* failure, HANDLE& file,
              MissingField missing = MissingField::IOException) {
    const jfieldID id = handleFieldOf(env, obj);
    if (id == nullptr) {
        if (missing == MissingField::IOException) {
            env->ExceptionClear();
            throwNew(env, kIOException, failure);
        }
        return false;
    }
    file = handleIn(env, obj, id);
    if (file == nullptr) {
        throwNew(env, kIOException, failure);
        return false;
    }
    return true;
}

// Whether a block of an array argument fits; throws NullPointerException for a null array and
// IndexOutOfBoundsException for a block outside it.
bool checkBlock(JNIEnv* env, jbyteArray array, jint off, jint len) {
    if (array == nullptr) {
        throwNew(env, kNullPointer, "null array");
        return false;
    }
    if (!blockFits(off, len, env->GetArrayLength(array))) {
        throwNew(env, kIndexOutOfBounds, "block outside the array");
        return false;
    }
    return true;
}

// SetFilePointer and GetFileSize report failure as their invalid value together with an error
// code; the invalid value alone is a valid low half.
bool failedWithCode(DWORD result, DWORD invalid) {
    return result == invalid && GetLastError() != NO_ERROR;
}

jlong joined(DWORD low, DWORD high) {
    return static_cast<jlong>((static_cast<std::uint64_t>(high) << 32) | low);
}

}  // namespace

}  // namespace kvo::fsnative

using namespace kvo::fsnative;
using kvo::HeapArray;

JNIEXPORT void JNICALL Java_com_orvane_kvo_libs_RndAccessFile_openNative(JNIEnv* env, jobject obj,
                                                                         jstring name, jboolean write) {
    const QuietErrorMode quiet;
    const jfieldID id = handleFieldOf(env, obj);
    if (id == nullptr)
        return;
    const HeapArray<char> path = ansiPath(env, name);
    if (env->ExceptionCheck())
        return;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (path) {
        file =
            os.CreateFileA(path.get(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ,
                           nullptr, write ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // A handle the object still holds would be lost when the field is overwritten.
    if (const HANDLE previous = handleIn(env, obj, id))
        CloseHandle(previous);
    env->SetLongField(obj, id, handleField(file));
    if (file == INVALID_HANDLE_VALUE)
        throwNew(env, kIOException, kOpenFailed);
}

JNIEXPORT jint JNICALL Java_com_orvane_kvo_libs_RndAccessFile_readNative(JNIEnv* env, jobject obj) {
    const QuietErrorMode quiet;
    HANDLE file = nullptr;
    if (!openFile(env, obj, kReadFailed, file, MissingField::NoSuchFieldError))
        return -1;
    unsigned char byte = 0;
    DWORD read = 0;
    if (!os.ReadFile(file, &byte, 1, &read, nullptr) || read != 1)
        return -1;
    return byte;
}

JNIEXPORT jint JNICALL Java_com_orvane_kvo_libs_RndAccessFile_readBytesNative(JNIEnv* env, jobject obj,
                                                                              jbyteArray b, jint off,
                                                                              jint len) {
    const QuietErrorMode quiet;
    HANDLE file = nullptr;
    if (!openFile(env, obj, kReadFailed, file, MissingField::NoSuchFieldError))
        return -1;
    if (!checkBlock(env, b, off, len))
        return -1;
    const ByteElements elements(env, b, 0);
    if (elements.get() == nullptr)
        return -1;
    DWORD read = 0;
    if (!os.ReadFile(file, elements.get() + off, static_cast<DWORD>(len), &read, nullptr))
        return -1;
    return static_cast<jint>(read);
}

JNIEXPORT void JNICALL Java_com_orvane_kvo_libs_RndAccessFile_writeNative(JNIEnv* env, jobject obj, jint b) {
    const QuietErrorMode quiet;
    HANDLE file = nullptr;
    if (!openFile(env, obj, kWriteFailed, file))
        return;
    const unsigned char byte = static_cast<unsigned char>(b & 0xFF);
    DWORD written = 0;
    if (!os.WriteFile(file, &byte, 1, &written, nullptr) || written != 1)
        throwNew(env, kIOException, kWriteFailed);
}

JNIEXPORT void JNICALL Java_com_orvane_kvo_libs_RndAccessFile_writeBytesNative(JNIEnv* env, jobject obj,
                                                                               jbyteArray b, jint off,
                                                                               jint len) {
    const QuietErrorMode quiet;
    HANDLE file = nullptr;
    if (!openFile(env, obj, kWriteFailed, file))
        return;
    if (!checkBlock(env, b, off, len))
        return;
    DWORD written = 0;
    bool whole = false;
    {
        // The elements are only read: released without copying them back.
        const ByteElements elements(env, b, JNI_ABORT);
        if (elements.get() == nullptr)
            return;
        whole = os.WriteFile(file, elements.get() + off, static_cast<DWORD>(len), &written, nullptr) &&
                written == static_cast<DWORD>(len);
    }
    if (!whole)
        throwNew(env, kIOException, kWriteFailed);
}

JNIEXPORT jlong JNICALL Java_com_orvane_kvo_libs_RndAccessFile_getFilePointerNative(JNIEnv* env,
                                                                                    jobject obj) {
    const QuietErrorMode quiet;
    HANDLE file = nullptr;
    if (!openFile(env, obj, kPointerFailed, file))
        return -1;
    LONG high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = os.SetFilePointer(file, 0, &high, FILE_CURRENT);
    if (failedWithCode(low, INVALID_SET_FILE_POINTER)) {
        throwNew(env, kIOException, kPointerFailed);
        return -1;
    }
    return joined(low, static_cast<DWORD>(high));
}

JNIEXPORT void JNICALL Java_com_orvane_kvo_libs_RndAccessFile_seekNative(JNIEnv* env, jobject obj,
                                                                         jlong pos) {
    const QuietErrorMode quiet;
    HANDLE file = nullptr;
    if (!openFile(env, obj, kSeekFailed, file))
        return;
    const std::uint64_t position = static_cast<std::uint64_t>(pos);
    LONG high = highHalf(position);
    SetLastError(NO_ERROR);
    const DWORD low = os.SetFilePointer(file, lowHalf(position), &high, FILE_BEGIN);
    if (failedWithCode(low, INVALID_SET_FILE_POINTER))
        throwNew(env, kIOException, kSeekFailed);
}

JNIEXPORT jlong JNICALL Java_com_orvane_kvo_libs_RndAccessFile_lengthNative(JNIEnv* env, jobject obj) {
    const QuietErrorMode quiet;
    HANDLE file = nullptr;
    if (!openFile(env, obj, kLengthFailed, file))
        return -1;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = os.GetFileSize(file, &high);
    if (failedWithCode(low, INVALID_FILE_SIZE)) {
        throwNew(env, kIOException, kLengthFailed);
        return -1;
    }
    return joined(low, high);
}

JNIEXPORT void JNICALL Java_com_orvane_kvo_libs_RndAccessFile_closeNative(JNIEnv* env, jobject obj) {
    const QuietErrorMode quiet;
    const jfieldID id = handleFieldOf(env, obj);
    if (id == nullptr)
        return;
    if (const HANDLE file = handleIn(env, obj, id)) {
        CloseHandle(file);
        env->SetLongField(obj, id, kNoHandle);
    }
}
