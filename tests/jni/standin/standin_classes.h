// The stand-in JVM's built-in classes, written in C++ (see README.md for what each one does).
#pragma once

#include "jni_double.h"

namespace kvostandin {

// The hooks the launcher passed as the options "exit" and "abort" (null when absent).
struct Hooks {
    void(JNICALL* exitHook)(jint code) = nullptr;
    void(JNICALL* abortHook)() = nullptr;
};

void defineBuiltInClasses(kvojni::Vm& vm, const Hooks& hooks);

}  // namespace kvostandin
