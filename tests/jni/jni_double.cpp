// The test-facing side of the double: defining classes, making and inspecting objects, failure
// injection and threads.
#include "jni_double.h"

#include "jni_model.h"
#include "modified_utf8.h"

namespace kvojni {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

ThreadEnv* envOrFail(VmImpl& vm, const char* what) {
    ThreadEnv* env = vm.currentEnv();
    if (!env)
        failLoudly(std::string(what) + ": the calling thread is not attached to the VM");
    return env;
}

template <class T>
T* objectOf(VmImpl& vm, jobject ref, Kind kind, const char* what) {
    Object* o = vm.deref(nullptr, ref, what);
    if (!o || o->kind != kind)
        failLoudly(std::string(what) + ": null or an object of the wrong kind");
    return static_cast<T*>(o);
}

}  // namespace

Vm::Vm() : impl_(std::make_unique<VmImpl>()) {
    impl_->owner = this;
    Lock lock(impl_->mutex);
    impl_->attach("main", false);
}

Vm::~Vm() = default;

JavaVM* Vm::javaVm() {
    return &impl_->shell;
}

JNIEnv* Vm::env() {
    Lock lock(impl_->mutex);
    if (impl_->destroyed)
        failLoudly("env: the VM was destroyed");
    return envOrFail(*impl_, "env");
}

jint Vm::destroy() {
    return impl_->shell.functions->DestroyJavaVM(&impl_->shell);
}

bool Vm::destroyed() const {
    return impl_->destroyed;
}

void Vm::defineClass(const std::string& name, const std::string& superclass) {
    Lock lock(impl_->mutex);
    impl_->defineClass(name, impl_->requireClass(superclass, "defineClass"));
}

void Vm::addStaticMethod(const std::string& cls, const std::string& name, const std::string& signature,
                         StaticMethod body) {
    Lock lock(impl_->mutex);
    ClassObj* k = impl_->requireClass(cls, "addStaticMethod");
    auto m = std::make_unique<MethodInfo>();
    m->name = name;
    m->signature = signature;
    m->owner = k;
    m->body = std::move(body);
    impl_->ids.insert(m.get());
    k->methods.push_back(std::move(m));
}

namespace {

void addFieldTo(VmImpl& vm, const std::string& cls, const std::string& name, const std::string& signature,
                bool isStatic) {
    Lock lock(vm.mutex);
    ClassObj* k = vm.requireClass(cls, "addField");
    auto f = std::make_unique<FieldInfo>();
    f->name = name;
    f->signature = signature;
    f->isStatic = isStatic;
    f->owner = k;
    vm.ids.insert(f.get());
    k->fields.push_back(std::move(f));
}

}  // namespace

void Vm::addField(const std::string& cls, const std::string& name, const std::string& signature) {
    addFieldTo(*impl_, cls, name, signature, false);
}

void Vm::addStaticField(const std::string& cls, const std::string& name, const std::string& signature) {
    addFieldTo(*impl_, cls, name, signature, true);
}

void Vm::hideClass(const std::string& name) {
    Lock lock(impl_->mutex);
    impl_->requireClass(name, "hideClass")->hidden = true;
}

jobject Vm::newInstance(const std::string& cls) {
    Lock lock(impl_->mutex);
    ClassObj* k = impl_->requireClass(cls, "newInstance");
    return impl_->newLocal(envOrFail(*impl_, "newInstance"), impl_->make<InstanceObj>(k));
}

jstring Vm::newString(const std::string& modifiedUtf8) {
    Lock lock(impl_->mutex);
    return static_cast<jstring>(
        impl_->newLocal(envOrFail(*impl_, "newString"), impl_->makeString(modifiedUtf8)));
}

jstring Vm::newStringUtf16(const std::u16string& units) {
    Lock lock(impl_->mutex);
    return static_cast<jstring>(
        impl_->newLocal(envOrFail(*impl_, "newStringUtf16"), impl_->makeString(units)));
}

jbyteArray Vm::newByteArray(const std::string& bytes) {
    Lock lock(impl_->mutex);
    auto* array = impl_->make<ByteArrayObj>(impl_->arrayClass("[B"), static_cast<jsize>(bytes.size()));
    for (size_t i = 0; i < bytes.size(); ++i)
        array->bytes[i] = static_cast<jbyte>(bytes[i]);
    return static_cast<jbyteArray>(impl_->newLocal(envOrFail(*impl_, "newByteArray"), array));
}

jobjectArray Vm::newStringArray(const std::vector<std::string>& modifiedUtf8) {
    Lock lock(impl_->mutex);
    auto* array = impl_->make<ObjectArrayObj>(impl_->arrayClass("[Ljava/lang/String;"), impl_->stringClass,
                                              static_cast<jsize>(modifiedUtf8.size()));
    for (size_t i = 0; i < modifiedUtf8.size(); ++i)
        array->elements[i] = impl_->makeString(modifiedUtf8[i]);
    return static_cast<jobjectArray>(impl_->newLocal(envOrFail(*impl_, "newStringArray"), array));
}

std::string Vm::className(jobject obj) {
    Lock lock(impl_->mutex);
    Object* o = impl_->deref(nullptr, obj, "className");
    if (!o)
        failLoudly("className: null reference");
    return o->kind == Kind::Class ? static_cast<ClassObj*>(o)->name : o->cls->name;
}

std::string Vm::stringUtf8(jobject str) {
    Lock lock(impl_->mutex);
    return objectOf<StringObj>(*impl_, str, Kind::String, "stringUtf8")->mutf8;
}

std::u16string Vm::stringUtf16(jobject str) {
    Lock lock(impl_->mutex);
    return objectOf<StringObj>(*impl_, str, Kind::String, "stringUtf16")->utf16;
}

jsize Vm::arrayLength(jobject array) {
    Lock lock(impl_->mutex);
    Object* o = impl_->deref(nullptr, array, "arrayLength");
    if (o && o->kind == Kind::ObjectArray)
        return static_cast<jsize>(static_cast<ObjectArrayObj*>(o)->elements.size());
    if (o && o->kind == Kind::ByteArray)
        return static_cast<jsize>(static_cast<ByteArrayObj*>(o)->bytes.size());
    failLoudly("arrayLength: not an array");
}

namespace {

Object* elementOf(VmImpl& vm, jobjectArray array, jsize index, const char* what) {
    auto* a = objectOf<ObjectArrayObj>(vm, array, Kind::ObjectArray, what);
    if (index < 0 || static_cast<size_t>(index) >= a->elements.size())
        failLoudly(std::string(what) + ": index " + std::to_string(index) + " out of bounds");
    return a->elements[index];
}

}  // namespace

bool Vm::isNullElement(jobjectArray array, jsize index) {
    Lock lock(impl_->mutex);
    return elementOf(*impl_, array, index, "isNullElement") == nullptr;
}

std::optional<std::string> Vm::stringElement(jobjectArray array, jsize index) {
    Lock lock(impl_->mutex);
    Object* e = elementOf(*impl_, array, index, "stringElement");
    if (!e)
        return std::nullopt;
    if (e->kind != Kind::String)
        failLoudly("stringElement: element " + std::to_string(index) + " is not a string");
    return static_cast<StringObj*>(e)->mutf8;
}

std::string Vm::elementClassName(jobjectArray array) {
    Lock lock(impl_->mutex);
    return objectOf<ObjectArrayObj>(*impl_, array, Kind::ObjectArray, "elementClassName")->elementClass->name;
}

std::string Vm::byteArrayContent(jbyteArray array) {
    Lock lock(impl_->mutex);
    const auto* a = objectOf<ByteArrayObj>(*impl_, array, Kind::ByteArray, "byteArrayContent");
    return std::string(a->bytes.begin(), a->bytes.end());
}

bool Vm::sameObject(jobject a, jobject b) {
    Lock lock(impl_->mutex);
    return impl_->deref(nullptr, a, "sameObject") == impl_->deref(nullptr, b, "sameObject");
}

namespace {

Slot& instanceField(VmImpl& vm, jobject obj, const std::string& name, char type, const char* what) {
    Object* o = vm.deref(nullptr, obj, what);
    if (!o)
        failLoudly(std::string(what) + ": null object");
    return vm.instanceSlot(o, vm.fieldByName(o->cls, name, false, what), type, what);
}

Slot& staticField(VmImpl& vm, const std::string& cls, const std::string& name, char type, const char* what) {
    return vm.staticSlot(vm.fieldByName(vm.requireClass(cls, what), name, true, what), type, what);
}

}  // namespace

jint Vm::intField(jobject obj, const std::string& name) {
    Lock lock(impl_->mutex);
    return instanceField(*impl_, obj, name, 'I', "intField").i;
}

jlong Vm::longField(jobject obj, const std::string& name) {
    Lock lock(impl_->mutex);
    return instanceField(*impl_, obj, name, 'J', "longField").j;
}

jchar Vm::charField(jobject obj, const std::string& name) {
    Lock lock(impl_->mutex);
    return instanceField(*impl_, obj, name, 'C', "charField").c;
}

jobject Vm::objectField(jobject obj, const std::string& name) {
    Lock lock(impl_->mutex);
    Object* value = instanceField(*impl_, obj, name, 'L', "objectField").l;
    return impl_->newLocal(envOrFail(*impl_, "objectField"), value);
}

void Vm::setIntField(jobject obj, const std::string& name, jint value) {
    Lock lock(impl_->mutex);
    instanceField(*impl_, obj, name, 'I', "setIntField").i = value;
}

void Vm::setLongField(jobject obj, const std::string& name, jlong value) {
    Lock lock(impl_->mutex);
    instanceField(*impl_, obj, name, 'J', "setLongField").j = value;
}

void Vm::setCharField(jobject obj, const std::string& name, jchar value) {
    Lock lock(impl_->mutex);
    instanceField(*impl_, obj, name, 'C', "setCharField").c = value;
}

void Vm::setObjectField(jobject obj, const std::string& name, jobject value) {
    Lock lock(impl_->mutex);
    Object* v = impl_->deref(nullptr, value, "setObjectField");
    instanceField(*impl_, obj, name, 'L', "setObjectField").l = v;
}

jint Vm::staticIntField(const std::string& cls, const std::string& name) {
    Lock lock(impl_->mutex);
    return staticField(*impl_, cls, name, 'I', "staticIntField").i;
}

jlong Vm::staticLongField(const std::string& cls, const std::string& name) {
    Lock lock(impl_->mutex);
    return staticField(*impl_, cls, name, 'J', "staticLongField").j;
}

jchar Vm::staticCharField(const std::string& cls, const std::string& name) {
    Lock lock(impl_->mutex);
    return staticField(*impl_, cls, name, 'C', "staticCharField").c;
}

void Vm::setStaticIntField(const std::string& cls, const std::string& name, jint value) {
    Lock lock(impl_->mutex);
    staticField(*impl_, cls, name, 'I', "setStaticIntField").i = value;
}

void Vm::setStaticLongField(const std::string& cls, const std::string& name, jlong value) {
    Lock lock(impl_->mutex);
    staticField(*impl_, cls, name, 'J', "setStaticLongField").j = value;
}

void Vm::setStaticCharField(const std::string& cls, const std::string& name, jchar value) {
    Lock lock(impl_->mutex);
    staticField(*impl_, cls, name, 'C', "setStaticCharField").c = value;
}

void Vm::setStaticObjectField(const std::string& cls, const std::string& name, jobject value) {
    Lock lock(impl_->mutex);
    Object* v = impl_->deref(nullptr, value, "setStaticObjectField");
    staticField(*impl_, cls, name, 'L', "setStaticObjectField").l = v;
}

bool Vm::exceptionPending() {
    Lock lock(impl_->mutex);
    return envOrFail(*impl_, "exceptionPending")->pending != nullptr;
}

std::string Vm::pendingExceptionClass() {
    Lock lock(impl_->mutex);
    Object* ex = envOrFail(*impl_, "pendingExceptionClass")->pending;
    return ex ? ex->cls->name : std::string();
}

std::string Vm::pendingExceptionMessage() {
    Lock lock(impl_->mutex);
    auto* ex = static_cast<InstanceObj*>(envOrFail(*impl_, "pendingExceptionMessage")->pending);
    return ex ? ex->message : std::string();
}

void Vm::throwException(const std::string& cls, const std::string& message,
                        const std::vector<std::string>& frames) {
    Lock lock(impl_->mutex);
    ThreadEnv* env = envOrFail(*impl_, "throwException");
    env->pending = impl_->makeThrowable(impl_->requireClass(cls, "throwException"), &message,
                                        frames.empty() ? impl_->currentFrames(env) : frames);
}

void Vm::clearException() {
    Lock lock(impl_->mutex);
    envOrFail(*impl_, "clearException")->pending = nullptr;
}

std::size_t Vm::liveLocalRefs() {
    Lock lock(impl_->mutex);
    return impl_->liveLocals;
}

std::size_t Vm::pinnedBuffers() {
    Lock lock(impl_->mutex);
    return impl_->pins.size();
}

std::size_t Vm::allocations() {
    Lock lock(impl_->mutex);
    return impl_->allocationCount;
}

std::size_t Vm::malformedStrings() {
    Lock lock(impl_->mutex);
    return impl_->malformedStrings;
}

void Vm::failNewStringUtf(const std::string& input, bool withException) {
    Lock lock(impl_->mutex);
    impl_->failingUtf8Inputs[input] = withException;
}

void Vm::failAllocation(std::size_t nth) {
    Lock lock(impl_->mutex);
    impl_->failAtAllocation = nth == 0 ? 0 : impl_->allocationCount + nth;
}

void Vm::setStrictExceptionChecks(bool strict) {
    Lock lock(impl_->mutex);
    impl_->strictExceptions = strict;
}

void Vm::describeThroughStandardHandle(bool on) {
    Lock lock(impl_->mutex);
    impl_->describeToStandardHandle = on;
}

void Vm::startThread(const std::string& name, bool daemon, ThreadBody body) {
    VmImpl* vm = impl_.get();
    Lock lock(vm->mutex);
    if (vm->destroyed)
        failLoudly("startThread: the VM was destroyed");
    if (!daemon)
        ++vm->startingNonDaemon;
    std::thread thread([vm, name, daemon, body = std::move(body)] {
        ThreadEnv* env;
        {
            Lock inner(vm->mutex);
            env = vm->attach(name, daemon);
            if (!daemon)
                --vm->startingNonDaemon;
        }
        body(env);
        Lock inner(vm->mutex);
        if (env->attached)
            vm->detach(env);
    });
    vm->threads.emplace_back(std::move(thread), daemon);
}

void Vm::onDestroyed(std::function<void(jint result)> observer) {
    Lock lock(impl_->mutex);
    impl_->destroyObserver = std::move(observer);
}

Vm& Vm::of(JNIEnv* env) {
    ThreadEnv* t = static_cast<ThreadEnv*>(env);
    if (!t || t->magic != kEnvMagic)
        failLoudly("Vm::of: not a JNIEnv made by this double");
    return *t->vm->owner;
}

Vm& Vm::of(JavaVM* vm) {
    return *checkedVm(vm, "Vm::of")->owner;
}

}  // namespace kvojni
