#include "os_calls.h"

namespace kvo::launcher {

OsCalls os;

}  // namespace kvo::launcher
