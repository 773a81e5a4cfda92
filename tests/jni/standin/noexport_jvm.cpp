// A jvm.dll that loads but lacks JNI_CreateJavaVM, for the launcher's "missing entry point" path.
extern "C" __declspec(dllexport) int kvoStandInWithoutEntryPoint() {
    return 0;
}
