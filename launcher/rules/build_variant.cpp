// Compiled into each launcher program (and each test program) with its own program name:
// -DKVO_VARIANT_PROGRAM="kvocli" selects the row of kVariants that describes it.
#include <string_view>

#include "variant.h"

namespace kvo::launcher {

#ifndef KVO_VARIANT_PROGRAM
#error "define KVO_VARIANT_PROGRAM as the name of a program of kVariants (\"kvocli\", ...)"
#endif

namespace {

constexpr int rowOf(std::string_view program) {
    for (int i = 0; i < kVariantCount; ++i) {
        if (program == kVariants[i].program)
            return i;
    }
    return -1;
}

constexpr int kRow = rowOf(KVO_VARIANT_PROGRAM);
static_assert(kRow >= 0, "KVO_VARIANT_PROGRAM names no program of kVariants");

}  // namespace

extern const VariantId kvoBuildVariant = kVariants[kRow].id;

}  // namespace kvo::launcher
