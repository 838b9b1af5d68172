// macOS: no clearenv; the executable's environment pointer, which getenv and
// setenv use, is pointed at an empty list.

#include "platform/EnvironmentClear.h"

#include <crt_externs.h>

namespace platform {
namespace {

char* kNoVariables[] = {nullptr};

}  // namespace

void clearEnvironment() { *_NSGetEnviron() = kNoVariables; }

}  // namespace platform
