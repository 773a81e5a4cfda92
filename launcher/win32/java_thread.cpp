// The worker thread: loads the product runtime's JVM library, creates the JVM, runs the main class
// and reports the outcome to the main thread as the code of a WM_QUIT message.
#include <process.h>

#include <cstdio>

#include "bounded_path.h"
#include "classpath.h"
#include "exit_codes.h"
#include "heap.h"
#include "java_arguments.h"
#include "jvm_options.h"
#include "launcher_threads.h"
#include "local_text.h"
#include "os_calls.h"
#include "state.h"
#include "quiet_error_mode.h"
#include "trace_log.h"

namespace kvo::launcher {

namespace {

using CreateJavaVMFunction = jint(JNICALL*)(JavaVM**, void**, void*);

// The four strings of the class path assembly, freed at the end of the thread.
struct ClassPaths {
    HeapArray<char> bootClasspath;
    HeapArray<char> classpath;
    HeapArray<char> libraryPath;
    HeapArray<char> protocolHandler;
};

bool buildClassPaths(ClassPaths* paths) {
    paths->bootClasspath.reset(BuildBootClasspath());
    if (!paths->bootClasspath) {
        KVO_TRACE(traceError, "JavaThread: insufficient storage to allocate boot classpath");
        return false;
    }
    paths->classpath.reset(BuildClasspath());
    if (!paths->classpath) {
        KVO_TRACE(traceError, "JavaThread: insufficient storage to allocate classpath");
        return false;
    }
    paths->libraryPath.reset(BuildLibraryPath());
    if (!paths->libraryPath) {
        KVO_TRACE(traceError, "JavaThread: insufficient storage to allocate library path");
        return false;
    }
    paths->protocolHandler.reset(BuildProtocolHandler());
    if (!paths->protocolHandler) {
        KVO_TRACE(traceError, "JavaThread: insufficient storage to allocate protocol handler");
        return false;
    }
    return true;
}

// A dotted class name as the JVM's class descriptor: every "." a "/".
void slashesForDots(char* name) {
    for (; *name != '\0'; ++name)
        if (*name == '.')
            *name = '/';
}

// Finds the main class and calls its main with the Java arguments; returns the exit code.
int runMainClass(JNIEnv* env) {
    char descriptor[kPathBufferSize];
    std::snprintf(descriptor, sizeof descriptor, "%s", mainClassName ? mainClassName : "");
    slashesForDots(descriptor);
    KVO_TRACE(traceInfo, "JavaThread: class descriptor = \"%s\"", descriptor);
    // The JVM is given the name as typed (its UTF-8 form, whole), not the local text traced above.
    HeapArray<char> javaDescriptor(ConvertToUTF8(javaClassName));
    if (!javaDescriptor) {
        KVO_TRACE(traceError, "JavaThread: insufficient storage to allocate class descriptor");
        return kExitNoMemory;
    }
    slashesForDots(javaDescriptor.get());

    jclass mainClass = env->FindClass(javaDescriptor.get());
    if (mainClass == nullptr) {
        KVO_TRACE(traceError, "JavaThread: unable to find class \"%s\"", descriptor);
        if (env->ExceptionCheck())
            DumpException(env);
        return kExitNoClass;
    }
    jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (mainMethod == nullptr) {
        KVO_TRACE(traceError,
                  "JavaThread: unable to find static method main([Ljava/lang/String;)V in class \"%s\"",
                  descriptor);
        if (env->ExceptionCheck())
            DumpException(env);
        return kExitNoMain;
    }
    int count = commandArgumentCount - firstJavaArgument;
    if (count < 0)
        count = 0;
    jobjectArray arguments = NewStringArray(env, count, commandArguments + (commandArgumentCount - count));
    if (arguments == nullptr) {
        KVO_TRACE(traceError, "JavaThread: unable to allocate string array");
        return kExitNoMemory;
    }
    KVO_TRACE(traceEntry, "%s: main", mainClassName);
    {
        const QuietErrorMode quiet;
        env->CallStaticVoidMethod(mainClass, mainMethod, arguments);
    }
    KVO_TRACE(traceExit, "%s: main", mainClassName);
    if (env->ExceptionCheck()) {
        KVO_TRACE(traceError,
                  "JavaThread: exception calling static method main([Ljava/lang/String;)V in class \"%s\"",
                  descriptor);
        DumpException(env);
        return kExitMainThrew;
    }
    return kExitOk;
}

// Creates the JVM, runs the class and destroys the JVM; returns the exit code. *jvmStarted tells
// whether JNI_CreateJavaVM was called.
int runJvm(CreateJavaVMFunction createJavaVM, bool* jvmStarted) {
    ClassPaths paths;
    if (!buildClassPaths(&paths))
        return kExitNoMemory;

    JvmOptionList options;
    const JvmPaths jvmPaths{paths.bootClasspath.get(), paths.classpath.get(), paths.libraryPath.get(),
                            paths.protocolHandler.get()};
    int exitCode = kExitOk;
    if (!buildJvmOptions(&options, jvmPaths)) {
        KVO_TRACE(traceError, "JavaThread: insufficient storage to allocate jvm options");
        exitCode = kExitNoMemory;
    } else {
        JavaVMInitArgs initArgs;
        initArgs.version = JNI_VERSION_1_2;
        initArgs.nOptions = options.count;
        initArgs.options = options.options;
        initArgs.ignoreUnrecognized = JNI_TRUE;
        JavaVM* vm = nullptr;
        JNIEnv* env = nullptr;
        *jvmStarted = true;
        const jint rc = createJavaVM(&vm, reinterpret_cast<void**>(&env), &initArgs);
        if (rc != 0 || vm == nullptr || env == nullptr) {
            KVO_TRACE(traceError, "JavaThread: unable to create jvm; rc = X'%lX'",
                      static_cast<unsigned long>(rc));
            exitCode = kExitCreateFailed;
        } else {
            jvm = vm;
            exitCode = runMainClass(env);
            const jint destroyed = vm->DestroyJavaVM();
            jvm = nullptr;
            if (destroyed != 0)
                KVO_TRACE(traceInfo, "JavaThread: unable to destroy jvm; rc = X'%lX'",
                          static_cast<unsigned long>(destroyed));
        }
    }
    freeJvmOptions(&options);
    return exitCode;
}

int loadAndRun() {
    char libraryPath[kPathBufferSize];
    const int length =
        std::snprintf(libraryPath, sizeof libraryPath, "%sbin\\classic\\jvm.dll", jreDirectory);
    replaceSlashes(libraryPath);
    KVO_TRACE(traceInfo, "JavaThread: jvm library file name = \"%s\"", libraryPath);

    // A path cut to the buffer names another file. The libraries the JVM library needs are looked for
    // in its own directory first (then in the system's and on PATH; the current directory is out of
    // the search since the start). That search is defined for a full path only: a relative one would
    // also leave the JVM library itself to the current directory.
    HMODULE library = nullptr;
    DWORD loadError = ERROR_BAD_PATHNAME;
    if (length < 0 || length >= kPathBufferSize) {
        loadError = ERROR_FILENAME_EXCED_RANGE;
    } else if (isFullyQualifiedPath(libraryPath)) {
        const QuietErrorMode quiet;
        library = os.LoadLibraryExA(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        loadError = GetLastError();
    }
    if (library == nullptr) {
        KVO_TRACE(traceError, "JavaThread: unable to load library \"%s\"; rc = X'%lX'", libraryPath,
                  static_cast<unsigned long>(loadError));
        return kExitNoLibrary;
    }

    int exitCode;
    bool jvmStarted = false;
    auto createJavaVM = reinterpret_cast<CreateJavaVMFunction>(
        reinterpret_cast<void*>(os.GetProcAddress(library, "JNI_CreateJavaVM")));
    if (createJavaVM == nullptr) {
        KVO_TRACE(traceError, "JavaThread: unable to get address of \"%s\" in library \"%s\"; rc = X'%lX'",
                  "JNI_CreateJavaVM", libraryPath, static_cast<unsigned long>(GetLastError()));
        exitCode = kExitNoEntryPoint;
    } else {
        exitCode = runJvm(createJavaVM, &jvmStarted);
    }
    // Once JNI_CreateJavaVM has been called, threads of the JVM may still run code of the library:
    // its daemon threads, which DestroyJavaVM does not wait for, or what a failed creation left
    // behind. Unloading it then would take the code away under them; it stays loaded and goes with
    // the process, which ends right after the quit message.
    if (!jvmStarted && !os.FreeLibrary(library))
        KVO_TRACE(traceInfo, "JavaThread: unable to free library \"%s\"; rc = X'%lX'", libraryPath,
                  static_cast<unsigned long>(GetLastError()));
    return exitCode;
}

}  // namespace

void __cdecl JavaThread(void*) {
    KVO_TRACE(traceEntry, "JavaThread");
    const int exitCode = loadAndRun();
    KVO_TRACE(traceInfo, "JavaThread: post quit message to main thread; exitCode = X'%lX'",
              static_cast<unsigned long>(exitCode));
    KVO_TRACE(traceExit, "JavaThread");
    PostThreadMessageA(static_cast<DWORD>(mainThreadId), WM_QUIT,
                       static_cast<WPARAM>(static_cast<INT_PTR>(exitCode)), 0);
    _endthread();
}

}  // namespace kvo::launcher
