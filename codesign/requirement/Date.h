#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace codesign::requirement {

// Seconds since 1970-01-01 00:00:00 UTC of a GeneralizedTime written as
// YYYYMMDDHHMMSSZ (the form requirement texts use), or nothing.
std::optional<std::int64_t> parseGeneralizedTime(std::string_view text);

// The GeneralizedTime YYYYMMDDHHMMSSZ of seconds since 1970, or nothing for
// a time outside the years 0 to 9999 (which no text could have written).
std::optional<std::string> formatGeneralizedTime(std::int64_t seconds);

// Seconds since 1970-01-01 00:00:00 UTC of a property-list date written as
// YYYY-MM-DDTHH:MM:SSZ, or nothing.
std::optional<std::int64_t> parsePropertyListDate(std::string_view text);

}  // namespace codesign::requirement
