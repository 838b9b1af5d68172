#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ScopedFd.h"

namespace platform {

// Repeats a system call for as long as a signal interrupts it (-1 with
// EINTR) and returns the first other result, errno intact.
template <typename Call>
auto retryOnInterrupt(Call call) -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

// Writes every byte, going on after short writes. False with errno set when
// the descriptor takes no more (a full disk, a file-size limit, a closed
// pipe).
bool writeAll(int fd, std::string_view bytes);

// More symbolic links than this on one path is a loop.
inline constexpr int kMaximumSymbolicLinks = 40;

// The target of the symbolic link at the path, or nothing when it is not
// one or cannot be read whole.
std::optional<std::string> symbolicLinkTarget(const std::string& path);

// Reads from the descriptor up to end of file, or up to `limit` bytes when
// the file is longer. Nothing with errno set on a read error: a part of the
// contents is never handed back.
std::optional<std::string> readAll(int fd, std::size_t limit = static_cast<std::size_t>(-1));

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

}  // namespace platform
