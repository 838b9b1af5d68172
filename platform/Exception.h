#pragma once

#include <exception>
#include <string>

namespace platform {

// The one failure type of the tool: a name and a reason, like the platform
// exception of the tool's home system. Only the entry point catches it.
class Exception : public std::exception {
 public:
  Exception(std::string name, std::string reason);

  const std::string& name() const noexcept { return _name; }
  const std::string& reason() const noexcept { return _reason; }
  const char* what() const noexcept override { return _reason.c_str(); }

 private:
  std::string _name;
  std::string _reason;
};

// The name under which the platform reports a read past the end of a list.
inline constexpr const char* kRangeException = "NSRangeException";

[[noreturn]] void raise(std::string name, std::string reason);

}  // namespace platform
