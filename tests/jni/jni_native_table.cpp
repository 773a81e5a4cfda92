// The JNIEnv operations the double provides.
#include "jni_model.h"

#include "modified_utf8.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace kvojni {

namespace {

// Entry checks of every operation: an env of this VM on its own thread, the VM not destroyed, and
// (strict mode) no exception pending unless the operation is one of those allowed then.
struct Call {
    Call(JNIEnv* e, const char* fn, bool allowedWithPending = false)
        : name(fn), env(checkedEnv(e, fn)), vm(env->vm), lock(vm->mutex) {
        if (vm->destroyed)
            failLoudly(std::string(fn) + ": called after DestroyJavaVM");
        if (!allowedWithPending && env->pending && vm->strictExceptions)
            failLoudly(std::string(fn) + ": called with an exception pending (" + env->pending->cls->name +
                       ")");
    }
    Object* obj(jobject ref) { return vm->deref(env, ref, name); }
    Object* nonNull(jobject ref) {
        Object* o = obj(ref);
        if (!o)
            failLoudly(std::string(name) + ": null reference");
        return o;
    }
    ClassObj* cls(jclass ref) {
        Object* o = nonNull(ref);
        if (o->kind != Kind::Class)
            failLoudly(std::string(name) + ": not a class reference");
        return static_cast<ClassObj*>(o);
    }
    StringObj* str(jstring ref) {
        Object* o = nonNull(ref);
        if (o->kind != Kind::String)
            failLoudly(std::string(name) + ": not a string");
        return static_cast<StringObj*>(o);
    }
    ObjectArrayObj* objectArray(jobjectArray ref) {
        Object* o = nonNull(ref);
        if (o->kind != Kind::ObjectArray)
            failLoudly(std::string(name) + ": not an object array");
        return static_cast<ObjectArrayObj*>(o);
    }
    ByteArrayObj* byteArray(jbyteArray ref) {
        Object* o = nonNull(ref);
        if (o->kind != Kind::ByteArray)
            failLoudly(std::string(name) + ": not a byte array");
        return static_cast<ByteArrayObj*>(o);
    }
    jobject local(Object* o) { return vm->newLocal(env, o); }
    bool outOfBounds(jsize index, jsize length) {
        if (index >= 0 && index < length)
            return false;
        vm->raise(env, "java/lang/ArrayIndexOutOfBoundsException",
                  "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(length));
        return true;
    }
    bool regionOutOfBounds(jsize start, jsize len, size_t length) {
        if (start >= 0 && len >= 0 && static_cast<size_t>(start) + static_cast<size_t>(len) <= length)
            return false;
        vm->raise(env, "java/lang/ArrayIndexOutOfBoundsException",
                  "Array region " + std::to_string(start) + ".." +
                      std::to_string(static_cast<long long>(start) + len) + " out of bounds for length " +
                      std::to_string(length));
        return true;
    }
    // Takes back a buffer handed out by a Get operation.
    Pin unpin(void* buffer, Object* source, decltype(Pin::type) type, bool keep = false) {
        const auto it = vm->pins.find(buffer);
        if (it == vm->pins.end() || it->second.source != source || it->second.type != type)
            failLoudly(std::string(name) + ": buffer was not obtained for this object, or released twice");
        const Pin pin = it->second;
        if (!keep) {
            vm->pins.erase(it);
            std::free(buffer);
        }
        return pin;
    }

    const char* name;
    ThreadEnv* env;
    VmImpl* vm;
    std::unique_lock<std::recursive_mutex> lock;
};

jint JNICALL GetVersion(JNIEnv* env) {
    Call c(env, "GetVersion");
    return JNI_VERSION_1_8;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    Call c(env, "FindClass");
    if (!name)
        failLoudly("FindClass: null name");
    ClassObj* cls = c.vm->findClass(name);
    if (!cls || cls->hidden) {
        c.vm->raise(c.env, "java/lang/NoClassDefFoundError", name);
        return nullptr;
    }
    return static_cast<jclass>(c.local(cls));
}

jclass JNICALL GetSuperclass(JNIEnv* env, jclass cls) {
    Call c(env, "GetSuperclass");
    return static_cast<jclass>(c.local(c.cls(cls)->super));
}

jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
    Call c(env, "Throw");
    Object* o = c.nonNull(obj);
    if (o->kind != Kind::Instance || !o->cls->isSubclassOf(c.vm->throwableClass))
        failLoudly("Throw: not a throwable");
    c.env->pending = o;
    return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass cls, const char* message) {
    Call c(env, "ThrowNew");
    ClassObj* k = c.cls(cls);
    const std::string text = message ? message : "";
    c.env->pending = c.vm->makeThrowable(k, message ? &text : nullptr, c.vm->currentFrames(c.env));
    return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    Call c(env, "ExceptionOccurred", true);
    return static_cast<jthrowable>(c.local(c.env->pending));
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
    Call c(env, "ExceptionDescribe", true);
    if (!c.env->pending)
        return;
    InstanceObj* ex = static_cast<InstanceObj*>(c.env->pending);
    c.env->pending = nullptr;
    c.vm->describe(c.env, ex);
}

void JNICALL ExceptionClear(JNIEnv* env) {
    Call c(env, "ExceptionClear", true);
    c.env->pending = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    Call c(env, "ExceptionCheck", true);
    return c.env->pending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FatalError(JNIEnv* env, const char* message) {
    checkedEnv(env, "FatalError");
    failLoudly(std::string("FatalError: ") + (message ? message : "(null)"));
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
    Call c(env, "NewGlobalRef");
    return c.vm->newGlobal(c.obj(ref));
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
    Call c(env, "DeleteGlobalRef", true);
    if (!ref)
        return;
    Ref* r = c.vm->refOf(ref, "DeleteGlobalRef");
    if (r->kind != RefKind::Global)
        failLoudly("DeleteGlobalRef: a local reference");
    r->live = false;
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
    Call c(env, "DeleteLocalRef", true);
    if (!ref)
        return;
    Ref* r = c.vm->refOf(ref, "DeleteLocalRef");
    if (r->kind != RefKind::Local)
        failLoudly("DeleteLocalRef: a global reference");
    if (r->owner != c.env->thread)
        failLoudly("DeleteLocalRef: local reference of another thread");
    r->live = false;
    --c.vm->liveLocals;
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
    Call c(env, "IsSameObject");
    return c.obj(a) == c.obj(b) ? JNI_TRUE : JNI_FALSE;
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref) {
    Call c(env, "NewLocalRef");
    return c.local(c.obj(ref));
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint) {
    Call c(env, "EnsureLocalCapacity");
    return JNI_OK;
}

jobject JNICALL AllocObject(JNIEnv* env, jclass cls) {
    Call c(env, "AllocObject");
    ClassObj* k = c.cls(cls);
    if (c.vm->allocationFails(c.env))
        return nullptr;
    return c.local(c.vm->make<InstanceObj>(k));
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
    Call c(env, "GetObjectClass");
    return static_cast<jclass>(c.local(c.nonNull(obj)->cls));
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass cls) {
    Call c(env, "IsInstanceOf");
    ClassObj* k = c.cls(cls);
    Object* o = c.obj(obj);
    return !o || o->cls->isSubclassOf(k) ? JNI_TRUE : JNI_FALSE;
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    Call c(env, "GetStaticMethodID");
    if (!name || !sig)
        failLoudly("GetStaticMethodID: null name or signature");
    MethodInfo* m = c.vm->findMethod(c.cls(cls), name, sig);
    if (!m) {
        c.vm->raise(c.env, "java/lang/NoSuchMethodError", name);
        return nullptr;
    }
    return reinterpret_cast<jmethodID>(m);
}

// Reads the arguments of a call from a va_list or a jvalue array by the method's signature.
std::vector<jvalue> callArguments(const std::string& sig, va_list* list, const jvalue* array) {
    std::vector<jvalue> args;
    for (size_t i = 1; i < sig.size() && sig[i] != ')'; ++i) {
        jvalue v;
        std::memset(&v, 0, sizeof v);
        char type = sig[i];
        if (type == '[') {
            while (sig[i] == '[')
                ++i;
            if (i < sig.size() && sig[i] == 'L')
                i = sig.find(';', i);
            type = 'L';
        } else if (type == 'L') {
            i = sig.find(';', i);
        }
        if (i >= sig.size())
            failLoudly("call: bad method signature " + sig);
        const size_t n = args.size();
        if (array) {
            v = array[n];
        } else {
            switch (type) {
                case 'Z':
                    v.z = static_cast<jboolean>(va_arg(*list, int));
                    break;
                case 'B':
                    v.b = static_cast<jbyte>(va_arg(*list, int));
                    break;
                case 'C':
                    v.c = static_cast<jchar>(va_arg(*list, int));
                    break;
                case 'S':
                    v.s = static_cast<jshort>(va_arg(*list, int));
                    break;
                case 'I':
                    v.i = va_arg(*list, jint);
                    break;
                case 'J':
                    v.j = va_arg(*list, jlong);
                    break;
                case 'F':
                    v.f = static_cast<jfloat>(va_arg(*list, double));
                    break;
                case 'D':
                    v.d = va_arg(*list, double);
                    break;
                case 'L':
                    v.l = va_arg(*list, jobject);
                    break;
                default:
                    failLoudly("call: bad method signature " + sig);
            }
        }
        args.push_back(v);
    }
    return args;
}

void callStaticVoid(JNIEnv* env, jclass cls, jmethodID id, va_list* list, const jvalue* array,
                    const char* fn) {
    Call c(env, fn);
    ClassObj* k = c.cls(cls);
    MethodInfo* m = reinterpret_cast<MethodInfo*>(id);
    if (!c.vm->ids.count(m))
        failLoudly(std::string(fn) + ": not a method ID of this VM");
    if (!k->isSubclassOf(m->owner))
        failLoudly(std::string(fn) + ": method " + m->name + " does not belong to class " + k->name);
    if (m->signature.size() < 2 || m->signature.compare(m->signature.size() - 2, 2, ")V") != 0)
        failLoudly(std::string(fn) + ": method " + m->name + m->signature + " does not return void");
    const std::vector<jvalue> args = callArguments(m->signature, list, array);
    c.env->callStack.push_back(m->owner->dottedName() + "." + m->name);
    const StaticMethod body = m->body;
    ThreadEnv* t = c.env;
    c.lock.unlock();  // the body may run for a long time and calls back into the VM
    body(env, cls, args);
    c.lock.lock();
    t->callStack.pop_back();
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list list;
    va_start(list, id);
    callStaticVoid(env, cls, id, &list, nullptr, "CallStaticVoidMethod");
    va_end(list);
}

void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass cls, jmethodID id, va_list list) {
    va_list copy;
    va_copy(copy, list);
    callStaticVoid(env, cls, id, &copy, nullptr, "CallStaticVoidMethodV");
    va_end(copy);
}

void JNICALL CallStaticVoidMethodA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
    callStaticVoid(env, cls, id, nullptr, args, "CallStaticVoidMethodA");
}

jfieldID fieldId(JNIEnv* env, jclass cls, const char* name, const char* sig, bool isStatic, const char* fn) {
    Call c(env, fn);
    if (!name || !sig)
        failLoudly(std::string(fn) + ": null name or signature");
    FieldInfo* f = c.vm->findField(c.cls(cls), name, sig, isStatic);
    if (!f) {
        c.vm->raise(c.env, "java/lang/NoSuchFieldError", name);
        return nullptr;
    }
    return reinterpret_cast<jfieldID>(f);
}

jfieldID JNICALL GetFieldID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return fieldId(env, cls, name, sig, false, "GetFieldID");
}

jfieldID JNICALL GetStaticFieldID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return fieldId(env, cls, name, sig, true, "GetStaticFieldID");
}

FieldInfo* field(jfieldID id) {
    return reinterpret_cast<FieldInfo*>(id);
}

// Instance and static field accessors, one pair per type the double models.
#define KVO_FIELD_ACCESSORS(Type, jtype, member, code)                                       \
    jtype JNICALL Get##Type##Field(JNIEnv* env, jobject obj, jfieldID id) {                  \
        Call c(env, "Get" #Type "Field");                                                    \
        return c.vm->instanceSlot(c.obj(obj), field(id), code, c.name).member;               \
    }                                                                                        \
    void JNICALL Set##Type##Field(JNIEnv* env, jobject obj, jfieldID id, jtype value) {      \
        Call c(env, "Set" #Type "Field");                                                    \
        c.vm->instanceSlot(c.obj(obj), field(id), code, c.name).member = value;              \
    }                                                                                        \
    jtype JNICALL GetStatic##Type##Field(JNIEnv* env, jclass cls, jfieldID id) {             \
        Call c(env, "GetStatic" #Type "Field");                                              \
        c.cls(cls);                                                                          \
        return c.vm->staticSlot(field(id), code, c.name).member;                             \
    }                                                                                        \
    void JNICALL SetStatic##Type##Field(JNIEnv* env, jclass cls, jfieldID id, jtype value) { \
        Call c(env, "SetStatic" #Type "Field");                                              \
        c.cls(cls);                                                                          \
        c.vm->staticSlot(field(id), code, c.name).member = value;                            \
    }

KVO_FIELD_ACCESSORS(Boolean, jboolean, z, 'Z')
KVO_FIELD_ACCESSORS(Char, jchar, c, 'C')
KVO_FIELD_ACCESSORS(Int, jint, i, 'I')
KVO_FIELD_ACCESSORS(Long, jlong, j, 'J')
#undef KVO_FIELD_ACCESSORS

jobject JNICALL GetObjectField(JNIEnv* env, jobject obj, jfieldID id) {
    Call c(env, "GetObjectField");
    return c.local(c.vm->instanceSlot(c.obj(obj), field(id), 'L', c.name).l);
}

void JNICALL SetObjectField(JNIEnv* env, jobject obj, jfieldID id, jobject value) {
    Call c(env, "SetObjectField");
    Object* v = c.obj(value);
    c.vm->instanceSlot(c.obj(obj), field(id), 'L', c.name).l = v;
}

jobject JNICALL GetStaticObjectField(JNIEnv* env, jclass cls, jfieldID id) {
    Call c(env, "GetStaticObjectField");
    c.cls(cls);
    return c.local(c.vm->staticSlot(field(id), 'L', c.name).l);
}

void JNICALL SetStaticObjectField(JNIEnv* env, jclass cls, jfieldID id, jobject value) {
    Call c(env, "SetStaticObjectField");
    c.cls(cls);
    Object* v = c.obj(value);
    c.vm->staticSlot(field(id), 'L', c.name).l = v;
}

jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize len) {
    Call c(env, "NewString");
    if (len < 0 || (!units && len > 0))
        failLoudly("NewString: bad buffer or length");
    if (c.vm->allocationFails(c.env))
        return nullptr;
    std::u16string text(len, u'\0');
    for (jsize i = 0; i < len; ++i)
        text[i] = static_cast<char16_t>(units[i]);
    return static_cast<jstring>(c.local(c.vm->makeString(text)));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
    Call c(env, "GetStringLength");
    return static_cast<jsize>(c.str(str)->utf16.size());
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    Call c(env, "GetStringChars");
    StringObj* s = c.str(str);
    if (c.vm->allocationFails(c.env))
        return nullptr;
    jchar* buffer = static_cast<jchar*>(std::malloc((s->utf16.size() + 1) * sizeof(jchar)));
    for (size_t i = 0; i < s->utf16.size(); ++i)
        buffer[i] = s->utf16[i];
    buffer[s->utf16.size()] = 0;
    c.vm->pins[buffer] = Pin{s, Pin::Utf16};
    if (isCopy)
        *isCopy = JNI_TRUE;
    return buffer;
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars) {
    Call c(env, "ReleaseStringChars", true);
    c.unpin(const_cast<jchar*>(chars), c.str(str), Pin::Utf16);
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
    Call c(env, "NewStringUTF");
    if (!bytes)
        return nullptr;
    const auto failing = c.vm->failingUtf8Inputs.find(bytes);
    if (failing != c.vm->failingUtf8Inputs.end()) {
        if (failing->second)
            c.vm->raise(c.env, "java/lang/OutOfMemoryError", "Java heap space");
        return nullptr;
    }
    if (c.vm->allocationFails(c.env))
        return nullptr;
    std::u16string units;
    if (!fromModifiedUtf8(bytes, units))
        ++c.vm->malformedStrings;
    return static_cast<jstring>(c.local(c.vm->make<StringObj>(c.vm->stringClass, bytes, std::move(units))));
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str) {
    Call c(env, "GetStringUTFLength");
    return static_cast<jsize>(c.str(str)->mutf8.size());
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    Call c(env, "GetStringUTFChars");
    StringObj* s = c.str(str);
    if (c.vm->allocationFails(c.env))
        return nullptr;
    char* buffer = static_cast<char*>(std::malloc(s->mutf8.size() + 1));
    std::memcpy(buffer, s->mutf8.c_str(), s->mutf8.size() + 1);
    c.vm->pins[buffer] = Pin{s, Pin::Utf8};
    if (isCopy)
        *isCopy = JNI_TRUE;
    return buffer;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
    Call c(env, "ReleaseStringUTFChars", true);
    c.unpin(const_cast<char*>(chars), c.str(str), Pin::Utf8);
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
    Call c(env, "GetArrayLength");
    Object* o = c.nonNull(array);
    if (o->kind == Kind::ObjectArray)
        return static_cast<jsize>(static_cast<ObjectArrayObj*>(o)->elements.size());
    if (o->kind == Kind::ByteArray)
        return static_cast<jsize>(static_cast<ByteArrayObj*>(o)->bytes.size());
    failLoudly("GetArrayLength: not an array");
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize len, jclass elementClass, jobject init) {
    Call c(env, "NewObjectArray");
    ClassObj* element = c.cls(elementClass);
    Object* initial = c.obj(init);
    if (len < 0) {
        c.vm->raise(c.env, "java/lang/NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    if (c.vm->allocationFails(c.env))
        return nullptr;
    const std::string descriptor = element->name[0] == '[' ? "[" + element->name : "[L" + element->name + ";";
    ObjectArrayObj* array = c.vm->make<ObjectArrayObj>(c.vm->arrayClass(descriptor), element, len);
    for (Object*& e : array->elements)
        e = initial;
    return static_cast<jobjectArray>(c.local(array));
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    Call c(env, "GetObjectArrayElement");
    ObjectArrayObj* a = c.objectArray(array);
    if (c.outOfBounds(index, static_cast<jsize>(a->elements.size())))
        return nullptr;
    return c.local(a->elements[index]);
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    Call c(env, "SetObjectArrayElement");
    ObjectArrayObj* a = c.objectArray(array);
    Object* v = c.obj(value);
    if (c.outOfBounds(index, static_cast<jsize>(a->elements.size())))
        return;
    if (v && !v->cls->isSubclassOf(a->elementClass) && a->elementClass != c.vm->objectClass) {
        c.vm->raise(c.env, "java/lang/ArrayStoreException", v->cls->dottedName());
        return;
    }
    a->elements[index] = v;
}

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize len) {
    Call c(env, "NewByteArray");
    if (len < 0) {
        c.vm->raise(c.env, "java/lang/NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    if (c.vm->allocationFails(c.env))
        return nullptr;
    return static_cast<jbyteArray>(c.local(c.vm->make<ByteArrayObj>(c.vm->arrayClass("[B"), len)));
}

jbyte* JNICALL GetByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy) {
    Call c(env, "GetByteArrayElements");
    ByteArrayObj* a = c.byteArray(array);
    if (c.vm->allocationFails(c.env))
        return nullptr;
    jbyte* buffer = static_cast<jbyte*>(std::malloc(a->bytes.size() + 1));
    if (!a->bytes.empty())
        std::memcpy(buffer, a->bytes.data(), a->bytes.size());
    c.vm->pins[buffer] = Pin{a, Pin::Bytes};
    if (isCopy)
        *isCopy = JNI_TRUE;
    return buffer;
}

void JNICALL ReleaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elems, jint mode) {
    Call c(env, "ReleaseByteArrayElements", true);
    ByteArrayObj* a = c.byteArray(array);
    if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT)
        failLoudly("ReleaseByteArrayElements: unknown mode " + std::to_string(mode));
    if (mode != JNI_ABORT && !a->bytes.empty() && c.vm->pins.count(elems))
        std::memcpy(a->bytes.data(), elems, a->bytes.size());
    c.unpin(elems, a, Pin::Bytes, mode == JNI_COMMIT);
}

void JNICALL GetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, jbyte* buf) {
    Call c(env, "GetByteArrayRegion");
    ByteArrayObj* a = c.byteArray(array);
    if (c.regionOutOfBounds(start, len, a->bytes.size()))
        return;
    if (len > 0)
        std::memcpy(buf, a->bytes.data() + start, static_cast<size_t>(len));
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, const jbyte* buf) {
    Call c(env, "SetByteArrayRegion");
    ByteArrayObj* a = c.byteArray(array);
    if (c.regionOutOfBounds(start, len, a->bytes.size()))
        return;
    if (len > 0)
        std::memcpy(a->bytes.data() + start, buf, static_cast<size_t>(len));
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) {
    Call c(env, "GetJavaVM");
    *vm = &c.vm->shell;
    return JNI_OK;
}

JNINativeInterface_ makeTable() {
    JNINativeInterface_ t;
    fillUnusedNativeSlots(t);
    t.GetVersion = GetVersion;
    t.FindClass = FindClass;
    t.GetSuperclass = GetSuperclass;
    t.Throw = Throw;
    t.ThrowNew = ThrowNew;
    t.ExceptionOccurred = ExceptionOccurred;
    t.ExceptionDescribe = ExceptionDescribe;
    t.ExceptionClear = ExceptionClear;
    t.ExceptionCheck = ExceptionCheck;
    t.FatalError = FatalError;
    t.NewGlobalRef = NewGlobalRef;
    t.DeleteGlobalRef = DeleteGlobalRef;
    t.DeleteLocalRef = DeleteLocalRef;
    t.IsSameObject = IsSameObject;
    t.NewLocalRef = NewLocalRef;
    t.EnsureLocalCapacity = EnsureLocalCapacity;
    t.AllocObject = AllocObject;
    t.GetObjectClass = GetObjectClass;
    t.IsInstanceOf = IsInstanceOf;
    t.GetStaticMethodID = GetStaticMethodID;
    t.CallStaticVoidMethod = CallStaticVoidMethod;
    t.CallStaticVoidMethodV = CallStaticVoidMethodV;
    t.CallStaticVoidMethodA = CallStaticVoidMethodA;
    t.GetFieldID = GetFieldID;
    t.GetStaticFieldID = GetStaticFieldID;
    t.GetBooleanField = GetBooleanField;
    t.SetBooleanField = SetBooleanField;
    t.GetCharField = GetCharField;
    t.SetCharField = SetCharField;
    t.GetIntField = GetIntField;
    t.SetIntField = SetIntField;
    t.GetLongField = GetLongField;
    t.SetLongField = SetLongField;
    t.GetObjectField = GetObjectField;
    t.SetObjectField = SetObjectField;
    t.GetStaticBooleanField = GetStaticBooleanField;
    t.SetStaticBooleanField = SetStaticBooleanField;
    t.GetStaticCharField = GetStaticCharField;
    t.SetStaticCharField = SetStaticCharField;
    t.GetStaticIntField = GetStaticIntField;
    t.SetStaticIntField = SetStaticIntField;
    t.GetStaticLongField = GetStaticLongField;
    t.SetStaticLongField = SetStaticLongField;
    t.GetStaticObjectField = GetStaticObjectField;
    t.SetStaticObjectField = SetStaticObjectField;
    t.NewString = NewString;
    t.GetStringLength = GetStringLength;
    t.GetStringChars = GetStringChars;
    t.ReleaseStringChars = ReleaseStringChars;
    t.NewStringUTF = NewStringUTF;
    t.GetStringUTFLength = GetStringUTFLength;
    t.GetStringUTFChars = GetStringUTFChars;
    t.ReleaseStringUTFChars = ReleaseStringUTFChars;
    t.GetArrayLength = GetArrayLength;
    t.NewObjectArray = NewObjectArray;
    t.GetObjectArrayElement = GetObjectArrayElement;
    t.SetObjectArrayElement = SetObjectArrayElement;
    t.NewByteArray = NewByteArray;
    t.GetByteArrayElements = GetByteArrayElements;
    t.ReleaseByteArrayElements = ReleaseByteArrayElements;
    t.GetByteArrayRegion = GetByteArrayRegion;
    t.SetByteArrayRegion = SetByteArrayRegion;
    t.GetJavaVM = GetJavaVM;
    return t;
}

}  // namespace

const JNINativeInterface_* nativeTable() {
    static const JNINativeInterface_ table = makeTable();
    return &table;
}

}  // namespace kvojni
