// A JVM stand-in for tests: the JNI function tables (JNIEnv and JavaVM) over a small object model of
// classes with fields and C++ static methods, strings held as modified UTF-8, object and byte arrays,
// local and global references and pending exceptions.
//
// Operations the double does not provide, and misuse that a real JVM would punish with undefined
// behaviour (a deleted reference, an env used on another thread, a call with an exception pending, a
// field read with the wrong type, a buffer released twice), stop the process at once: the double
// writes "JNI double: <what happened>" to descriptor 2 and terminates with kMisuseExitCode. A test
// therefore never silently passes through an operation the double does not model.
#pragma once

#include <jni.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvojni {

constexpr int kMisuseExitCode = 86;

// Writes "JNI double: <message>" to descriptor 2 and terminates the process with kMisuseExitCode.
[[noreturn]] void failLoudly(const std::string& message);

// The body of a static method: called by CallStaticVoidMethod(A/V) with the arguments converted by
// the method signature (ints, longs, chars, booleans, floats, doubles and object references).
using StaticMethod = std::function<void(JNIEnv* env, jclass cls, const std::vector<jvalue>& args)>;

// The body of a thread started by the VM; the thread is attached for the length of the body.
using ThreadBody = std::function<void(JNIEnv* env)>;

class VmImpl;

class Vm {
public:
    // Creates a VM and attaches the calling thread to it under the name "main". The standard classes
    // java/lang/Object, String, Class, the Throwable family (Exception, RuntimeException, Error,
    // NoClassDefFoundError, NoSuchMethodError, NoSuchFieldError, OutOfMemoryError,
    // ArrayIndexOutOfBoundsException, ArrayStoreException, NullPointerException,
    // IllegalArgumentException, IllegalStateException) and java/io/IOException exist from the start.
    Vm();
    // Joins the threads started with startThread, daemons included: let them end first.
    ~Vm();
    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;

    JavaVM* javaVm();
    // The calling thread's JNIEnv; stops the process when the thread is not attached.
    JNIEnv* env();
    // DestroyJavaVM through the invocation interface: waits for the non-daemon threads, returns 0.
    jint destroy();
    bool destroyed() const;

    // Classes, named in slash form ("kvo/demo/PrintArgs"); the superclass must exist.
    void defineClass(const std::string& name, const std::string& superclass = "java/lang/Object");
    void addStaticMethod(const std::string& cls, const std::string& name, const std::string& signature,
                         StaticMethod body);
    void addField(const std::string& cls, const std::string& name, const std::string& signature);
    void addStaticField(const std::string& cls, const std::string& name, const std::string& signature);
    // Makes FindClass fail for the class from now on (as if it were missing from the class path).
    void hideClass(const std::string& name);

    // Objects, each returned as a new local reference of the calling thread.
    jobject newInstance(const std::string& cls);
    jstring newString(const std::string& modifiedUtf8);
    jstring newStringUtf16(const std::u16string& units);
    jbyteArray newByteArray(const std::string& bytes);
    jobjectArray newStringArray(const std::vector<std::string>& modifiedUtf8);

    // Inspection (no JNI call is made, so no reference is created and no exception check applies).
    std::string className(jobject obj);   // slash form
    std::string stringUtf8(jobject str);  // the modified UTF-8 bytes
    std::u16string stringUtf16(jobject str);
    jsize arrayLength(jobject array);
    bool isNullElement(jobjectArray array, jsize index);
    std::optional<std::string> stringElement(jobjectArray array, jsize index);  // nullopt for null
    std::string elementClassName(jobjectArray array);
    std::string byteArrayContent(jbyteArray array);
    bool sameObject(jobject a, jobject b);

    jint intField(jobject obj, const std::string& name);
    jlong longField(jobject obj, const std::string& name);
    jchar charField(jobject obj, const std::string& name);
    jobject objectField(jobject obj, const std::string& name);  // new local reference or null
    void setIntField(jobject obj, const std::string& name, jint value);
    void setLongField(jobject obj, const std::string& name, jlong value);
    void setCharField(jobject obj, const std::string& name, jchar value);
    void setObjectField(jobject obj, const std::string& name, jobject value);
    jint staticIntField(const std::string& cls, const std::string& name);
    jlong staticLongField(const std::string& cls, const std::string& name);
    jchar staticCharField(const std::string& cls, const std::string& name);
    void setStaticIntField(const std::string& cls, const std::string& name, jint value);
    void setStaticLongField(const std::string& cls, const std::string& name, jlong value);
    void setStaticCharField(const std::string& cls, const std::string& name, jchar value);
    void setStaticObjectField(const std::string& cls, const std::string& name, jobject value);

    // The calling thread's pending exception.
    bool exceptionPending();
    std::string pendingExceptionClass();    // slash form; empty when none is pending
    std::string pendingExceptionMessage();  // empty when none or without message
    // Raises an exception of class cls with the message and stack frames ("pkg.Class.method(File.java:12)",
    // innermost first) on the calling thread, as a Java method would.
    void throwException(const std::string& cls, const std::string& message,
                        const std::vector<std::string>& frames);
    void clearException();

    // Counters over all threads.
    std::size_t liveLocalRefs();
    std::size_t pinnedBuffers();     // Get*Chars / Get*ArrayElements not yet released
    std::size_t allocations();       // allocating operations so far (see failAllocation)
    std::size_t malformedStrings();  // NewStringUTF inputs that were not well-formed modified UTF-8

    // Failure injection. An allocating operation (NewStringUTF, NewString, NewObjectArray,
    // NewByteArray, AllocObject, GetStringUTFChars, GetStringChars, GetByteArrayElements) that fails
    // returns null with java/lang/OutOfMemoryError pending.
    void failNewStringUtf(const std::string& input, bool withException = true);
    void failAllocation(std::size_t nth);  // the nth allocating operation from now fails (1 = next)
    // With strict checks (the default) a JNI call other than the exception, release and delete
    // operations while an exception is pending stops the process.
    void setStrictExceptionChecks(bool strict);
    // ExceptionDescribe writes through the Win32 standard error handle, as a JVM whose standard error
    // is bound to that handle does, instead of descriptor 2.
    void describeThroughStandardHandle(bool on);

    // Starts a thread attached to the VM for the length of body; DestroyJavaVM waits for it unless
    // it is a daemon.
    void startThread(const std::string& name, bool daemon, ThreadBody body);

    // Called by DestroyJavaVM once the VM has ended, with the result it returns.
    void onDestroyed(std::function<void(jint result)> observer);

    // The Vm behind an env or a JavaVM made by this double (stops the process for foreign pointers).
    static Vm& of(JNIEnv* env);
    static Vm& of(JavaVM* vm);

private:
    std::unique_ptr<VmImpl> impl_;
};

}  // namespace kvojni
