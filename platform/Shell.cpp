#include "platform/Shell.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ProcessState.h"
#include "platform/RetryOnInterrupt.h"

namespace platform {

namespace {

constexpr const char* kShell = "/bin/sh";
constexpr const char* kShellPath = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";

// While a command runs, the tool ignores SIGINT and SIGQUIT (the command
// alone answers a keyboard interrupt) and keeps SIGCHLD blocked; all three
// are restored when the command has ended.
class WaitingSignals {
 public:
  WaitingSignals() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &_interrupt);
    sigaction(SIGQUIT, &ignore, &_quit);
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &child, &_mask);
  }
  ~WaitingSignals() {
    sigaction(SIGINT, &_interrupt, nullptr);
    sigaction(SIGQUIT, &_quit, nullptr);
    pthread_sigmask(SIG_SETMASK, &_mask, nullptr);
  }
  WaitingSignals(const WaitingSignals&) = delete;
  WaitingSignals& operator=(const WaitingSignals&) = delete;

 private:
  struct sigaction _interrupt {};
  struct sigaction _quit {};
  sigset_t _mask{};
};

// The caller signals the tool ignores: a command of a root run is no more
// the caller's to interrupt than the run itself.
sigset_t ignoredCallerSignals() {
  sigset_t ignored;
  sigemptyset(&ignored);
  for (int number : kCallerSignals) {
    struct sigaction action {};
    if (sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) sigaddset(&ignored, number);
  }
  return ignored;
}

// In the child: every signal back at its default (but the caller signals in
// `keepIgnored`) and none blocked, no descriptor but the standard three,
// whatever the caller of this set-user-ID tool left behind; then the shell.
// Only async-signal-safe calls here.
[[noreturn]] void execShell(char* const arguments[], char* const environment[], const sigset_t& keepIgnored) {
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  struct sigaction ignore = defaults;
  ignore.sa_handler = SIG_IGN;
  for (int number = 1; number < NSIG; ++number) {
    sigaction(number, sigismember(&keepIgnored, number) == 1 ? &ignore : &defaults, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &none, nullptr);
  if (close_range(STDERR_FILENO + 1, ~0U, 0) == 0) execve(kShell, arguments, environment);
  _exit(127);
}

}  // namespace

int runShellCommand(const std::string& commandLine) {
  std::string name = "sh", flag = "-c", command = commandLine, path = kShellPath;
  char* arguments[] = {name.data(), flag.data(), command.data(), nullptr};
  char* environment[] = {path.data(), nullptr};
  const sigset_t keepIgnored = ignoredCallerSignals();
  WaitingSignals waiting;
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) execShell(arguments, environment, keepIgnored);
  int status = 0;
  if (retryOnInterrupt([&] { return waitpid(child, &status, 0); }) != child) return -1;
  return status;
}

}  // namespace platform
