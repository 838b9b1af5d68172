#pragma once

#include <optional>
#include <string>

namespace platform {

// A name for a new item beside `name`: hidden, "." + name + "." + twelve
// random hexadecimal digits, so unlikely to be taken that a few attempts
// always find a free one. Nothing when no randomness could be had.
std::optional<std::string> temporaryName(const std::string& name);

// How often a taken temporary name is drawn again before giving up.
inline constexpr int kTemporaryNameAttempts = 16;

}  // namespace platform
