#pragma once

// Makes a spawned child start with no descriptor of the parent's but those
// its file actions set up (0, 1 and 2), whatever the caller of this
// set-user-ID tool left open, also above a lowered descriptor limit. Per
// system: platform/linux/SpawnDescriptors.cpp, platform/darwin/SpawnDescriptors.cpp.

#include <spawn.h>

namespace platform {

// Adds what it takes to the attributes or the file actions; call it after
// the actions for 0, 1 and 2. False when the system refused.
bool inheritOnlyStandardDescriptors(posix_spawnattr_t& attributes, posix_spawn_file_actions_t& actions);

}  // namespace platform
