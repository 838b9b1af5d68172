#include "platform/Error.h"

#include <array>
#include <cstring>
#include <utility>

namespace platform {

namespace {

// strerror_r comes in two shapes: the GNU one answers a pointer to the text,
// the XSI one fills the buffer and answers 0. Either call lands in one of
// these.
[[maybe_unused]] const char* messageOf(const char* result, const char*) { return result; }
[[maybe_unused]] const char* messageOf(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}

std::string posixMessage(int errnum) {
  std::array<char, 256> buffer{};
  const char* message = messageOf(strerror_r(errnum, buffer.data(), buffer.size()), buffer.data());
  if (message != nullptr && *message != '\0') return message;
  std::string unknown = "Unknown error ";
  unknown += std::to_string(errnum);
  return unknown;
}

}  // namespace

Error::Error(std::string domain, std::int64_t code, std::string reason)
    : _domain(std::move(domain)), _code(code), _reason(std::move(reason)) {}

Error Error::posix(int errnum) { return Error(kPOSIXErrorDomain, errnum, posixMessage(errnum)); }

std::string Error::description() const {
  std::string text = "Error Domain=";
  text.append(_domain).append(" Code=").append(std::to_string(_code));
  text.append(" \"").append(_reason).append("\"");
  return text;
}

}  // namespace platform
