#pragma once

#include <string>
#include <string_view>

#include "platform/Format.h"

namespace platform {

// Writes one diagnostic line to standard error in the platform's log style:
//   2026-12-05 18:39:15.123 helper[1234:5678] message
void logLine(std::string_view message);

template <typename... Args>
void NSLog(std::string_view fmt, const Args&... args) {
  logLine(format(fmt, args...));
}

}  // namespace platform
