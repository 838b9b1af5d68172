#include "platform/ProcessState.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/EnvironmentClear.h"
#include "platform/RetryOnInterrupt.h"

namespace platform {
namespace {

bool standardDescriptorsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is taken: the one just found closed.
    const int opened = retryOnInterrupt([] { return open("/dev/null", O_RDWR); });
    if (opened != fd) return false;
  }
  return true;
}

void resetSignals() {
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal != SIGKILL && signal != SIGSTOP) sigaction(signal, &defaultAction, nullptr);
  }
  struct sigaction ignore = defaultAction;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, nullptr);

  const struct itimerval stopped {};
  for (int timer : {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF}) setitimer(timer, &stopped, nullptr);

  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

bool establishSafeProcessState() {
  if (!standardDescriptorsOpen()) return false;
  clearEnvironment();
  umask(022);
  resetSignals();
  return true;
}

void ignoreCallerSignals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int signal : kCallerSignals) sigaction(signal, &ignore, nullptr);
}

}  // namespace platform
