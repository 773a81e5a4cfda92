// The four launcher programs are one source built four times. What differs between them is the table
// kVariants below, one row per program; everything else that differs follows from the row. The table
// is the one source: launcher/win32/programs.cmake reads the program names, their subsystems and
// their file descriptions from it and builds each program with -DKVO_VARIANT_PROGRAM="<program>"
// (kvo_launcher_variant() in launcher/CMakeLists.txt), and the code reads its row through
// currentVariant(). Tests switch rows with setCurrentVariant(). Platform-free.
//
// "Console" means one thing here: the two console programs, which run the console class
// com.orvane.console.ConsoleLauncher. Whether a program has a console window of its own is its
// subsystem: a windowed program has none.
#pragma once

#include <cstddef>

namespace kvo::launcher {

enum class VariantId : int { Kvocli, Kvojavaw, Kvoconw, Kvocon };
constexpr int kVariantCount = 4;

// The Java class a program runs.
enum class MainClass {
    FirstArgument,    // named by the first argument, which the program requires
    ConsoleLauncher,  // the console class; the program also takes the "shutdown" command
};

// How a pending Java exception is reported (DumpException).
enum class DumpForm {
    Describe,  // ExceptionDescribe to standard error
    JexpFile,  // appended to log directory + program name + ".jexp"
};

// Fixed main class of the console programs, and the class of their hidden window, which "shutdown"
// looks for.
inline constexpr const char* kConsoleLauncherClass = "com.orvane.console.ConsoleLauncher";
inline constexpr const wchar_t* kConsoleLauncherClassWide = L"com.orvane.console.ConsoleLauncher";
inline constexpr const char* kConsoleWindowClass = "KVOConsole";

struct Variant {
    VariantId id;
    const char* program;  // the program file's name, without ".exe"
    MainClass mainClass;
    bool windowed;  // Windows subsystem, no console: standard output and error go into files
    // "<fileStem>.properties" is the fallback properties file in the data directory, "<fileStem>.dbg"
    // the trace switch file in the log directory; the usage text names the program "<FILESTEM>".
    const char* fileStem;
    const char* windowClassName;  // class of the hidden window
    bool readsLogOutput;          // registry value "LogOutput" is read
    // The program's file description in its version resource, after the product's name (read by
    // launcher/win32/programs.cmake).
    const char* description;

    // What follows from the row.
    bool isConsole() const { return mainClass == MainClass::ConsoleLauncher; }
    // argv index of the first argument handed to the Java main.
    int firstJavaArgument() const { return isConsole() ? 1 : 2; }
    // The console programs set the working directory to root + "classes" (the others only read it)
    // and run the JVM under the security manager.
    bool setsWorkingDirectory() const { return isConsole(); }
    bool givesSecurityManager() const { return isConsole(); }
    // A windowed program's standard streams lead nowhere: they are redirected into files, and
    // exceptions are dumped into a file.
    bool redirectsOutput() const { return windowed; }
    DumpForm dumpForm() const { return windowed ? DumpForm::JexpFile : DumpForm::Describe; }
    // File name filters in root + "classes\\extensions\\", in search order: "*.KVOExt", "*.SMDef",
    // and "*.KVOSubagent" for the programs that are not console programs.
    int extensionFilterCount() const { return isConsole() ? 2 : 3; }
    const char* extensionFilter(int index) const;
};

inline constexpr Variant kVariants[kVariantCount] = {
    {.id = VariantId::Kvocli,
     .program = "kvocli",
     .mainClass = MainClass::FirstArgument,
     .windowed = false,
     .fileStem = "kvocli",
     .windowClassName = "KVOCLI",
     .readsLogOutput = false,
     .description = "Java launcher"},
    {.id = VariantId::Kvojavaw,
     .program = "kvojavaw",
     .mainClass = MainClass::FirstArgument,
     .windowed = true,
     .fileStem = "kvojava",
     .windowClassName = "KVOJava",
     .readsLogOutput = true,
     .description = "Java launcher (windowed)"},
    {.id = VariantId::Kvoconw,
     .program = "kvoconw",
     .mainClass = MainClass::ConsoleLauncher,
     .windowed = true,
     .fileStem = "kvocon",
     .windowClassName = kConsoleWindowClass,
     .readsLogOutput = true,
     .description = "console launcher (windowed)"},
    {.id = VariantId::Kvocon,
     .program = "kvocon",
     .mainClass = MainClass::ConsoleLauncher,
     .windowed = false,
     .fileStem = "kvocon",
     .windowClassName = kConsoleWindowClass,
     .readsLogOutput = true,
     .description = "console launcher"},
};

// The usage text a program that takes a class argument writes when it is given none
// ("KVOCLI classname [arguments]\n"), cut to size bytes; "" for the console programs.
void formatUsage(const Variant& variant, char* buffer, std::size_t size);

// The description of one program.
const Variant& variantFor(VariantId id);

// The description this program was built with, unless a test has chosen another.
const Variant& currentVariant();

// For tests: make id the current variant (all four can be exercised in one program).
void setCurrentVariant(VariantId id);

// Defined in build_variant.cpp, compiled into each program with its KVO_VARIANT_PROGRAM definition.
extern const VariantId kvoBuildVariant;

}  // namespace kvo::launcher
