// macOS: Mach-O has no pre-initialisers, and dyld runs every linked
// library's initialisers (libSystem, CoreFoundation, Security) before the
// executable's own. The earliest the executable can empty its environment
// is its first constructor: this object is linked first, and its
// constructor has the highest priority, so it runs before any other
// initialiser of the executable (the statically linked C++ library's
// among them). dyld itself ignores DYLD_* variables for a set-user-ID
// program. Linked into the tool's executables only.

#include "platform/EnvironmentClear.h"

namespace {

[[gnu::constructor(101)]] void clearEnvironmentFirst() { platform::clearEnvironment(); }

}  // namespace
