// End-to-end helpers: a product tree on disk with the launcher programs, the mapping files and a
// JVM library, the product registry key, and launcher processes started as a user starts them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "capture_output.h"

namespace e2e {

// Paths handed to the test program on its command line.
struct Inputs {
    std::string launcherDir;    // directory of kvocli.exe and the other programs (with backslash)
    std::string standinJvm;     // the stand-in jvm.dll
    std::string noExportJvm;    // a jvm.dll without JNI_CreateJavaVM
    std::string stageDir;       // directory holding kvoucd32.dll and the CP*.UNI files
    std::string dependentJvm;   // the stand-in importing jvmdep.dll
    std::string jvmDependency;  // that jvmdep.dll
};
extern Inputs inputs;

// <scratch>\prod\ with bin (programs, kvoucd32, mapping files), jre\bin\classic\jvm.dll (the
// stand-in unless told otherwise), data, log, classes\extensions and proddata.
class ProductTree {
public:
    explicit ProductTree(const std::string& jvmLibrary = inputs.standinJvm);
    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + relative; }
    std::string program(const std::string& name) const { return root_ + "bin\\" + name + ".exe"; }

private:
    kvotest::ScratchDir scratch_;
    std::string root_;
};

// The product registry key with the given string and number values; removed again at the end.
class ProductKey {
public:
    ProductKey();
    ~ProductKey();
    void setString(const char* name, const std::string& value);
    void setNumber(const char* name, DWORD value);

private:
    HKEY key_ = nullptr;
};

struct Outcome {
    bool ended = false;
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

// Whether a launched process gets standard handles (input nul, output and error in files) or none,
// as a windowed program started from the desktop.
enum class StandardHandles { Files, None };

// A launcher process with standard output and error in files; environment additions as
// "NAME=value" entries (an entry "NAME=" removes NAME); the test's working directory unless one is
// named.
class Launch {
public:
    Launch(const std::string& program, const std::vector<std::string>& arguments,
           const std::vector<std::string>& environment = {}, StandardHandles handles = StandardHandles::Files,
           const std::string& workingDirectory = "");
    ~Launch();
    bool started() const { return process_ != nullptr; }
    DWORD processId() const { return processId_; }
    // Waits up to timeoutMs; a process still running then is terminated and ended stays false.
    Outcome wait(DWORD timeoutMs = 30000);

private:
    kvotest::ScratchDir io_;
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

// Runs a program to its end.
Outcome run(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment = {}, DWORD timeoutMs = 30000);

// Waits until the file contains text (polling), up to timeoutMs.
bool waitForText(const std::string& file, const std::string& text, DWORD timeoutMs = 20000);

std::vector<std::string> splitLines(const std::string& text);

}  // namespace e2e
