#pragma once

#include <string>
#include <string_view>

namespace platform {

// Path-string operations with the platform's rules.

// "~" and "~/x" become the real user's home directory (from the user
// database, never from the environment); "~name" that user's. Anything else,
// or an unknown user, is returned unchanged.
std::string stringByExpandingTildeInPath(std::string_view path);
// Joins with exactly one slash: ("/tmp", "x") and ("/tmp/", "x") give "/tmp/x".
std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);
// Adds ".extension" to the last component.
std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension);
// "/a/b" gives "/a", "/a" gives "/", "/" gives "/", "a" gives "".
std::string stringByDeletingLastPathComponent(std::string_view path);
// "/a/b" and "/a/b/" give "b", "/" gives "/", "" gives "".
std::string lastPathComponent(std::string_view path);

}  // namespace platform
