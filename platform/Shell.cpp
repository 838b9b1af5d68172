#include "platform/Shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

#include "platform/CallerOutput.h"
#include "platform/ProcessState.h"
#include "platform/RetryOnInterrupt.h"
#include "platform/ScopedFd.h"
#include "platform/SpawnDescriptors.h"
#include "platform/Watchdog.h"

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

// The command's standard descriptors: input from /dev/null, output and
// error into pipes that the tool reads. The caller's own descriptors never
// reach a root command, which could otherwise wait on them for ever.
struct CommandDescriptors {
  ScopedFd input;
  ScopedFd outputRead, outputWrite;
  ScopedFd errorRead, errorWrite;
};

bool openPipe(ScopedFd& read, ScopedFd& write) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  read.reset(ends[0]);
  write.reset(ends[1]);
  return fcntl(ends[0], F_SETFD, FD_CLOEXEC) == 0 && fcntl(ends[1], F_SETFD, FD_CLOEXEC) == 0;
}

bool openCommandDescriptors(CommandDescriptors& descriptors) {
  descriptors.input.reset(retryOnInterrupt([] { return open("/dev/null", O_RDONLY | O_CLOEXEC); }));
  return descriptors.input.valid() && openPipe(descriptors.outputRead, descriptors.outputWrite) &&
         openPipe(descriptors.errorRead, descriptors.errorWrite);
}

// A line longer than this is handed on in pieces.
constexpr std::size_t kLongestLine = 64 * 1024;

// What the command wrote to one of its pipes, passed on to the caller's
// stream of the same kind a whole line at a time.
struct ForwardedStream {
  ScopedFd* pipe;
  CallerStream stream;
  std::string pending;

  void take(std::string_view bytes) {
    pending.append(bytes);
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos || pending.size() >= kLongestLine) {
      const std::size_t length = end == std::string::npos ? pending.size() : end + 1;
      writeToCaller(stream, std::string_view(pending).substr(0, length));
      pending.erase(0, length);
    }
  }
  void finish() {
    if (!pending.empty()) writeToCaller(stream, pending);
    pending.clear();
    pipe->reset();
  }
};

// Reads both pipes until the command has closed them. The command never
// waits on the caller: what the caller does not take is dropped by the
// bounded writers, never left in the pipe.
void forwardCommandOutput(CommandDescriptors& descriptors) {
  std::array<ForwardedStream, 2> streams{{{&descriptors.outputRead, CallerStream::kOutput, {}},
                                          {&descriptors.errorRead, CallerStream::kError, {}}}};
  std::array<char, 16384> buffer;
  while (descriptors.outputRead.valid() || descriptors.errorRead.valid()) {
    std::array<struct pollfd, 2> ready{};
    for (std::size_t i = 0; i < streams.size(); ++i) ready[i] = {streams[i].pipe->get(), POLLIN, 0};
    if (poll(ready.data(), ready.size(), -1) < 0) {
      if (errno == EINTR) continue;
      for (ForwardedStream& stream : streams) stream.finish();
      return;
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
      if (ready[i].revents == 0) continue;  // also a pipe already closed
      const ssize_t count = retryOnInterrupt([&] { return ::read(ready[i].fd, buffer.data(), buffer.size()); });
      if (count <= 0) {
        streams[i].finish();
      } else {
        streams[i].take(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
      }
    }
  }
}

// What the child starts with: standard input, output and error from
// `descriptors`, no other descriptor whatever the caller of this
// set-user-ID tool left open, every signal at its default (but the caller
// signals in `keepIgnored`) and none blocked, and a process group of its own.
class ChildStart {
 public:
  ChildStart() {
    _attributesMade = posix_spawnattr_init(&_attributes) == 0;
    _actionsMade = posix_spawn_file_actions_init(&_actions) == 0;
  }
  ~ChildStart() {
    if (_actionsMade) posix_spawn_file_actions_destroy(&_actions);
    if (_attributesMade) posix_spawnattr_destroy(&_attributes);
  }
  ChildStart(const ChildStart&) = delete;
  ChildStart& operator=(const ChildStart&) = delete;

  bool prepare(const sigset_t& keepIgnored, const CommandDescriptors& descriptors) {
    sigset_t defaults;
    sigfillset(&defaults);
    for (int number : {SIGKILL, SIGSTOP}) sigdelset(&defaults, number);
    for (int number : kCallerSignals) {
      if (sigismember(&keepIgnored, number) == 1) sigdelset(&defaults, number);
    }
    sigset_t none;
    sigemptyset(&none);
    const short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP;
    return _attributesMade && _actionsMade && posix_spawnattr_setflags(&_attributes, flags) == 0 &&
           posix_spawnattr_setsigdefault(&_attributes, &defaults) == 0 &&
           posix_spawnattr_setsigmask(&_attributes, &none) == 0 && posix_spawnattr_setpgroup(&_attributes, 0) == 0 &&
           posix_spawn_file_actions_adddup2(&_actions, descriptors.input.get(), STDIN_FILENO) == 0 &&
           posix_spawn_file_actions_adddup2(&_actions, descriptors.outputWrite.get(), STDOUT_FILENO) == 0 &&
           posix_spawn_file_actions_adddup2(&_actions, descriptors.errorWrite.get(), STDERR_FILENO) == 0 &&
           inheritOnlyStandardDescriptors(_attributes, _actions);
  }

  const posix_spawnattr_t& attributes() const { return _attributes; }
  const posix_spawn_file_actions_t& actions() const { return _actions; }

 private:
  posix_spawnattr_t _attributes{};
  posix_spawn_file_actions_t _actions{};
  bool _attributesMade = false;
  bool _actionsMade = false;
};

}  // namespace

int runShellCommand(const std::string& commandLine) {
  std::string name = "sh", flag = "-c", command = commandLine, path = kShellPath;
  char* arguments[] = {name.data(), flag.data(), command.data(), nullptr};
  char* environment[] = {path.data(), nullptr};
  const sigset_t keepIgnored = ignoredCallerSignals();
  CommandDescriptors descriptors;
  if (!openCommandDescriptors(descriptors)) return -1;
  ChildStart start;
  if (!start.prepare(keepIgnored, descriptors)) return -1;
  WaitingSignals waiting;
  const pid_t child = spawnWatchedChild(kShell, start.actions(), start.attributes(), arguments, environment);
  if (child < 0) return -1;
  descriptors.outputWrite.reset();
  descriptors.errorWrite.reset();
  forwardCommandOutput(descriptors);
  return reapWatchedChild(child);
}

}  // namespace platform
