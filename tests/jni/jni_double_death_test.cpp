// Misuse and operations the double does not provide stop the process with a message naming them.
#include "jni_double.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

using kvojni::Vm;

struct Misuse {
    const char* what;
    std::function<void(Vm&, JNIEnv*)> action;
    const char* message;  // gtest's simple regular expression
};

TEST(JniDoubleTables, EverySlotIsFilled) {
    Vm vm;
    const auto* native = reinterpret_cast<void* const*>(vm.env()->functions);
    for (size_t i = 0; i < sizeof(JNINativeInterface_) / sizeof(void*); ++i)
        EXPECT_NE(native[i], nullptr) << "JNIEnv slot " << i;
    const auto* invoke = reinterpret_cast<void* const*>(vm.javaVm()->functions);
    for (size_t i = 0; i < sizeof(JNIInvokeInterface_) / sizeof(void*); ++i)
        EXPECT_NE(invoke[i], nullptr) << "JavaVM slot " << i;
}

TEST(JniDoubleDeathTest, MisuseStopsTheProcessNamingIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Misuse cases[] = {
        {"unused JNIEnv slot",
         [](Vm&, JNIEnv* env) { env->MonitorEnter(env->FindClass("java/lang/Object")); },
         "JNIEnv function MonitorEnter is not provided"},
        {"unused JNIEnv slot with a return value",
         [](Vm&, JNIEnv* env) { env->GetMethodID(env->FindClass("java/lang/Object"), "<init>", "()V"); },
         "JNIEnv function GetMethodID is not provided"},
        {"reference deleted twice",
         [](Vm&, JNIEnv* env) {
             jstring s = env->NewStringUTF("x");
             env->DeleteLocalRef(s);
             env->DeleteLocalRef(s);
         },
         "DeleteLocalRef: reference used after it was deleted"},
        {"call with an exception pending",
         [](Vm&, JNIEnv* env) {
             env->ThrowNew(env->FindClass("java/lang/RuntimeException"), "pending");
             env->FindClass("java/lang/String");
         },
         "FindClass: called with an exception pending"},
        {"field read with the wrong type",
         [](Vm& vm, JNIEnv* env) {
             vm.defineClass("kvo/test/H");
             vm.addField("kvo/test/H", "filehandle", "J");
             jobject obj = vm.newInstance("kvo/test/H");
             env->GetIntField(obj, env->GetFieldID(env->GetObjectClass(obj), "filehandle", "J"));
         },
         "GetIntField: field filehandle has signature J"},
        {"string released twice",
         [](Vm&, JNIEnv* env) {
             jstring s = env->NewStringUTF("x");
             const char* chars = env->GetStringUTFChars(s, nullptr);
             env->ReleaseStringUTFChars(s, chars);
             env->ReleaseStringUTFChars(s, chars);
         },
         "ReleaseStringUTFChars: buffer was not obtained"},
        {"env used on another thread",
         [](Vm&, JNIEnv* env) { std::thread([env] { env->FindClass("java/lang/String"); }).join(); },
         "FindClass: JNIEnv used on a thread it does not belong to"},
        {"env used after DestroyJavaVM",
         [](Vm& vm, JNIEnv* env) {
             vm.destroy();
             env->FindClass("java/lang/String");
         },
         "FindClass: JNIEnv of a detached thread"},
    };
    for (const Misuse& c : cases) {
        EXPECT_EXIT(
            {
                Vm vm;
                c.action(vm, vm.env());
            },
            ::testing::ExitedWithCode(kvojni::kMisuseExitCode), c.message)
            << c.what;
    }
}

}  // namespace
