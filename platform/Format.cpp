#include "platform/Format.h"

namespace platform {

namespace {

std::string octal(std::uint64_t value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + (value & 7)));
    value >>= 3;
  } while (value != 0);
  return digits;
}

// Inserts what the directive after a percent sign stands for, taking the
// next argument when it needs one. An unknown directive stays as written and
// takes none; a directive with no argument left inserts nothing.
void appendDirective(std::string& out, char directive, const FormatArgument*& next,
                     const FormatArgument* end) {
  if (directive == '%') {
    out += '%';
    return;
  }
  if (directive != '@' && directive != 's' && directive != 'd' && directive != 'o') {
    out += '%';
    out += directive;
    return;
  }
  if (next == end) return;
  const FormatArgument& argument = *next++;
  if (directive == 'd') {
    out += std::to_string(argument.signedValue());
  } else if (directive == 'o') {
    out += octal(argument.unsignedValue());
  } else {
    out += argument.description();
  }
}

}  // namespace

FormatArgument::FormatArgument(const char* text) {
  if (text != nullptr) _value = std::string(text);
}
FormatArgument::FormatArgument(std::string_view text) : _value(std::string(text)) {}
FormatArgument::FormatArgument(const std::string& text) : _value(text) {}
FormatArgument::FormatArgument(const std::optional<std::string>& text) {
  if (text) _value = *text;
}
FormatArgument::FormatArgument(const Error& error) : _value(error.description()) {}
FormatArgument::FormatArgument(const std::optional<Error>& error) {
  if (error) _value = error->description();
}

std::string FormatArgument::description() const {
  if (const auto* text = std::get_if<std::string>(&_value)) return *text;
  if (const auto* number = std::get_if<std::int64_t>(&_value)) return std::to_string(*number);
  if (const auto* number = std::get_if<std::uint64_t>(&_value)) return std::to_string(*number);
  return "(null)";
}

std::int64_t FormatArgument::signedValue() const {
  if (const auto* number = std::get_if<std::int64_t>(&_value)) return *number;
  if (const auto* number = std::get_if<std::uint64_t>(&_value)) return static_cast<std::int64_t>(*number);
  return 0;
}

std::uint64_t FormatArgument::unsignedValue() const {
  if (const auto* number = std::get_if<std::uint64_t>(&_value)) return *number;
  if (const auto* number = std::get_if<std::int64_t>(&_value)) return static_cast<std::uint64_t>(*number);
  return 0;
}

std::string formatString(std::string_view format, std::initializer_list<FormatArgument> arguments) {
  std::string out;
  out.reserve(format.size());
  const FormatArgument* next = arguments.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
    } else if (i + 1 == format.size()) {
      out += '%';  // a lone percent sign at the end stays
    } else {
      appendDirective(out, format[++i], next, arguments.end());
    }
  }
  return out;
}

}  // namespace platform
