#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Error.h"

namespace platform {

// One value inserted into a message format. Objects (texts and errors) are
// kept as their description; a missing object prints as "(null)".
class FormatArgument {
 public:
  FormatArgument(const char* text);
  FormatArgument(std::string_view text);
  FormatArgument(const std::string& text);
  FormatArgument(const std::optional<std::string>& text);
  FormatArgument(const Error& error);
  FormatArgument(const std::optional<Error>& error);
  template <std::signed_integral T>
  FormatArgument(T value) : _value(static_cast<std::int64_t>(value)) {}
  template <std::unsigned_integral T>
  FormatArgument(T value) : _value(static_cast<std::uint64_t>(value)) {}

  // The text that %@ and %s insert.
  std::string description() const;
  // The number that %d and %o insert; a text counts as 0.
  std::int64_t signedValue() const;
  std::uint64_t unsignedValue() const;

 private:
  std::variant<std::monostate, std::string, std::int64_t, std::uint64_t> _value;
};

// Renders a message format: %@ (an object's description), %s (a text),
// %d (signed decimal), %o (octal, no leading zero) and %% (a percent sign).
// Inserted texts are never read as formats again. A directive without an
// argument left inserts nothing; any other character after % stays as it is.
std::string formatString(std::string_view format, std::initializer_list<FormatArgument> arguments);

template <typename... Args>
std::string format(std::string_view fmt, const Args&... args) {
  return formatString(fmt, {FormatArgument(args)...});
}

}  // namespace platform
