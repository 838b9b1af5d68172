#include "platform/TrustedDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <deque>

#include "platform/Path.h"
#include "platform/PathSyntax.h"
#include "platform/SystemCall.h"

namespace platform {
namespace {

bool isRootOnlyDirectory(const struct stat& status) {
  return status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::optional<std::string> firstUntrustedDirectory(std::string_view directory) {
  if (!directory.starts_with('/')) return std::string(directory);  // judged only from the root down
  std::deque<std::string> pending = pathComponents(directory);
  std::string current = "/";
  int links = 0;
  for (;;) {
    struct stat status {};
    if (lstat(current.c_str(), &status) != 0) return std::nullopt;  // made later, by the tool
    if (S_ISLNK(status.st_mode)) {
      const std::optional<std::string> target = symbolicLinkTarget(current);
      if (status.st_uid != 0 || !target || ++links > kMaximumSymbolicLinks) return current;
      std::deque<std::string> targetComponents = pathComponents(*target);
      pending.insert(pending.begin(), targetComponents.begin(), targetComponents.end());
      current = target->starts_with('/') ? "/" : stringByDeletingLastPathComponent(current);
    } else if (!S_ISDIR(status.st_mode) || !isRootOnlyDirectory(status)) {
      return current;
    }
    if (pending.empty()) return std::nullopt;
    std::string component = std::move(pending.front());
    pending.pop_front();
    if (component == "." || component.empty()) continue;
    current = component == ".." ? stringByDeletingLastPathComponent(current)
                                : stringByAppendingPathComponent(current, component);
  }
}

}  // namespace platform
