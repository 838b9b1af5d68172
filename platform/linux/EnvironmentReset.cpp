// Linux: empties the environment of a set-user-ID executable before any
// shared library's initialiser runs: libcrypto reads its settings from the
// environment when it is loaded, long before main. The loader runs the
// executable's pre-initialisers first, so this object is linked into the
// tool's executables only (a library may not carry one).

#include "platform/EnvironmentClear.h"

namespace {

void clearEnvironmentFirst(int, char**, char**) { platform::clearEnvironment(); }

[[gnu::used, gnu::section(".preinit_array")]] void (*const kClearEnvironmentFirst)(int, char**, char**) =
    clearEnvironmentFirst;

}  // namespace
