#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";

// An error object of the file layer: a domain, a code and a readable reason.
// Inserted into a message it prints its full description, for example
//   Error Domain=NSPOSIXErrorDomain Code=2 "No such file or directory"
class Error {
 public:
  Error(std::string domain, std::int64_t code, std::string reason);

  // The POSIX domain with errno as the code and strerror's text as reason.
  static Error posix(int errnum);

  const std::string& domain() const noexcept { return _domain; }
  std::int64_t code() const noexcept { return _code; }
  const std::string& reason() const noexcept { return _reason; }
  std::string description() const;

 private:
  std::string _domain;
  std::int64_t _code;
  std::string _reason;
};

}  // namespace platform
