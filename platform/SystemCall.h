#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

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

// Reads from the descriptor up to end of file. Nothing with errno set on a
// read error: a part of the contents is never handed back.
std::optional<std::string> readAll(int fd);

}  // namespace platform
