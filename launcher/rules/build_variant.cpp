// Compiled into each launcher program (and each test program) with its own variant definition.
#include "variant.h"

namespace kvo::launcher {

#ifndef KVO_VARIANT
#error "define KVO_VARIANT as one of KVO_VARIANT_KVOCLI, _KVOJAVAW, _KVOCONW, _KVOCON"
#endif

extern const VariantId kvoBuildVariant = static_cast<VariantId>(KVO_VARIANT);

}  // namespace kvo::launcher
