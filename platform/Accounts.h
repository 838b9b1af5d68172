#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform {

// Group id 0 is called "wheel" and "wheel" means group id 0, whatever the
// group database says: Linux has no such group, and what is set by name must
// be what is checked by number.
inline constexpr const char* kWheelGroupName = "wheel";

// Look-ups in the user and group databases; nothing when there is no entry.
std::optional<std::string> userName(uid_t uid);
std::optional<uid_t> userID(const std::string& name);
std::optional<std::string> homeDirectory(uid_t uid);
std::optional<std::string> homeDirectory(const std::string& userName);
std::optional<std::string> groupName(gid_t gid);
std::optional<gid_t> groupID(const std::string& name);

}  // namespace platform
