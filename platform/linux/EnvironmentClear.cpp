// Linux: glibc's clearenv.

#include "platform/EnvironmentClear.h"

#include <stdlib.h>

namespace platform {

void clearEnvironment() { clearenv(); }

}  // namespace platform
