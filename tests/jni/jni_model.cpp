#include "jni_model.h"

#include "modified_utf8.h"

#include <windows.h>

#include <io.h>

#include <cstdlib>

namespace kvojni {

void failLoudly(const std::string& message) {
    const std::string line = "JNI double: " + message + "\n";
    _write(2, line.data(), static_cast<unsigned>(line.size()));
    // No abort(): the run-time library may show a dialog box in a program without a console.
    TerminateProcess(GetCurrentProcess(), kMisuseExitCode);
    _exit(kMisuseExitCode);
}

std::string ClassObj::dottedName() const {
    std::string dotted = name;
    for (char& c : dotted)
        if (c == '/')
            c = '.';
    return dotted;
}

bool ClassObj::isSubclassOf(const ClassObj* other) const {
    for (const ClassObj* c = this; c; c = c->super)
        if (c == other)
            return true;
    return false;
}

VmImpl::VmImpl() {
    shell.functions = invokeTable();
    shell.vm = this;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    objectClass = defineClass("java/lang/Object", nullptr);
    classClass = defineClass("java/lang/Class", objectClass);
    objectClass->cls = classClass;
    classClass->cls = classClass;
    stringClass = defineClass("java/lang/String", objectClass);
    throwableClass = defineClass("java/lang/Throwable", objectClass);
    struct Standard {
        const char* name;
        const char* super;
    };
    static const Standard standard[] = {
        {"java/lang/Exception", "java/lang/Throwable"},
        {"java/lang/RuntimeException", "java/lang/Exception"},
        {"java/lang/Error", "java/lang/Throwable"},
        {"java/lang/LinkageError", "java/lang/Error"},
        {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
        {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
        {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/NoSuchFieldError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/VirtualMachineError", "java/lang/Error"},
        {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
        {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException"},
        {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
        {"java/lang/ArrayStoreException", "java/lang/RuntimeException"},
        {"java/lang/NegativeArraySizeException", "java/lang/RuntimeException"},
        {"java/lang/NullPointerException", "java/lang/RuntimeException"},
        {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
        {"java/lang/IllegalStateException", "java/lang/RuntimeException"},
        {"java/io/IOException", "java/lang/Exception"},
    };
    for (const Standard& s : standard)
        defineClass(s.name, requireClass(s.super, "VM start"));
}

VmImpl::~VmImpl() {
    // Daemon threads too: they use this object until they end.
    for (auto& entry : threads)
        if (entry.first.joinable())
            entry.first.join();
    for (auto& [buffer, pin] : pins)
        std::free(buffer);
}

ClassObj* VmImpl::defineClass(const std::string& name, ClassObj* super) {
    if (classes.count(name))
        failLoudly("class " + name + " defined twice");
    ClassObj* cls = make<ClassObj>(classClass, name, super);
    classes[name] = cls;
    return cls;
}

ClassObj* VmImpl::findClass(const std::string& name) {
    const auto it = classes.find(name);
    return it == classes.end() ? nullptr : it->second;
}

ClassObj* VmImpl::requireClass(const std::string& name, const char* what) {
    ClassObj* cls = findClass(name);
    if (!cls)
        failLoudly(std::string(what) + ": no class " + name + " is defined");
    return cls;
}

ClassObj* VmImpl::arrayClass(const std::string& descriptor) {
    if (ClassObj* cls = findClass(descriptor))
        return cls;
    return defineClass(descriptor, objectClass);
}

StringObj* VmImpl::makeString(const std::string& mutf8) {
    std::u16string units;
    fromModifiedUtf8(mutf8, units);
    return make<StringObj>(stringClass, mutf8, std::move(units));
}

StringObj* VmImpl::makeString(const std::u16string& utf16) {
    return make<StringObj>(stringClass, toModifiedUtf8(utf16), utf16);
}

InstanceObj* VmImpl::makeThrowable(ClassObj* cls, const std::string* message,
                                   std::vector<std::string> frames) {
    if (!cls->isSubclassOf(throwableClass))
        failLoudly("class " + cls->name + " is not a java/lang/Throwable");
    InstanceObj* ex = make<InstanceObj>(cls);
    ex->hasMessage = message != nullptr;
    if (message)
        ex->message = *message;
    ex->frames = std::move(frames);
    return ex;
}

jobject VmImpl::newLocal(ThreadEnv* env, Object* obj) {
    if (!obj)
        return nullptr;
    refs.push_back(Ref{obj, RefKind::Local, true, env->thread});
    knownRefs.insert(&refs.back());
    ++liveLocals;
    return reinterpret_cast<jobject>(&refs.back());
}

jobject VmImpl::newGlobal(Object* obj) {
    if (!obj)
        return nullptr;
    refs.push_back(Ref{obj, RefKind::Global, true, std::thread::id()});
    knownRefs.insert(&refs.back());
    return reinterpret_cast<jobject>(&refs.back());
}

Ref* VmImpl::refOf(jobject ref, const char* what) {
    Ref* r = reinterpret_cast<Ref*>(ref);
    if (!knownRefs.count(r))
        failLoudly(std::string(what) + ": not a reference made by this VM");
    if (!r->live)
        failLoudly(std::string(what) + ": reference used after it was deleted");
    return r;
}

Object* VmImpl::deref(ThreadEnv* env, jobject ref, const char* what) {
    if (!ref)
        return nullptr;
    Ref* r = refOf(ref, what);
    if (env && r->kind == RefKind::Local && r->owner != env->thread)
        failLoudly(std::string(what) + ": local reference of another thread");
    return r->target;
}

ThreadEnv* VmImpl::currentEnv() {
    const std::thread::id self = std::this_thread::get_id();
    for (auto& env : envs)
        if (env->attached && env->thread == self)
            return env.get();
    return nullptr;
}

ThreadEnv* VmImpl::attach(const std::string& name, bool daemon) {
    if (ThreadEnv* env = currentEnv())
        return env;
    auto env = std::make_unique<ThreadEnv>();
    env->functions = nativeTable();
    env->vm = this;
    env->thread = std::this_thread::get_id();
    env->name = name;
    env->daemon = daemon;
    envs.push_back(std::move(env));
    threadsChanged.notify_all();
    return envs.back().get();
}

void VmImpl::detach(ThreadEnv* env) {
    env->attached = false;
    env->pending = nullptr;
    for (Ref& r : refs) {
        if (r.live && r.kind == RefKind::Local && r.owner == env->thread) {
            r.live = false;
            --liveLocals;
        }
    }
    threadsChanged.notify_all();
}

std::size_t VmImpl::otherNonDaemonThreads(std::thread::id self) {
    std::size_t count = startingNonDaemon;
    for (auto& env : envs)
        if (env->attached && !env->daemon && env->thread != self)
            ++count;
    return count;
}

bool VmImpl::allocationFails(ThreadEnv* env) {
    ++allocationCount;
    if (failAtAllocation == 0 || allocationCount != failAtAllocation)
        return false;
    failAtAllocation = 0;
    raise(env, "java/lang/OutOfMemoryError", "Java heap space");
    return true;
}

void VmImpl::raise(ThreadEnv* env, const std::string& cls, const std::string& message) {
    env->pending = makeThrowable(requireClass(cls, "raise"), &message, currentFrames(env));
}

std::vector<std::string> VmImpl::currentFrames(ThreadEnv* env) {
    std::vector<std::string> frames;
    for (auto it = env->callStack.rbegin(); it != env->callStack.rend(); ++it)
        frames.push_back(*it + "(Unknown Source)");
    if (frames.empty())
        frames.push_back("<JNI caller>(Native Method)");
    return frames;
}

void VmImpl::describe(ThreadEnv* env, InstanceObj* ex) {
    std::string text = "Exception in thread \"" + env->name + "\" " + ex->cls->dottedName();
    if (ex->hasMessage) {
        std::u16string units;
        fromModifiedUtf8(ex->message, units);
        text += ": " + toStandardUtf8(units);
    }
    text += "\n";
    for (const std::string& frame : ex->frames)
        text += "\tat " + frame + "\n";
    DWORD written = 0;
    if (describeToStandardHandle)
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
                  nullptr);
    else
        _write(2, text.data(), static_cast<unsigned>(text.size()));
}

FieldInfo* VmImpl::findField(ClassObj* cls, const std::string& name, const std::string& sig, bool isStatic) {
    for (ClassObj* c = cls; c; c = c->super)
        for (auto& f : c->fields)
            if (f->name == name && f->signature == sig && f->isStatic == isStatic)
                return f.get();
    return nullptr;
}

FieldInfo* VmImpl::fieldByName(ClassObj* cls, const std::string& name, bool isStatic, const char* what) {
    for (ClassObj* c = cls; c; c = c->super)
        for (auto& f : c->fields)
            if (f->name == name && f->isStatic == isStatic)
                return f.get();
    failLoudly(std::string(what) + ": class " + cls->name + " has no " + (isStatic ? "static " : "") +
               "field " + name);
}

MethodInfo* VmImpl::findMethod(ClassObj* cls, const std::string& name, const std::string& sig) {
    for (ClassObj* c = cls; c; c = c->super)
        for (auto& m : c->methods)
            if (m->name == name && m->signature == sig)
                return m.get();
    return nullptr;
}

namespace {

bool typeMatches(const std::string& signature, char type) {
    const char actual = signature.empty() ? '?' : signature[0];
    if (type == 'L')
        return actual == 'L' || actual == '[';
    return actual == type;
}

}  // namespace

Slot& VmImpl::instanceSlot(Object* obj, FieldInfo* field, char type, const char* what) {
    if (!ids.count(field))
        failLoudly(std::string(what) + ": not a field ID of this VM");
    if (field->isStatic)
        failLoudly(std::string(what) + ": field " + field->name + " is static");
    if (!typeMatches(field->signature, type))
        failLoudly(std::string(what) + ": field " + field->name + " has signature " + field->signature);
    if (!obj)
        failLoudly(std::string(what) + ": null object");
    if (obj->kind != Kind::Instance || !obj->cls->isSubclassOf(field->owner))
        failLoudly(std::string(what) + ": object of class " + obj->cls->name + " has no field " +
                   field->name);
    return static_cast<InstanceObj*>(obj)->fields[field];
}

Slot& VmImpl::staticSlot(FieldInfo* field, char type, const char* what) {
    if (!ids.count(field))
        failLoudly(std::string(what) + ": not a field ID of this VM");
    if (!field->isStatic)
        failLoudly(std::string(what) + ": field " + field->name + " is not static");
    if (!typeMatches(field->signature, type))
        failLoudly(std::string(what) + ": field " + field->name + " has signature " + field->signature);
    return field->staticValue;
}

ThreadEnv* checkedEnv(JNIEnv* env, const char* what) {
    ThreadEnv* t = static_cast<ThreadEnv*>(env);
    if (!t || t->magic != kEnvMagic)
        failLoudly(std::string(what) + ": not a JNIEnv made by this VM");
    if (!t->attached)
        failLoudly(std::string(what) + ": JNIEnv of a detached thread");
    if (t->thread != std::this_thread::get_id())
        failLoudly(std::string(what) + ": JNIEnv used on a thread it does not belong to");
    return t;
}

VmImpl* checkedVm(JavaVM* vm, const char* what) {
    VmShell* shell = static_cast<VmShell*>(vm);
    if (!shell || shell->magic != kEnvMagic)
        failLoudly(std::string(what) + ": not a JavaVM made by this double");
    return shell->vm;
}

}  // namespace kvojni
