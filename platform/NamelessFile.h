#pragma once

// Files that have no name until they are whole: O_TMPFILE and linkat on
// Linux. macOS has none, and some Linux file systems refuse them; a staged
// file is then named in a folder only root can reach (StagedFile.h). Per
// system: platform/linux/NamelessFile.cpp, platform/darwin/NamelessFile.cpp.

#include <sys/types.h>

namespace platform {

// A new file without a name in the directory open at `directory`, open for
// reading and writing, close-on-exec; -1 with errno set, EOPNOTSUPP when the
// system or the file system has no nameless files.
int openNamelessFile(int directory, mode_t mode);

// Gives the nameless file open at `file` the name `name` in `directory`.
// False with errno set (EEXIST when the name is taken).
bool linkNamelessFile(int file, int directory, const char* name);

}  // namespace platform
