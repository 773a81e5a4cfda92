// The launcher benchmark's baseline: the least a program must do to run a Java class in-process.
// It loads a JVM library, creates the JVM without options, finds the class, calls its main with the
// remaining arguments and destroys the JVM.
//
//   kvo_launcher_baseline <path of jvm.dll> <class name> [arguments...]
//
// Built with KVO_BASELINE_WINDOW (kvo_launcher_baseline_window) it first registers a window class and
// creates a hidden window, as every launcher must for shutdown requests and the end of the session:
// the platform's price for having a window at all. Only that build links user32, whose start-up is
// part of that price.
//
// Exit code: 0, or the step that failed (2 load, 3 entry point, 4 create, 5 class, 6 main,
// 7 arguments, 8 main threw, 9 no window).
#include <jni.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Local code page to UTF-8, as the launcher hands arguments to the JVM.
std::string localToUtf8(const char* local) {
    const int units = MultiByteToWideChar(CP_ACP, 0, local, -1, nullptr, 0);
    std::wstring wide(units > 0 ? units : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, local, -1, &wide[0], units);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

int runClass(JNIEnv* env, const char* className, int argc, char** argv) {
    std::string descriptor = className;
    for (char& c : descriptor)
        if (c == '.')
            c = '/';
    jclass cls = env->FindClass(descriptor.c_str());
    if (!cls)
        return 5;
    jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
    if (!main)
        return 6;
    jobjectArray args = env->NewObjectArray(argc, env->FindClass("java/lang/String"), nullptr);
    if (!args)
        return 7;
    for (int i = 0; i < argc; ++i) {
        jstring s = env->NewStringUTF(localToUtf8(argv[i]).c_str());
        env->SetObjectArrayElement(args, i, s);
        env->DeleteLocalRef(s);
    }
    env->CallStaticVoidMethod(cls, main, args);
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        return 8;
    }
    return 0;
}

#ifdef KVO_BASELINE_WINDOW
// A hidden top-level window of its own class; null when either step fails.
HWND createHiddenWindow() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "kvo_launcher_baseline";
    if (RegisterClassExA(&windowClass) == 0)
        return nullptr;
    return CreateWindowExA(0, windowClass.lpszClassName, "baseline", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: kvo_launcher_baseline jvm.dll classname [arguments]\n", stderr);
        return 1;
    }
#ifdef KVO_BASELINE_WINDOW
    const HWND window = createHiddenWindow();
    if (!window)
        return 9;
#endif
    const HMODULE jvm = LoadLibraryA(argv[1]);
    if (!jvm)
        return 2;
    using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);
    const auto create =
        reinterpret_cast<CreateJavaVM>(reinterpret_cast<void*>(GetProcAddress(jvm, "JNI_CreateJavaVM")));
    if (!create)
        return 3;
    JavaVMInitArgs initArgs = {};
    initArgs.version = JNI_VERSION_1_2;
    initArgs.ignoreUnrecognized = JNI_TRUE;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (create(&vm, reinterpret_cast<void**>(&env), &initArgs) != JNI_OK)
        return 4;
    const int result = runClass(env, argv[2], argc - 3, argv + 3);
    if (env->ExceptionCheck())
        env->ExceptionDescribe();
    vm->DestroyJavaVM();
    FreeLibrary(jvm);
#ifdef KVO_BASELINE_WINDOW
    DestroyWindow(window);
#endif
    return result;
}
