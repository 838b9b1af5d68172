#include "platform/Accounts.h"

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <vector>

namespace platform {

namespace {

// Larger entries than this are not believed.
constexpr std::size_t kMaxEntrySize = 1 << 20;

// Runs one reentrant database call (getpwuid_r and its kin) with a buffer
// that grows while the entry does not fit, and hands the entry found to
// `take` while the buffer it points into is still alive.
template <typename Entry, typename Call, typename Take>
auto lookUp(Call call, Take take) -> std::optional<decltype(take(std::declval<const Entry&>()))> {
  std::vector<char> buffer(1024);
  for (;;) {
    Entry entry{};
    Entry* found = nullptr;
    int result = call(&entry, buffer.data(), buffer.size(), &found);
    if (result == ERANGE && buffer.size() < kMaxEntrySize) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (result != 0 || found == nullptr) return std::nullopt;
    return take(*found);
  }
}

template <typename Take>
auto userEntry(uid_t uid, Take take) {
  return lookUp<passwd>(
      [&](passwd* e, char* b, std::size_t n, passwd** r) { return getpwuid_r(uid, e, b, n, r); }, take);
}

template <typename Take>
auto userEntry(const std::string& name, Take take) {
  return lookUp<passwd>(
      [&](passwd* e, char* b, std::size_t n, passwd** r) { return getpwnam_r(name.c_str(), e, b, n, r); }, take);
}

template <typename Take>
auto groupEntry(gid_t gid, Take take) {
  return lookUp<group>(
      [&](group* e, char* b, std::size_t n, group** r) { return getgrgid_r(gid, e, b, n, r); }, take);
}

template <typename Take>
auto groupEntry(const std::string& name, Take take) {
  return lookUp<group>(
      [&](group* e, char* b, std::size_t n, group** r) { return getgrnam_r(name.c_str(), e, b, n, r); }, take);
}

// Text fields are copied out while the buffer they point into is alive; an
// empty or missing one counts as absent.
std::string copied(const char* field) { return field == nullptr ? std::string() : std::string(field); }
std::optional<std::string> nonEmpty(std::optional<std::string> field) {
  if (!field || field->empty()) return std::nullopt;
  return field;
}

std::string userNameField(const passwd& entry) { return copied(entry.pw_name); }
std::string homeField(const passwd& entry) { return copied(entry.pw_dir); }
uid_t uidField(const passwd& entry) { return entry.pw_uid; }
std::string groupNameField(const group& entry) { return copied(entry.gr_name); }
gid_t gidField(const group& entry) { return entry.gr_gid; }

}  // namespace

std::optional<std::string> userName(uid_t uid) { return nonEmpty(userEntry(uid, userNameField)); }

std::optional<uid_t> userID(const std::string& name) { return userEntry(name, uidField); }

std::optional<std::string> homeDirectory(uid_t uid) { return nonEmpty(userEntry(uid, homeField)); }

std::optional<std::string> homeDirectory(const std::string& userName) {
  return nonEmpty(userEntry(userName, homeField));
}

std::optional<std::string> groupName(gid_t gid) {
  if (gid == 0) return kWheelGroupName;
  return nonEmpty(groupEntry(gid, groupNameField));
}

std::optional<gid_t> groupID(const std::string& name) {
  if (name == kWheelGroupName) return 0;
  return groupEntry(name, gidField);
}

}  // namespace platform
