#include "os_calls.h"

namespace kvo::fsnative {

OsCalls os;

}  // namespace kvo::fsnative
