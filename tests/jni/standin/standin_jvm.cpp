// The stand-in jvm.dll: the invocation entry points over the JNI test double, recording the init
// arguments it receives (see README.md for the record format and the environment variables).
#include "jni_double.h"
#include "standin_classes.h"
#include "standin_record.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef KVO_STANDIN_DEPENDENCY
extern "C" __declspec(dllimport) DWORD kvoJvmDependencyPath(char* buffer, DWORD size);  // jvmdep.dll
#endif

namespace {

kvojni::Vm* g_vm = nullptr;  // the one VM of the process; never freed (the process may end any time)

std::string hex(jint value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// Records the init arguments and picks out the hooks.
kvostandin::Hooks recordInitArgs(const JavaVMInitArgs& args) {
    using kvostandin::record;
    kvostandin::Hooks hooks;
    record("version", hex(args.version));
    record("ignoreUnrecognized", args.ignoreUnrecognized ? "1" : "0");
    record("nOptions", std::to_string(args.nOptions));
    bool exitSeen = false, abortSeen = false;
    for (jint i = 0; i < args.nOptions; ++i) {
        const JavaVMOption& option = args.options[i];
        const std::string text = option.optionString ? option.optionString : "";
        record("option", text);
        if (text == "exit" && !exitSeen) {
            exitSeen = true;
            hooks.exitHook = reinterpret_cast<void(JNICALL*)(jint)>(option.extraInfo);
        } else if (text == "abort" && !abortSeen) {
            abortSeen = true;
            hooks.abortHook = reinterpret_cast<void(JNICALL*)()>(option.extraInfo);
        }
    }
    record("hook", std::string("abort ") + (!abortSeen ? "absent" : hooks.abortHook ? "set" : "null"));
    record("hook", std::string("exit ") + (!exitSeen ? "absent" : hooks.exitHook ? "set" : "null"));
    return hooks;
}

// Records "unloaded" when the library is unloaded while the process goes on (FreeLibrary), as opposed
// to the end of the process. Plain Win32 calls only: this runs under the loader's lock.
void recordUnload() {
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("KVO_STANDIN_RECORD", path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    static const char kLine[] = "unloaded\n";
    DWORD written = 0;
    WriteFile(file, kLine, sizeof kLine - 1, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        recordUnload();
    return TRUE;
}

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* initArgs) {
    kvostandin::resetRecord();
#ifdef KVO_STANDIN_DEPENDENCY
    char dependency[MAX_PATH] = "";
    kvoJvmDependencyPath(dependency, sizeof dependency);
    kvostandin::record("dependency", dependency);
#endif
    const JavaVMInitArgs* args = static_cast<const JavaVMInitArgs*>(initArgs);
    if (!args || !pvm || !penv) {
        kvostandin::record("create", std::to_string(JNI_EINVAL));
        return JNI_EINVAL;
    }
    const kvostandin::Hooks hooks = recordInitArgs(*args);
    jint result = static_cast<jint>(
        std::strtol(kvostandin::environment("KVO_STANDIN_CREATE_RESULT", "0").c_str(), nullptr, 10));
    if (result == JNI_OK && (args->version < JNI_VERSION_1_2 || args->version > JNI_VERSION_1_8))
        result = JNI_EVERSION;
    if (result == JNI_OK && g_vm)
        result = JNI_EEXIST;
    kvostandin::record("create", std::to_string(result));
    if (result != JNI_OK)
        return result;

    g_vm = new kvojni::Vm();
    kvostandin::defineBuiltInClasses(*g_vm, hooks);
    g_vm->onDestroyed([](jint code) { kvostandin::record("destroy", std::to_string(code)); });
    *pvm = g_vm->javaVm();
    *penv = g_vm->env();
    return JNI_OK;
}

JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) {
    return JNI_ERR;
}

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize bufLen, jsize* nVMs) {
    const bool alive = g_vm && !g_vm->destroyed();
    if (nVMs)
        *nVMs = alive ? 1 : 0;
    if (alive && vms && bufLen > 0)
        vms[0] = g_vm->javaVm();
    return JNI_OK;
}

}  // extern "C"
