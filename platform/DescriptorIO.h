#pragma once

// Whole reads and writes on an open descriptor.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Writes every byte, going on after short writes. False with errno set when
// the descriptor takes no more (a full disk, a file-size limit, a closed
// pipe).
bool writeAll(int fd, std::string_view bytes);

// Reads from the descriptor up to end of file, or up to `limit` bytes when
// the file is longer. Nothing with errno set on a read error: a part of the
// contents is never handed back.
std::optional<std::string> readAll(int fd, std::size_t limit = static_cast<std::size_t>(-1));

}  // namespace platform
