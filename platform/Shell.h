#pragma once

#include <string>

namespace platform {

// Runs the command line with "/bin/sh -c" the way POSIX system() does
// (SIGINT and SIGQUIT ignored and SIGCHLD blocked while waiting; the child
// starts with default handlers, except that the caller signals the tool
// ignores stay ignored) and returns the raw wait status: 0 for exit
// status 0, the exit status in bits 8 to 15 otherwise, -1 when no child could
// be started or waited for. The child gets none of the caller's environment,
// only PATH=/usr/bin:/bin:/usr/sbin:/sbin, and none of its descriptors: its
// standard input is /dev/null, and what it writes to its standard output and
// error is read until it closes them and handed on, a line at a time, to
// the caller's (CallerOutput.h). It runs in a process group of its own,
// which the watchdog ends when the run's time is up (Watchdog.h).
int runShellCommand(const std::string& commandLine);

}  // namespace platform
