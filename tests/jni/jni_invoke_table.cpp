// The JavaVM operations the double provides.
#include "jni_model.h"

namespace kvojni {

namespace {

jint JNICALL DestroyJavaVM(JavaVM* javaVm) {
    VmImpl* vm = checkedVm(javaVm, "DestroyJavaVM");
    std::unique_lock<std::recursive_mutex> lock(vm->mutex);
    if (vm->destroyed)
        return JNI_ERR;
    // The calling thread becomes the VM's last thread: wait until every other non-daemon thread ended.
    ThreadEnv* self = vm->attach("DestroyJavaVM", false);
    vm->threadsChanged.wait(lock, [&] { return vm->otherNonDaemonThreads(self->thread) == 0; });
    for (auto& [thread, daemon] : vm->threads)
        if (!daemon && thread.joinable() && thread.get_id() != std::this_thread::get_id())
            thread.join();
    vm->detach(self);
    vm->destroyed = true;
    if (vm->destroyObserver)
        vm->destroyObserver(JNI_OK);
    return JNI_OK;
}

jint attachThread(JavaVM* javaVm, void** penv, void* args, bool daemon, const char* fn) {
    VmImpl* vm = checkedVm(javaVm, fn);
    std::lock_guard<std::recursive_mutex> lock(vm->mutex);
    if (vm->destroyed)
        return JNI_ERR;
    const JavaVMAttachArgs* attachArgs = static_cast<const JavaVMAttachArgs*>(args);
    std::string name = "Thread-" + std::to_string(vm->envs.size());
    if (attachArgs && attachArgs->name)
        name = attachArgs->name;
    *penv = static_cast<JNIEnv*>(vm->attach(name, daemon));
    return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* javaVm, void** penv, void* args) {
    return attachThread(javaVm, penv, args, false, "AttachCurrentThread");
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM* javaVm, void** penv, void* args) {
    return attachThread(javaVm, penv, args, true, "AttachCurrentThreadAsDaemon");
}

jint JNICALL DetachCurrentThread(JavaVM* javaVm) {
    VmImpl* vm = checkedVm(javaVm, "DetachCurrentThread");
    std::lock_guard<std::recursive_mutex> lock(vm->mutex);
    ThreadEnv* env = vm->currentEnv();
    if (!env)
        return JNI_OK;
    // As in a JVM, a thread that is running a Java method cannot leave.
    if (!env->callStack.empty())
        return JNI_ERR;
    vm->detach(env);
    return JNI_OK;
}

jint JNICALL GetEnv(JavaVM* javaVm, void** penv, jint version) {
    VmImpl* vm = checkedVm(javaVm, "GetEnv");
    std::lock_guard<std::recursive_mutex> lock(vm->mutex);
    *penv = nullptr;
    if (version < JNI_VERSION_1_1 || version > JNI_VERSION_1_8)
        return JNI_EVERSION;
    ThreadEnv* env = vm->currentEnv();
    if (!env)
        return JNI_EDETACHED;
    *penv = static_cast<JNIEnv*>(env);
    return JNI_OK;
}

JNIInvokeInterface_ makeTable() {
    JNIInvokeInterface_ t;
    fillUnusedInvokeSlots(t);
    t.DestroyJavaVM = DestroyJavaVM;
    t.AttachCurrentThread = AttachCurrentThread;
    t.DetachCurrentThread = DetachCurrentThread;
    t.GetEnv = GetEnv;
    t.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
    return t;
}

}  // namespace

const JNIInvokeInterface_* invokeTable() {
    static const JNIInvokeInterface_ table = makeTable();
    return &table;
}

}  // namespace kvojni
