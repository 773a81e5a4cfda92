#include "jni_support.h"

#include <cstring>

#include "os_calls.h"
#include "path_rules.h"

namespace kvo::fsnative {

HMODULE libraryModule = nullptr;

UtfChars::UtfChars(JNIEnv* env, jstring string)
    : env_(env),
      string_(string),
      chars_(string != nullptr ? env->GetStringUTFChars(string, nullptr) : nullptr) {}

UtfChars::~UtfChars() {
    if (chars_ != nullptr)
        env_->ReleaseStringUTFChars(string_, chars_);
}

StringChars::StringChars(JNIEnv* env, jstring string)
    : env_(env), string_(string), chars_(nullptr), length_(0) {
    if (string != nullptr) {
        length_ = env->GetStringLength(string);
        chars_ = env->GetStringChars(string, nullptr);
    }
}

StringChars::~StringChars() {
    if (chars_ != nullptr)
        env_->ReleaseStringChars(string_, chars_);
}

ByteElements::ByteElements(JNIEnv* env, jbyteArray array, jint mode)
    : env_(env), array_(array), elements_(env->GetByteArrayElements(array, nullptr)), mode_(mode) {}

ByteElements::~ByteElements() {
    if (elements_ != nullptr)
        env_->ReleaseByteArrayElements(array_, elements_, mode_);
}

bool isLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

bool localText(JNIEnv* env, jstring string, Str& out) {
    {
        const UtfChars chars(env, string);
        if (chars.get() == nullptr)
            return false;
        out = chars.get();
    }
    return out.c_str() != nullptr && out.utf8ToLocal() == 1;
}

HeapArray<char> localRoot(JNIEnv* env, jstring root) {
    Str local;
    {
        const UtfChars chars(env, root);
        if (chars.get() == nullptr || !fitsRootBuffer(chars.get()))
            return HeapArray<char>();
        char buffer[kRootBufferSize];
        std::memcpy(buffer, chars.get(), std::strlen(chars.get()) + 1);
        local = buffer;
    }
    if (local.c_str() == nullptr || local.utf8ToLocal() != 1)
        return HeapArray<char>();
    return withTrailingBackslash(local.c_str(), isLeadByte);
}

HeapArray<char> ansiPath(JNIEnv* env, jstring string) {
    const StringChars chars(env, string);
    if (chars.get() == nullptr)
        return HeapArray<char>();
    const jsize units = chars.length();
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(chars.get());
    if (units == 0) {
        HeapArray<char> empty = makeHeapArray<char>(1);
        if (empty)
            empty[0] = 0;
        return empty;
    }
    // The UTF-8 code page takes no best-fit flag and no used-default flag: it reports characters it
    // cannot encode (unpaired surrogates) as errors instead.
    const UINT codePage = os.GetACP();
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const int size = os.WideCharToMultiByte(codePage, flags, wide, units, nullptr, 0, nullptr, used);
    if (size <= 0 || usedDefault)
        return HeapArray<char>();
    HeapArray<char> path = makeHeapArray<char>(static_cast<size_t>(size) + 1);
    if (!path)
        return path;
    const int written = os.WideCharToMultiByte(codePage, flags, wide, units, path.get(), size, nullptr, used);
    if (written != size || usedDefault || std::memchr(path.get(), 0, static_cast<size_t>(size)) != nullptr)
        return HeapArray<char>();
    path[size] = 0;
    return path;
}

jstring javaString(JNIEnv* env, const char* local) {
    Str text(local);
    if (text.c_str() == nullptr || text.localToUTF8() != 1)
        return nullptr;
    return env->NewStringUTF(text.c_str());
}

jobjectArray newStringArray(JNIEnv* env, jsize count) {
    const jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr)
        return nullptr;
    const jobjectArray array = env->NewObjectArray(count, stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    return array;
}

bool setStringElement(JNIEnv* env, jobjectArray array, jsize index, const char* local) {
    const jstring element = javaString(env, local);
    if (element == nullptr)
        return false;
    env->SetObjectArrayElement(array, index, element);
    env->DeleteLocalRef(element);
    return env->ExceptionCheck() == JNI_FALSE;
}

void throwNew(JNIEnv* env, const char* className, const char* message) {
    const jclass cls = env->FindClass(className);
    if (cls == nullptr)
        return;
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

}  // namespace kvo::fsnative
