#include "jni_double.h"

#include "capture_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using kvojni::Vm;

class JniDouble : public ::testing::Test {
protected:
    Vm vm;
    JNIEnv* env = vm.env();
};

TEST_F(JniDouble, FindClassFindsSlashNamesOnly) {
    jclass string = env->FindClass("java/lang/String");
    ASSERT_NE(string, nullptr);
    EXPECT_EQ(vm.className(string), "java/lang/String");
    EXPECT_FALSE(env->ExceptionCheck());

    for (const char* missing : {"java.lang.String", "kvo/Unknown", ""}) {
        EXPECT_EQ(env->FindClass(missing), nullptr) << missing;
        EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/NoClassDefFoundError") << missing;
        EXPECT_EQ(vm.pendingExceptionMessage(), missing);
        env->ExceptionClear();
    }

    vm.hideClass("java/lang/String");
    EXPECT_EQ(env->FindClass("java/lang/String"), nullptr);
    EXPECT_TRUE(env->ExceptionCheck());
}

TEST_F(JniDouble, StaticMethodsReceiveTheirArgumentsBySignature) {
    vm.defineClass("kvo/test/Target");
    jint seenInt = 0;
    jlong seenLong = 0;
    jchar seenChar = 0;
    std::string seenText;
    vm.addStaticMethod("kvo/test/Target", "take", "(IJLjava/lang/String;C[B)V",
                       [&](JNIEnv* e, jclass, const std::vector<jvalue>& args) {
                           ASSERT_EQ(args.size(), 5u);
                           seenInt = args[0].i;
                           seenLong = args[1].j;
                           seenText = Vm::of(e).stringUtf8(args[2].l);
                           seenChar = args[3].c;
                       });
    jclass cls = env->FindClass("kvo/test/Target");
    jmethodID take = env->GetStaticMethodID(cls, "take", "(IJLjava/lang/String;C[B)V");
    ASSERT_NE(take, nullptr);
    env->CallStaticVoidMethod(cls, take, jint(-7), jlong(0x123456789LL), env->NewStringUTF("x\xC3\xA9"),
                              jchar(0x20AC), vm.newByteArray("ab"));
    EXPECT_EQ(seenInt, -7);
    EXPECT_EQ(seenLong, 0x123456789LL);
    EXPECT_EQ(seenText, "x\xC3\xA9");
    EXPECT_EQ(seenChar, 0x20AC);

    jvalue args[5] = {};
    args[0].i = 42;
    args[2].l = env->NewStringUTF("array form");
    env->CallStaticVoidMethodA(cls, take, args);
    EXPECT_EQ(seenInt, 42);
    EXPECT_EQ(seenText, "array form");
}

TEST_F(JniDouble, MissingMethodsAndFieldsLeaveTheirErrorPending) {
    vm.defineClass("kvo/test/Holder");
    vm.addField("kvo/test/Holder", "filehandle", "J");
    vm.addStaticField("kvo/test/Holder", "TYPE_FIXED", "I");
    vm.addStaticMethod("kvo/test/Holder", "main", "([Ljava/lang/String;)V", nullptr);
    jclass cls = env->FindClass("kvo/test/Holder");

    struct Lookup {
        const char* what;
        std::function<bool()> found;
        const char* error;
        const char* message;
    };
    const Lookup lookups[] = {
        {"method with another signature",
         [&] { return env->GetStaticMethodID(cls, "main", "()V") != nullptr; }, "java/lang/NoSuchMethodError",
         "main"},
        {"unknown method", [&] { return env->GetStaticMethodID(cls, "run", "()V") != nullptr; },
         "java/lang/NoSuchMethodError", "run"},
        {"field with another signature", [&] { return env->GetFieldID(cls, "filehandle", "I") != nullptr; },
         "java/lang/NoSuchFieldError", "filehandle"},
        {"static field asked as instance field",
         [&] { return env->GetFieldID(cls, "TYPE_FIXED", "I") != nullptr; }, "java/lang/NoSuchFieldError",
         "TYPE_FIXED"},
        {"instance field asked as static field",
         [&] { return env->GetStaticFieldID(cls, "filehandle", "J") != nullptr; },
         "java/lang/NoSuchFieldError", "filehandle"},
    };
    for (const Lookup& l : lookups) {
        EXPECT_FALSE(l.found()) << l.what;
        EXPECT_EQ(vm.pendingExceptionClass(), l.error) << l.what;
        EXPECT_EQ(vm.pendingExceptionMessage(), l.message) << l.what;
        env->ExceptionClear();
    }
    EXPECT_NE(env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V"), nullptr);
    EXPECT_NE(env->GetFieldID(cls, "filehandle", "J"), nullptr);
    EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(JniDouble, FieldsOfEachModelledType) {
    vm.defineClass("kvo/test/Base");
    vm.addField("kvo/test/Base", "count", "I");
    vm.defineClass("kvo/test/Holder", "kvo/test/Base");
    vm.addField("kvo/test/Holder", "lowDateTime", "J");
    vm.addField("kvo/test/Holder", "path", "Ljava/lang/String;");
    vm.addStaticField("kvo/test/Holder", "native_sep", "C");
    vm.addStaticField("kvo/test/Holder", "ATTR_HIDDEN", "I");
    vm.setStaticIntField("kvo/test/Holder", "ATTR_HIDDEN", 0x40);

    jobject obj = vm.newInstance("kvo/test/Holder");
    jclass cls = env->GetObjectClass(obj);
    EXPECT_EQ(vm.className(cls), "kvo/test/Holder");

    jfieldID count = env->GetFieldID(cls, "count", "I");  // inherited
    jfieldID low = env->GetFieldID(cls, "lowDateTime", "J");
    jfieldID path = env->GetFieldID(cls, "path", "Ljava/lang/String;");
    ASSERT_TRUE(count && low && path);
    EXPECT_EQ(env->GetIntField(obj, count), 0);
    env->SetIntField(obj, count, -1);
    env->SetLongField(obj, low, 0x0123456789ABCDEFLL);
    env->SetObjectField(obj, path, env->NewStringUTF("C:\\x"));
    EXPECT_EQ(vm.intField(obj, "count"), -1);
    EXPECT_EQ(env->GetLongField(obj, low), 0x0123456789ABCDEFLL);
    EXPECT_EQ(vm.stringUtf8(env->GetObjectField(obj, path)), "C:\\x");

    jfieldID sep = env->GetStaticFieldID(cls, "native_sep", "C");
    jfieldID hidden = env->GetStaticFieldID(cls, "ATTR_HIDDEN", "I");
    ASSERT_TRUE(sep && hidden);
    env->SetStaticCharField(cls, sep, jchar('\\'));
    EXPECT_EQ(vm.staticCharField("kvo/test/Holder", "native_sep"), '\\');
    EXPECT_EQ(env->GetStaticIntField(cls, hidden), 0x40);
}

TEST_F(JniDouble, StringsKeepModifiedUtf8AndTheirUtf16Form) {
    // U+00E9, U+0000 and U+1F600 as the launcher's converter and a JVM would spell them.
    const std::string bytes = "\xC3\xA9\xC0\x80\xED\xA0\xBD\xED\xB8\x80";
    jstring s = env->NewStringUTF(bytes.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(env->GetStringUTFLength(s), jsize(bytes.size()));
    EXPECT_EQ(env->GetStringLength(s), 4);
    EXPECT_EQ(vm.stringUtf16(s), std::u16string(u"\u00E9\0\U0001F600", 4));

    jboolean isCopy = JNI_FALSE;
    const char* utf = env->GetStringUTFChars(s, &isCopy);
    EXPECT_EQ(std::string(utf), bytes);
    EXPECT_TRUE(isCopy);
    const jchar* units = env->GetStringChars(s, nullptr);
    EXPECT_EQ(units[0], 0xE9);
    EXPECT_EQ(units[1], 0);
    EXPECT_EQ(units[2], 0xD83D);
    EXPECT_EQ(units[4], 0);  // terminated after the last unit
    EXPECT_EQ(vm.pinnedBuffers(), 2u);
    env->ReleaseStringUTFChars(s, utf);
    env->ReleaseStringChars(s, units);
    EXPECT_EQ(vm.pinnedBuffers(), 0u);

    const jchar text[] = {'a', 0, 0xDC00};
    EXPECT_EQ(vm.stringUtf8(env->NewString(text, 3)), "a\xC0\x80\xED\xB0\x80");

    EXPECT_EQ(vm.malformedStrings(), 0u);
    EXPECT_NE(env->NewStringUTF("\xF0\x9F\x98\x80"), nullptr);  // standard, not modified, UTF-8
    EXPECT_EQ(vm.malformedStrings(), 1u);
}

TEST_F(JniDouble, ObjectArraysCheckBoundsAndElementTypes) {
    jclass string = env->FindClass("java/lang/String");
    jobjectArray array = env->NewObjectArray(2, string, nullptr);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(env->GetArrayLength(array), 2);
    EXPECT_EQ(vm.elementClassName(array), "java/lang/String");
    EXPECT_TRUE(vm.isNullElement(array, 0));

    env->SetObjectArrayElement(array, 1, env->NewStringUTF("two"));
    EXPECT_EQ(vm.stringElement(array, 1), std::optional<std::string>("two"));
    EXPECT_EQ(vm.stringElement(array, 0), std::nullopt);
    EXPECT_EQ(vm.stringUtf8(env->GetObjectArrayElement(array, 1)), "two");

    env->SetObjectArrayElement(array, 2, env->NewStringUTF("three"));
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/ArrayIndexOutOfBoundsException");
    env->ExceptionClear();
    env->SetObjectArrayElement(array, 0, string);  // a Class is no String
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/ArrayStoreException");
    env->ExceptionClear();
    EXPECT_TRUE(vm.isNullElement(array, 0));

    jobjectArray empty = env->NewObjectArray(0, string, nullptr);
    EXPECT_EQ(vm.arrayLength(empty), 0);
    EXPECT_EQ(env->NewObjectArray(-1, string, nullptr), nullptr);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/NegativeArraySizeException");
}

TEST_F(JniDouble, ByteArrayReleaseModes) {
    struct Case {
        jint mode;
        const char* afterRelease;
        size_t pinsLeft;
    };
    const Case cases[] = {{0, "XYc", 0}, {JNI_COMMIT, "XYc", 1}, {JNI_ABORT, "abc", 0}};
    for (const Case& c : cases) {
        jbyteArray array = vm.newByteArray("abc");
        jbyte* elems = env->GetByteArrayElements(array, nullptr);
        elems[0] = 'X';
        elems[1] = 'Y';
        EXPECT_EQ(vm.byteArrayContent(array), "abc") << "mode " << c.mode;  // a copy until released
        env->ReleaseByteArrayElements(array, elems, c.mode);
        EXPECT_EQ(vm.byteArrayContent(array), c.afterRelease) << "mode " << c.mode;
        EXPECT_EQ(vm.pinnedBuffers(), c.pinsLeft) << "mode " << c.mode;
        if (c.pinsLeft)
            env->ReleaseByteArrayElements(array, elems, JNI_ABORT);
    }

    jbyteArray array = env->NewByteArray(4);
    const jbyte in[] = {1, 2};
    env->SetByteArrayRegion(array, 2, 2, in);
    EXPECT_EQ(vm.byteArrayContent(array), std::string("\0\0\1\2", 4));
    jbyte out[4];
    env->GetByteArrayRegion(array, 3, 2, out);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/ArrayIndexOutOfBoundsException");
}

TEST_F(JniDouble, ExceptionsAreRaisedInspectedAndCleared) {
    jclass io = env->FindClass("java/io/IOException");
    EXPECT_EQ(env->ThrowNew(io, "Error opening file"), 0);
    EXPECT_TRUE(env->ExceptionCheck());
    jthrowable ex = env->ExceptionOccurred();
    EXPECT_EQ(vm.className(ex), "java/io/IOException");
    env->ExceptionClear();
    EXPECT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(env->ExceptionOccurred(), nullptr);

    EXPECT_EQ(env->Throw(ex), 0);  // the same object again
    EXPECT_TRUE(vm.sameObject(env->ExceptionOccurred(), ex));
    EXPECT_EQ(vm.pendingExceptionMessage(), "Error opening file");
    env->ExceptionClear();
}

TEST_F(JniDouble, ExceptionDescribeWritesClassMessageAndFramesToDescriptor2) {
    vm.defineClass("kvo/demo/Fails");
    vm.addStaticMethod("kvo/demo/Fails", "main", "([Ljava/lang/String;)V",
                       [](JNIEnv* e, jclass, const std::vector<jvalue>&) {
                           e->ThrowNew(e->FindClass("java/lang/IllegalStateException"), "caf\xC3\xA9");
                       });
    jclass cls = env->FindClass("kvo/demo/Fails");
    env->CallStaticVoidMethod(cls, env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V"), nullptr);
    ASSERT_TRUE(env->ExceptionCheck());
    {
        kvotest::CapturedOutput output;
        env->ExceptionDescribe();
        output.stop();
        EXPECT_EQ(output.err(),
                  "Exception in thread \"main\" java.lang.IllegalStateException: caf\xC3\xA9\n"
                  "\tat kvo.demo.Fails.main(Unknown Source)\n");
        EXPECT_EQ(output.out(), "");
    }
    EXPECT_FALSE(env->ExceptionCheck());

    vm.throwException("java/lang/RuntimeException", "boom", {"a.B.inner(B.java:3)", "a.B.main(B.java:1)"});
    kvotest::CapturedOutput output;
    env->ExceptionDescribe();
    env->ExceptionDescribe();  // nothing pending any more: writes nothing
    output.stop();
    EXPECT_EQ(output.err(),
              "Exception in thread \"main\" java.lang.RuntimeException: boom\n"
              "\tat a.B.inner(B.java:3)\n\tat a.B.main(B.java:1)\n");
}

TEST_F(JniDouble, LocalReferencesAreCountedUntilDeleted) {
    const size_t before = vm.liveLocalRefs();
    jstring a = env->NewStringUTF("a");
    jstring b = env->NewStringUTF("b");
    EXPECT_EQ(vm.liveLocalRefs(), before + 2);
    env->DeleteLocalRef(a);
    env->DeleteLocalRef(nullptr);
    EXPECT_EQ(vm.liveLocalRefs(), before + 1);
    jobject global = env->NewGlobalRef(b);
    env->DeleteLocalRef(b);
    EXPECT_EQ(vm.liveLocalRefs(), before);
    EXPECT_EQ(vm.stringUtf8(global), "b");
    env->DeleteGlobalRef(global);
}

TEST_F(JniDouble, InjectedFailures) {
    vm.failNewStringUtf("bad");
    EXPECT_EQ(env->NewStringUTF("bad"), nullptr);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/OutOfMemoryError");
    env->ExceptionClear();
    EXPECT_NE(env->NewStringUTF("good"), nullptr);

    vm.failNewStringUtf("quiet", false);
    EXPECT_EQ(env->NewStringUTF("quiet"), nullptr);
    EXPECT_FALSE(env->ExceptionCheck());

    jclass string = env->FindClass("java/lang/String");
    vm.failAllocation(2);
    EXPECT_NE(env->NewObjectArray(1, string, nullptr), nullptr);
    EXPECT_EQ(env->NewStringUTF("second"), nullptr);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/OutOfMemoryError");
    env->ExceptionClear();
    EXPECT_NE(env->NewStringUTF("third"), nullptr);
    EXPECT_GE(vm.allocations(), 3u);

    jstring s = env->NewStringUTF("pinned");
    vm.failAllocation(1);
    EXPECT_EQ(env->GetStringUTFChars(s, nullptr), nullptr);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/OutOfMemoryError");
    env->ExceptionClear();
    EXPECT_EQ(vm.pinnedBuffers(), 0u);
}

TEST_F(JniDouble, ThreadsAttachWithTheirOwnEnvAndPendingException) {
    JavaVM* javaVm = nullptr;
    ASSERT_EQ(env->GetJavaVM(&javaVm), 0);
    EXPECT_EQ(javaVm, vm.javaVm());

    env->ThrowNew(env->FindClass("java/lang/RuntimeException"), "main only");
    std::thread other([&] {
        void* penv = nullptr;
        EXPECT_EQ(javaVm->GetEnv(&penv, JNI_VERSION_1_2), JNI_EDETACHED);
        JNIEnv* otherEnv = nullptr;
        ASSERT_EQ(javaVm->AttachCurrentThread(reinterpret_cast<void**>(&otherEnv), nullptr), 0);
        EXPECT_NE(otherEnv, env);
        EXPECT_FALSE(otherEnv->ExceptionCheck());
        EXPECT_NE(otherEnv->FindClass("java/lang/String"), nullptr);
        EXPECT_EQ(javaVm->GetEnv(&penv, JNI_VERSION_1_2), JNI_OK);
        EXPECT_EQ(penv, otherEnv);
        EXPECT_EQ(javaVm->DetachCurrentThread(), 0);
        EXPECT_EQ(javaVm->GetEnv(&penv, JNI_VERSION_1_2), JNI_EDETACHED);
    });
    other.join();
    EXPECT_TRUE(env->ExceptionCheck());
    env->ExceptionClear();
}

TEST_F(JniDouble, AttachedThreadsAreNamedInDescriptionsAndCannotLeaveInsideJava) {
    vm.defineClass("kvo/test/Leaves");
    jint detachResult = 0;
    vm.addStaticMethod("kvo/test/Leaves", "main", "()V", [&](JNIEnv* e, jclass, const std::vector<jvalue>&) {
        JavaVM* javaVm = nullptr;
        e->GetJavaVM(&javaVm);
        detachResult = javaVm->DetachCurrentThread();
        e->ThrowNew(e->FindClass("java/lang/RuntimeException"), nullptr);
    });
    std::string described;
    std::thread other([&] {
        JNIEnv* e = nullptr;
        JavaVMAttachArgs args{JNI_VERSION_1_2, const_cast<char*>("poller"), nullptr};
        vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&e), &args);
        jclass cls = e->FindClass("kvo/test/Leaves");
        e->CallStaticVoidMethod(cls, e->GetStaticMethodID(cls, "main", "()V"));
        kvotest::CapturedOutput output;
        e->ExceptionDescribe();
        output.stop();
        described = output.err();
        vm.javaVm()->DetachCurrentThread();
    });
    other.join();
    EXPECT_EQ(detachResult, JNI_ERR);
    EXPECT_EQ(described,
              "Exception in thread \"poller\" java.lang.RuntimeException\n\tat kvo.test.Leaves.main(Unknown "
              "Source)\n");
}

TEST_F(JniDouble, DestroyWaitsForNonDaemonThreadsOnly) {
    std::atomic<bool> workerDone{false};
    vm.startThread("worker", false, [&](JNIEnv* e) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_NE(e->FindClass("java/lang/Object"), nullptr);
        workerDone = true;
    });
    auto releaseDaemon = std::make_shared<std::atomic<bool>>(false);
    vm.startThread("daemon", true, [releaseDaemon](JNIEnv*) {
        while (!*releaseDaemon)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });

    // A thread that attached and detached again (as a native that turns its thread into a message
    // loop does) does not hold the VM up.
    std::thread detached([&] {
        JNIEnv* e = nullptr;
        vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr);
        JavaVM* javaVm = nullptr;
        e->GetJavaVM(&javaVm);
        javaVm->DetachCurrentThread();
    });
    detached.join();

    EXPECT_EQ(vm.destroy(), 0);
    EXPECT_TRUE(workerDone);
    EXPECT_TRUE(vm.destroyed());
    *releaseDaemon = true;
}

}  // namespace
