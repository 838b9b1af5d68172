// Linux: a file action that closes every descriptor from 3 up (close_range
// in the child), whatever the descriptor limit.

#include "platform/SpawnDescriptors.h"

namespace platform {

bool inheritOnlyStandardDescriptors(posix_spawnattr_t&, posix_spawn_file_actions_t& actions) {
  return posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
}

}  // namespace platform
