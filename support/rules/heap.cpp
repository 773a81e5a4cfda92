#include "heap.h"

#include <cstdlib>

namespace kvo {

HeapCalls heap = {std::malloc, std::free};

}  // namespace kvo
