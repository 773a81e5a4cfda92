#include "os_calls.h"

namespace kvo::installer {

OsCalls os;

}  // namespace kvo::installer
