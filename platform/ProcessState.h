#pragma once

#include <signal.h>

#include <array>

namespace platform {

// The signals a caller can still send a run of another user's: those of
// the terminal (interrupt, quit, suspend, background reads and writes,
// hang-up) and that of a pipe whose reader it closed.
inline constexpr std::array<int, 7> kCallerSignals{SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGHUP, SIGPIPE};

// Makes the process's inherited state harmless before anything else runs:
// whoever starts a set-user-ID program chooses its descriptors, umask,
// signal handling and timers. (The working directory stays: the tool's own
// paths are absolute, and a relative bundle path means what its caller
// meant by it.)
// - descriptors 0, 1 and 2 are open (on /dev/null when they were closed), so
//   that no file opened later takes their place and receives output;
// - the umask is 022, so that directories made on demand are never group-
//   or world-writable unless a mode is asked for;
// - every signal has its default action and none is blocked, except that a
//   write past the file-size limit fails with EFBIG instead of killing the
//   process halfway (after the privilege step the limit is root's, see
//   ResourceLimits.h, and is met only where the system kept root from
//   raising it); interval timers are cancelled.
// - the environment is empty: nothing the tool or its libraries read may
//   come from the caller (the executable also empties it before any library
//   starts, see EnvironmentReset.cpp).
// False when the descriptors cannot be made safe: the caller must then stop
// without writing anything.
bool establishSafeProcessState();

// Once the process is fully root, the caller signals above are ignored
// from then on, so a root run always goes on to its result; a write to a
// closed pipe fails with EPIPE instead.
void ignoreCallerSignals();

}  // namespace platform
