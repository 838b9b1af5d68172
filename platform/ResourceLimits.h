#pragma once

namespace platform {

// Sets every resource limit that the caller of a set-user-ID run could have
// lowered (descriptors, processes, CPU time, file size, memory, stack,
// locked memory) to root's own fixed values, and core dumps off, for the run
// and the commands it starts: a caller's limit must neither stop root's
// work halfway nor change its outcome. Needs root. False when a limit is
// still below what the run needs (the system denied root the right to raise
// a hard limit the caller lowered).
bool setRootResourceLimits();

}  // namespace platform
