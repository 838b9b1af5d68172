#pragma once

#include <cerrno>
#include <optional>
#include <string>

namespace platform {

// A name for a new item beside `name`: hidden, "." + name + "." + twelve
// random hexadecimal digits, so unlikely to be taken that a few attempts
// always find a free one. Nothing when no randomness could be had.
std::optional<std::string> temporaryName(const std::string& name);

// How often a taken temporary name is drawn again before giving up.
inline constexpr int kTemporaryNameAttempts = 16;

// Offers temporary names beside `name` to `take`, which makes an item of
// that name and answers false, errno EEXIST, when the name is taken, until
// one is taken or another failure ends it: the name taken, or nothing with
// errno set.
template <typename Take>
std::optional<std::string> takeTemporaryName(const std::string& name, Take take) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::optional<std::string> candidate = temporaryName(name);
    if (!candidate) return std::nullopt;
    if (take(*candidate)) return candidate;
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace platform
