#include "platform/Watchdog.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/RetryOnInterrupt.h"

namespace platform {
namespace {

// The child being waited for, and the lock that keeps the watchdog from
// acting between a spawn and its record, or between a child's end and its
// reaping (a reaped child's id can be reused). Never destroyed: the
// watchdog's thread may use it while the process exits.
struct WatchedChildren {
  std::mutex mutex;
  pid_t group = 0;
};

WatchedChildren& watched() {
  static WatchedChildren* children = new WatchedChildren;
  return *children;
}

std::atomic<TimeUpHandler> gTimeUpHandler{nullptr};

void watch(std::chrono::seconds limit) {
  std::this_thread::sleep_for(limit);
  // Held until the process ends: no child may start or be reaped from now on.
  watched().mutex.lock();
  if (watched().group > 0) kill(-watched().group, SIGKILL);
  if (TimeUpHandler handler = gTimeUpHandler.load()) handler(limit);
}

}  // namespace

void setTimeUpHandler(TimeUpHandler handler) { gTimeUpHandler.store(handler); }

bool startWatchdog(std::chrono::seconds limit) {
  try {
    std::thread(watch, limit).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

pid_t spawnWatchedChild(const char* path, const posix_spawn_file_actions_t& actions,
                        const posix_spawnattr_t& attributes, char* const arguments[], char* const environment[]) {
  std::lock_guard lock(watched().mutex);
  pid_t child = -1;
  if (posix_spawn(&child, path, &actions, &attributes, arguments, environment) != 0) return -1;
  watched().group = child;  // its own group from its first instruction on
  return child;
}

int reapWatchedChild(pid_t child) {
  siginfo_t info{};
  const bool ended = retryOnInterrupt([&] { return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT); }) == 0;
  {
    std::lock_guard lock(watched().mutex);
    if (watched().group == child) watched().group = 0;
  }
  int status = 0;
  if (!ended || retryOnInterrupt([&] { return waitpid(child, &status, 0); }) != child) return -1;
  return status;
}

}  // namespace platform
