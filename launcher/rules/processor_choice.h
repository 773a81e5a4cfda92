// Choice of the one processor a launcher process is bound to. Platform-free.
#pragma once

#include <cstdint>

namespace kvo::launcher {

// Processor number (0 to 31) to bind a process with the given affinity mask to, picked among the
// allowed processors 0 to 31 by tick; -1 when the mask should be left alone (0, a single processor,
// or no allowed processor below 32).
int chooseProcessor(std::uint64_t processMask, unsigned long tick);

}  // namespace kvo::launcher
