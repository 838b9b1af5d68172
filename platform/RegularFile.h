#pragma once

// Opening and reading regular files named by a path, and nothing else.

#include <cstddef>
#include <optional>
#include <string>

#include "platform/ScopedFd.h"

namespace platform {

// Opens the file at the path for reading only when it is a regular file. The
// path is first resolved without opening anything (O_PATH), so that a
// device's driver never runs and a named pipe never waits on behalf of
// whoever chose the path; the inode found is then opened through that
// descriptor, not through the path again. Invalid with errno set otherwise:
// EINVAL for an item of another kind, and for a file of the kernel's own
// file systems (proc, sysfs and their kind), which only looks regular.
ScopedFd openRegularFileForReading(const std::string& path);

// Larger files are never read whole: no executable comes near it, and a
// sparse file of any size costs whoever made it nothing.
inline constexpr std::size_t kMaximumFileRead = std::size_t{1} << 30;

// The contents of the regular file at the path, as long as it was when it
// was opened (bytes added later are not read). Nothing with errno set
// otherwise: EINVAL for an item that is not a regular file, which is never
// opened, and EFBIG for a file larger than kMaximumFileRead.
std::optional<std::string> contentsOfRegularFile(const std::string& path);

// The whole contents of a regular file, or nothing when it cannot be read
// (see contentsOfRegularFile: other items are never opened, and files beyond
// its size limit are not read).
std::optional<std::string> dataWithContentsOfFile(const std::string& path);

}  // namespace platform
