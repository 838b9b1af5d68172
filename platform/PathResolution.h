#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// More symbolic links than this on one path is a loop.
inline constexpr int kMaximumSymbolicLinks = 40;

// The target of the symbolic link at the path, or nothing when it is not
// one or cannot be read whole.
std::optional<std::string> symbolicLinkTarget(const std::string& path);

// Walks a path as the kernel resolves it, one component at a time: "." is
// skipped, ".." goes back from where links led, not from the spelling, and a
// symbolic link that the caller meets is replaced by its target. The caller
// looks at each place reached and decides whether to follow a link there.
class SymbolicLinkWalk {
 public:
  explicit SymbolicLinkWalk(std::string_view path);

  // The place reached: "/" (or "" for a relative path) before the first step.
  const std::string& current() const noexcept { return _current; }
  // True when no component is left after the current place.
  bool atEnd() const noexcept { return _pending.empty(); }
  // Moves to the next component; false when none is left.
  bool step();
  // Puts the target of the link at the current place in its stead; false,
  // with nothing changed, once more links were followed than the kernel
  // would follow.
  bool followLink(const std::string& target);

 private:
  std::deque<std::string> _pending;
  std::string _current;
  int _links = 0;
};

// Where the path really leads: every symbolic link in its ancestors replaced
// by its target and "." and ".." applied as the file system applies them. The
// last component stays as it is, since an operation on a link acts on the
// link itself.
std::string stringByResolvingSymlinksInAncestors(std::string_view path);

}  // namespace platform
