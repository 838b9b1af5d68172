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
// acting between a fork and its record, or between a child's end and its
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

pid_t forkWatchedChild() {
  std::unique_lock lock(watched().mutex);
  const pid_t child = fork();
  if (child == 0) {
    (void)lock.release();  // the child's copy of the lock is never used again
    setpgid(0, 0);
    return 0;
  }
  if (child > 0) {
    setpgid(child, child);  // also here: the watchdog may act before the child runs
    watched().group = child;
  }
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
