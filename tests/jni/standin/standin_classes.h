// The stand-in JVM's built-in classes, written in C++ (see README.md for what each one does).
#pragma once

#include <string>

#include "jni_double.h"

namespace kvostandin {

// The hooks the launcher passed as the options "exit" and "abort" (null when absent).
struct Hooks {
    void(JNICALL* exitHook)(jint code) = nullptr;
    void(JNICALL* abortHook)() = nullptr;
};

void defineBuiltInClasses(kvojni::Vm& vm, const Hooks& hooks);

// Standard output of the Java code: a console gets UTF-16 through WriteConsoleW, anything else (file,
// pipe, "nul") gets UTF-8 bytes through descriptor 1, so the launcher's redirection of descriptor 1
// applies.
void writeOut(const std::u16string& text);
void writeOut(const std::string& ascii);

}  // namespace kvostandin
