#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace codesign::requirement {

// Seconds since 1970-01-01 00:00:00 UTC of a GeneralizedTime written as
// YYYYMMDDHHMMSSZ (the form requirement texts use), or nothing.
std::optional<std::int64_t> parseGeneralizedTime(std::string_view text);

// Seconds since 1970-01-01 00:00:00 UTC of a property-list date written as
// YYYY-MM-DDTHH:MM:SSZ, or nothing.
std::optional<std::int64_t> parsePropertyListDate(std::string_view text);

}  // namespace codesign::requirement
