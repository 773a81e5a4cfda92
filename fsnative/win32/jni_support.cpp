#include "jni_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "exact_code_page.h"
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

HeapArray<char> localRoot(JNIEnv* env, jstring root) {
    {
        const UtfChars chars(env, root);
        if (chars.get() == nullptr || !fitsRootBuffer(chars.get()))
            return HeapArray<char>();
    }
    const HeapArray<char> local = ansiPath(env, root);
    if (!local)
        return HeapArray<char>();
    return withTrailingBackslash(local.get(), isLeadByte);
}

HeapArray<wchar_t> wideRoot(JNIEnv* env, jstring root) {
    if (!localRoot(env, root))
        return HeapArray<wchar_t>();
    const StringChars chars(env, root);
    if (chars.get() == nullptr)
        return HeapArray<wchar_t>();
    const std::size_t units = static_cast<std::size_t>(chars.length());
    HeapArray<wchar_t> wide = makeHeapArray<wchar_t>(units + 2);
    if (!wide)
        return wide;
    std::memcpy(wide.get(), chars.get(), units * sizeof(wchar_t));
    std::size_t end = units;
    if (end == 0 || wide[end - 1] != L'\\')
        wide[end++] = L'\\';
    wide[end] = 0;
    return wide;
}

HeapArray<char> ansiText(const wchar_t* units, int count) {
    if (std::wmemchr(units, 0, static_cast<std::size_t>(count)) != nullptr)
        return HeapArray<char>();
    return kvo::exactBytes({os.WideCharToMultiByte, os.MultiByteToWideChar}, os.GetACP(), units, count).text;
}

HeapArray<char> ansiPath(JNIEnv* env, jstring string) {
    const StringChars chars(env, string);
    if (chars.get() == nullptr)
        return HeapArray<char>();
    return ansiText(reinterpret_cast<const wchar_t*>(chars.get()), chars.length());
}

void traceLine(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    line[sizeof(line) - 2] = 0;
    std::strcat(line, "\n");
    os.OutputDebugStringA(line);
}

jstring javaString(JNIEnv* env, const char* local) {
    Str text(local);
    if (text.c_str() == nullptr || text.localToUTF8() != 1)
        return nullptr;
    return env->NewStringUTF(text.c_str());
}

jstring javaString(JNIEnv* env, const wchar_t* wide) {
    const std::size_t units = std::wcslen(wide);
    return env->NewString(reinterpret_cast<const jchar*>(wide), static_cast<jsize>(units));
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
