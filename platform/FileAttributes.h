#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

inline constexpr const char* NSFileTypeDirectory = "NSFileTypeDirectory";
inline constexpr const char* NSFileTypeRegular = "NSFileTypeRegular";
inline constexpr const char* NSFileTypeSymbolicLink = "NSFileTypeSymbolicLink";
inline constexpr const char* NSFileTypeUnknown = "NSFileTypeUnknown";

// The attributes of one item that the tool reads or sets, and nothing else.
// Read from the file system, every field is filled, except a name that the
// user or group database does not hold for the id; as a change to apply, only
// the fields to change are.
struct FileAttributes {
  std::optional<std::string> type;
  std::optional<std::int32_t> ownerAccountID;
  std::optional<std::string> ownerAccountName;
  std::optional<std::int32_t> groupOwnerAccountID;
  std::optional<std::string> groupOwnerAccountName;
  std::optional<std::uint64_t> posixPermissions;  // set-user-ID, set-group-ID and sticky included

  bool empty() const {
    return !type && !ownerAccountID && !ownerAccountName && !groupOwnerAccountID &&
           !groupOwnerAccountName && !posixPermissions;
  }
};

}  // namespace platform
