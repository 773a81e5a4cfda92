#include "variant.h"

#include <cctype>
#include <cstdio>

namespace kvo::launcher {

namespace {

constexpr bool rowsInIdOrder() {
    for (int i = 0; i < kVariantCount; ++i) {
        if (static_cast<int>(kVariants[i].id) != i)
            return false;
    }
    return true;
}
static_assert(rowsInIdOrder(), "kVariants holds one row per VariantId, in the order of VariantId");

const char* const kExtensionFilters[] = {"*.KVOExt", "*.SMDef", "*.KVOSubagent"};

const Variant* chosen = nullptr;

}  // namespace

const char* Variant::extensionFilter(int index) const {
    return index >= 0 && index < extensionFilterCount() ? kExtensionFilters[index] : nullptr;
}

void formatUsage(const Variant& variant, char* buffer, std::size_t size) {
    if (size == 0)
        return;
    buffer[0] = '\0';
    if (variant.isConsole())
        return;
    char name[32];
    std::size_t n = 0;
    for (const char* c = variant.fileStem; *c != '\0' && n + 1 < sizeof name; ++c)
        name[n++] = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    name[n] = '\0';
    std::snprintf(buffer, size, "%s classname [arguments]\n", name);
}

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
