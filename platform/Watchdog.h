#pragma once

// Bounds a whole root run. The caller of a set-user-ID run cannot signal it
// any more, so a run that hangs (a child that never ends, a lock never
// released, a file system that never answers) would hold what it holds for
// ever; the watchdog ends it instead, as a kill would, with a result.

#include <chrono>

#include <spawn.h>
#include <sys/types.h>

namespace platform {

// Called on the watchdog's thread when the time is up, with the limit that
// passed: reports the failure and ends the process, or returns when the run
// has already reported its own result.
using TimeUpHandler = void (*)(std::chrono::seconds limit);

// Says what the watchdog does when the time is up; set before it starts.
void setTimeUpHandler(TimeUpHandler handler);

// Starts the watchdog's thread. Once `limit` has passed it kills the child
// being waited for, with its process group, and calls the handler. False
// when no thread could be started.
bool startWatchdog(std::chrono::seconds limit);

// Starts `path` with posix_spawn, with the file actions and attributes
// given; the attributes must put the child in a process group of its own
// (POSIX_SPAWN_SETPGROUP, group 0), so that the watchdog can end it with
// whatever it started. The child's id, or -1 when it could not start.
pid_t spawnWatchedChild(const char* path, const posix_spawn_file_actions_t& actions,
                        const posix_spawnattr_t& attributes, char* const arguments[], char* const environment[]);

// Waits until the child has ended and reaps it: its raw wait status, or -1.
int reapWatchedChild(pid_t child);

}  // namespace platform
