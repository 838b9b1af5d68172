#pragma once

// Empties the process's environment. Per system:
// platform/linux/EnvironmentClear.cpp, platform/darwin/EnvironmentClear.cpp.

namespace platform {

// Afterwards getenv finds nothing; safe to call before any constructor has
// run (it allocates nothing).
void clearEnvironment();

}  // namespace platform
