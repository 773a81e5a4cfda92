// The four launcher programs are one source built four times. Everything that differs between them
// is described here as data: each program picks its description at compile time with one definition,
//     -DKVO_VARIANT=KVO_VARIANT_KVOCLI   (or _KVOJAVAW, _KVOCONW, _KVOCON)
// given to build_variant.cpp (see kvo_launcher_variant() in launcher/CMakeLists.txt), and the code
// reads the description through currentVariant(). Tests switch descriptions with setCurrentVariant().
// Platform-free.
#pragma once

namespace kvo::launcher {

#define KVO_VARIANT_KVOCLI 0
#define KVO_VARIANT_KVOJAVAW 1
#define KVO_VARIANT_KVOCONW 2
#define KVO_VARIANT_KVOCON 3

enum class VariantId : int {
    Kvocli = KVO_VARIANT_KVOCLI,
    Kvojavaw = KVO_VARIANT_KVOJAVAW,
    Kvoconw = KVO_VARIANT_KVOCONW,
    Kvocon = KVO_VARIANT_KVOCON,
};

constexpr int kVariantCount = 4;

// How a pending Java exception is reported (DumpException).
enum class DumpForm : int {
    Describe,  // ExceptionDescribe to standard error
    JexpFile,  // appended to log directory + program name + ".jexp"
};

struct Variant {
    VariantId id;
    const char* name;                     // "kvocli", ...
    bool consoleSubsystem;                // console program (else windowed, no console)
    bool classArgument;                   // main class is the first argument (else fixedMainClass)
    const char* fixedMainClass;           // null for the class-argument variants
    int firstJavaArgument;                // argv index of the first argument handed to Java main
    const char* usageText;                // written to stderr when no argument is given; null: none
    bool shutdownCommand;                 // first argument "shutdown" stops every running console
    const char* windowClassName;          // class of the hidden window
    const char* fallbackPropertiesFile;   // in the data directory
    const char* traceSwitchFile;          // in the log directory
    bool setsWorkingDirectory;            // working directory set to root + "classes" (else only read)
    bool redirectsOutput;                 // stdout and stderr redirected into files
    bool readsLogOutput;                  // registry value "LogOutput" is read
    bool securityManager;                 // security manager options given to the JVM
    const char* const* extensionFilters;  // file name filters in "classes\\extensions", in order
    int extensionFilterCount;
    DumpForm dumpForm;
};

// Fixed main class of the console variants.
extern const char* const kConsoleLauncherClass;  // "com.orvane.console.ConsoleLauncher"
// Window class of the console variants' hidden window, looked for by "shutdown".
extern const char* const kConsoleWindowClass;  // "KVOConsole"

// The description of one variant.
const Variant& variantFor(VariantId id);

// The description this program was built with, unless a test has chosen another.
const Variant& currentVariant();

// For tests: make id the current variant (all four can be exercised in one program).
void setCurrentVariant(VariantId id);

// Defined in build_variant.cpp, compiled into each program with its KVO_VARIANT definition.
extern const VariantId kvoBuildVariant;

}  // namespace kvo::launcher
