#include "variant.h"

namespace kvo::launcher {

const char* const kConsoleLauncherClass = "com.orvane.console.ConsoleLauncher";
const char* const kConsoleWindowClass = "KVOConsole";

namespace {

const char* const kAllFilters[] = {"*.KVOExt", "*.SMDef", "*.KVOSubagent"};

// One row per variant, in the order of VariantId.
const Variant kVariants[kVariantCount] = {
    {VariantId::Kvocli, "kvocli", true, true, nullptr, 2, "KVOCLI classname [arguments]\n", false, "KVOCLI",
     "kvocli.properties", "kvocli.dbg", false, false, false, false, kAllFilters, 3, DumpForm::Describe},
    {VariantId::Kvojavaw, "kvojavaw", false, true, nullptr, 2, "KVOJAVA classname [arguments]\n", false,
     "KVOJava", "kvojava.properties", "kvojava.dbg", false, true, true, false, kAllFilters, 3,
     DumpForm::JexpFile},
    {VariantId::Kvoconw, "kvoconw", false, false, "com.orvane.console.ConsoleLauncher", 1, nullptr, true,
     "KVOConsole", "kvocon.properties", "kvocon.dbg", true, true, true, true, kAllFilters, 2,
     DumpForm::JexpFile},
    {VariantId::Kvocon, "kvocon", true, false, "com.orvane.console.ConsoleLauncher", 1, nullptr, true,
     "KVOConsole", "kvocon.properties", "kvocon.dbg", true, false, true, true, kAllFilters, 2,
     DumpForm::Describe},
};

const Variant* chosen = nullptr;

}  // namespace

const Variant& variantFor(VariantId id) {
    int index = static_cast<int>(id);
    if (index < 0 || index >= kVariantCount)
        index = 0;
    return kVariants[index];
}

const Variant& currentVariant() {
    return chosen ? *chosen : variantFor(kvoBuildVariant);
}

void setCurrentVariant(VariantId id) {
    chosen = &variantFor(id);
}

}  // namespace kvo::launcher
