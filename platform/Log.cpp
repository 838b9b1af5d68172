#include "platform/Log.h"

#include <time.h>
#include <unistd.h>

#include <array>

#include "platform/CallerOutput.h"
#include "platform/LogIdentity.h"

namespace platform {

namespace {

// "2026-12-05 18:39:15.123" in local time.
std::string timestamp() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  std::array<char, 32> date{};
  std::size_t length = strftime(date.data(), date.size(), "%Y-%m-%d %H:%M:%S", &local);
  long millis = now.tv_nsec / 1000000;  // 0 to 999, written with three digits
  return std::string(date.data(), length) + "." + std::to_string(1000 + millis).substr(1);
}

}  // namespace

void logLine(std::string_view message) {
  std::string line = timestamp();
  line += ' ';
  line += programShortName();
  line += '[' + std::to_string(getpid()) + ':' + std::to_string(threadNumber()) + "] ";
  line += message;
  if (line.back() != '\n') line += '\n';
  // One piece for the whole line, so that lines of concurrent writers do
  // not interleave; a failure to log is not a failure of the caller.
  writeToCaller(CallerStream::kError, line);
}

}  // namespace platform
