// macOS: POSIX_SPAWN_CLOEXEC_DEFAULT, which closes every descriptor that no
// file action names; the kernel does it, so no descriptor escapes a close
// loop bounded by a lowered limit.

#include "platform/SpawnDescriptors.h"

namespace platform {

bool inheritOnlyStandardDescriptors(posix_spawnattr_t& attributes, posix_spawn_file_actions_t&) {
  short flags = 0;
  return posix_spawnattr_getflags(&attributes, &flags) == 0 &&
         posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT)) == 0;
}

}  // namespace platform
