#pragma once

#include <string>

namespace platform {

// Runs the command line with "/bin/sh -c" the way POSIX system() does
// (SIGINT and SIGQUIT ignored and SIGCHLD blocked while waiting; the child
// starts with default handlers, except that the caller signals the tool
// ignores stay ignored) and returns the raw wait status: 0 for exit
// status 0, the exit status in bits 8 to 15 otherwise, -1 when no child could
// be started or waited for. The child inherits the standard descriptors but
// none of the caller's environment: it gets only
// PATH=/usr/bin:/bin:/usr/sbin:/sbin.
int runShellCommand(const std::string& commandLine);

}  // namespace platform
