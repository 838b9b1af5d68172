#include "platform/Accounts.h"

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Larger entries than this are not believed.
constexpr std::size_t kMaxEntrySize = 1 << 20;

// Runs one reentrant database call (getpwuid_r and its kin, which all take
// a key, an entry, a buffer and a result) with a buffer that grows while the
// entry does not fit, and hands the entry found to `take` while the buffer
// it points into is still alive.
template <typename Key, typename Entry, typename Take>
auto lookUp(int (*call)(Key, Entry*, char*, std::size_t, Entry**), Key key, Take take)
    -> std::optional<decltype(take(std::declval<const Entry&>()))> {
  std::vector<char> buffer(1024);
  for (;;) {
    Entry entry{};
    Entry* found = nullptr;
    int result = call(key, &entry, buffer.data(), buffer.size(), &found);
    if (result == ERANGE && buffer.size() < kMaxEntrySize) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (result != 0 || found == nullptr) return std::nullopt;
    return take(*found);
  }
}

// Text fields are copied out while the buffer they point into is alive; an
// empty or missing one counts as absent.
std::string copied(const char* field) { return field == nullptr ? std::string() : std::string(field); }
std::optional<std::string> nonEmpty(std::optional<std::string> field) {
  if (!field || field->empty()) return std::nullopt;
  return field;
}

// A name with a NUL byte would be looked up cut short: another name.
bool hasNul(const std::string& name) { return name.find('\0') != std::string::npos; }

std::string userNameField(const passwd& entry) { return copied(entry.pw_name); }
std::string homeField(const passwd& entry) { return copied(entry.pw_dir); }
uid_t uidField(const passwd& entry) { return entry.pw_uid; }
std::string groupNameField(const group& entry) { return copied(entry.gr_name); }
gid_t gidField(const group& entry) { return entry.gr_gid; }

}  // namespace

std::optional<std::string> userName(uid_t uid) { return nonEmpty(lookUp(getpwuid_r, uid, userNameField)); }

std::optional<uid_t> userID(const std::string& name) {
  if (hasNul(name)) return std::nullopt;
  return lookUp(getpwnam_r, name.c_str(), uidField);
}

std::optional<std::string> homeDirectory(uid_t uid) { return nonEmpty(lookUp(getpwuid_r, uid, homeField)); }

std::optional<std::string> homeDirectory(const std::string& userName) {
  if (hasNul(userName)) return std::nullopt;
  return nonEmpty(lookUp(getpwnam_r, userName.c_str(), homeField));
}

std::optional<std::string> groupName(gid_t gid) {
  if (gid == 0) return kWheelGroupName;
  return nonEmpty(lookUp(getgrgid_r, gid, groupNameField));
}

std::optional<gid_t> groupID(const std::string& name) {
  if (name == kWheelGroupName) return 0;
  if (hasNul(name)) return std::nullopt;
  return lookUp(getgrnam_r, name.c_str(), gidField);
}

}  // namespace platform
