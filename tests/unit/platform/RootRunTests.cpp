// What keeps a root run out of its caller's hands: output that never waits
// on the caller's descriptors, root's own limits, and the watchdog.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include "common/TestSupport.h"
#include "platform/CallerOutput.h"
#include "platform/ResourceLimits.h"
#include "platform/Shell.h"
#include "platform/Watchdog.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Pipe {
  Pipe() { EXPECT_EQ(pipe(ends), 0); }
  ~Pipe() { close(ends[0]), close(ends[1]); }
  int ends[2];
};

// Fills the pipe to the last byte; answers how many bytes that took.
std::size_t fill(int writeEnd) {
  const int flags = fcntl(writeEnd, F_GETFL);
  fcntl(writeEnd, F_SETFL, flags | O_NONBLOCK);
  const std::string block(4096, '.');
  std::size_t filled = 0;
  for (ssize_t n; (n = write(writeEnd, block.data(), block.size())) > 0 || (n < 0 && errno == EINTR);) filled += n > 0 ? n : 0;
  for (ssize_t n; (n = write(writeEnd, block.data(), 1)) > 0;) filled += 1;
  fcntl(writeEnd, F_SETFL, flags);
  return filled;
}

// What the pipe yields within the time given.
std::string readFor(int readEnd, std::chrono::milliseconds time) {
  std::string seen;
  char buffer[65536];
  const auto end = Clock::now() + time;
  struct pollfd ready {readEnd, POLLIN, 0};
  while (poll(&ready, 1, static_cast<int>(std::max(0L, static_cast<long>((end - Clock::now()) / 1ms)))) > 0) {
    const ssize_t n = read(readEnd, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  return seen;
}

TEST(BoundedWriter, AFullPipeHoldsNeitherThePosterNorTheDrainPastItsDeadline) {
  Pipe pipe;
  const std::size_t filled = fill(pipe.ends[1]);
  BoundedWriter writer(pipe.ends[1], 200ms);
  ASSERT_TRUE(writer.threaded());
  const auto start = Clock::now();
  writer.post("first line\n");
  writer.post("second line\n");
  EXPECT_LT(Clock::now() - start, 50ms) << "posting waited for the descriptor";
  EXPECT_FALSE(writer.drain(start + 300ms));
  EXPECT_LT(Clock::now() - start, 1s);
  writer.post("posted after the deadline\n");

  // The reader comes back: the line the writer held goes out whole; what
  // waited behind it, and what came later, was dropped.
  const std::string seen = readFor(pipe.ends[0], 500ms);
  ASSERT_EQ(seen.size(), filled + 11) << seen.substr(filled);
  EXPECT_EQ(seen.substr(filled), "first line\n");
}

TEST(BoundedWriter, AReaderThatKeepsUpGetsEverythingInOrderButWhatOverflowsTheQueue) {
  Pipe pipe;
  BoundedWriter writer(pipe.ends[1], 200ms);
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    expected += "line " + std::to_string(i) + "\n";
    writer.post("line " + std::to_string(i) + "\n");
    if (i == 1000) writer.post(std::string(BoundedWriter::kQueueLimit + 1, 'x'));
  }
  std::string seen;
  while (seen.size() < expected.size()) {
    const std::string more = readFor(pipe.ends[0], 1s);
    if (more.empty()) break;
    seen += more;
  }
  EXPECT_TRUE(writer.drain(Clock::now() + 1s));
  EXPECT_EQ(seen, expected);
}

// As a user with no process to spare, no thread can be started: the writer
// then writes in place, waiting on a full pipe no more than its budget in
// all, and drops everything once that is spent.
TEST(BoundedWriter, WithoutAThreadItWaitsOnTheDescriptorAtMostItsBudget) {
  if (!testing_support::runningAsRoot()) GTEST_SKIP() << "becoming another user needs root";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto withoutThreads = [] {
    Pipe roomy, full;
    fill(full.ends[1]);
    const struct rlimit none {0, 0};
    if (setgid(65534) != 0 || setuid(65534) != 0 || setrlimit(RLIMIT_NPROC, &none) != 0) std::_Exit(2);
    BoundedWriter spacious(roomy.ends[1], 300ms), stuck(full.ends[1], 300ms);
    if (spacious.threaded() || stuck.threaded()) std::_Exit(3);
    spacious.post("a whole line\n");
    const auto start = Clock::now();
    stuck.post("waits for the budget\n");
    stuck.post("dropped at once\n");
    const auto waited = Clock::now() - start;
    const bool inBudget = waited >= 250ms && waited < 1s;
    std::_Exit(inBudget && !stuck.drain(Clock::now()) && readFor(roomy.ends[0], 100ms) == "a whole line\n" ? 0 : 1);
  };
  EXPECT_EXIT(withoutThreads(), testing::ExitedWithCode(0), "");
}

// Runs `command` with the test's own standard input, output and error
// replaced: input a pipe holding a line of the caller's, output and error
// files; answers the status and what reached the two files.
struct Redirected {
  int status;
  std::string output, error;
};

Redirected runRedirected(const std::string& command) {
  testing_support::TemporaryDirectory directory;
  Pipe input;
  EXPECT_EQ(write(input.ends[1], "the caller's input\n", 19), 19);
  close(input.ends[1]);
  input.ends[1] = -1;
  const int saved[3] = {dup(0), dup(1), dup(2)};
  const int output = open(directory.path("out").c_str(), O_WRONLY | O_CREAT, 0600);
  const int error = open(directory.path("err").c_str(), O_WRONLY | O_CREAT, 0600);
  dup2(input.ends[0], 0), dup2(output, 1), dup2(error, 2);
  const int status = runShellCommand(command);
  for (int fd = 0; fd < 3; ++fd) dup2(saved[fd], fd), close(saved[fd]);
  close(output), close(error);
  return {status, testing_support::readFile(directory.path("out")), testing_support::readFile(directory.path("err"))};
}

TEST(Shell, TheCommandReadsDevNullAndItsOutputIsHandedOnWholeToTheCallersStreams) {
  std::string numbers;
  for (int i = 1; i <= 30000; ++i) numbers += std::to_string(i) + "\n";  // more than a pipe holds
  const Redirected run = runRedirected("cat; seq 1 30000; readlink /proc/self/fd/0 >&2; exit 4");
  EXPECT_EQ(run.status, 4 << 8);
  EXPECT_EQ(run.output, numbers);
  EXPECT_EQ(run.error, "/dev/null\n");
}

TEST(ResourceLimits, RootsOwnValuesReplaceWhatTheCallerLowered) {
  if (!testing_support::runningAsRoot()) GTEST_SKIP() << "setting hard limits needs root";
  struct rlimit files {}, size {};
  getrlimit(RLIMIT_NOFILE, &files);
  getrlimit(RLIMIT_FSIZE, &size);
  files.rlim_cur = 4;
  size.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &size), 0);
  EXPECT_TRUE(setRootResourceLimits());
  struct rlimit core {}, stack {};
  getrlimit(RLIMIT_NOFILE, &files), getrlimit(RLIMIT_FSIZE, &size);
  getrlimit(RLIMIT_CORE, &core), getrlimit(RLIMIT_STACK, &stack);
  EXPECT_EQ(files.rlim_cur, 1024u);
  EXPECT_EQ(size.rlim_cur, RLIM_INFINITY);
  EXPECT_EQ(core.rlim_cur, 0u);
  EXPECT_EQ(stack.rlim_cur, 8u << 20);
}

// A lowered hard limit: raised where the system lets root raise it, else
// the run is told that it cannot have what it needs.
TEST(ResourceLimits, AHardLimitBelowTheRunsNeedIsRaisedOrReported) {
  if (!testing_support::runningAsRoot()) GTEST_SKIP() << "setting hard limits needs root";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto lowerThenReset = [] {
    const struct rlimit low {16, 16}, probe {16, 17};
    setrlimit(RLIMIT_NOFILE, &low);
    const bool mayRaise = setrlimit(RLIMIT_NOFILE, &probe) == 0;
    const bool set = setRootResourceLimits();
    struct rlimit files {};
    getrlimit(RLIMIT_NOFILE, &files);
    std::_Exit(set == mayRaise && files.rlim_cur == (mayRaise ? 1024u : 16u) ? 0 : 1);
  };
  EXPECT_EXIT(lowerThenReset(), testing::ExitedWithCode(0), "");
}

// Where the run in the death test's process, a child of the test's, leaves
// the command's process id.
std::string commandPidFile(pid_t test) { return "/tmp/helper-watchdog-test-" + std::to_string(test); }

// The watchdog ends a run stuck in a command, and the command with it.
TEST(Watchdog, EndsARunStuckInACommandAndTheCommandWithIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string pidFile = commandPidFile(getpid());
  auto stuckRun = [] {
    setTimeUpHandler([](std::chrono::seconds limit) {
      std::fprintf(stderr, "time up after %lds\n", static_cast<long>(limit.count()));
      std::_Exit(3);
    });
    if (!startWatchdog(1s)) std::_Exit(1);
    runShellCommand("echo $$ > " + commandPidFile(getppid()) + "; exec sleep 30");
    std::_Exit(0);
  };
  const auto start = Clock::now();
  EXPECT_EXIT(stuckRun(), testing::ExitedWithCode(3), "time up after 1s");
  EXPECT_LT(Clock::now() - start, 10s);
  const std::string pid = testing_support::readFile(pidFile);
  unlink(pidFile.c_str());
  ASSERT_FALSE(pid.empty());
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i, usleep(20000)) {
    const std::string state = testing_support::readFile("/proc/" + pid.substr(0, pid.size() - 1) + "/stat");
    gone = state.empty() || state.find(") Z ") != std::string::npos;
  }
  EXPECT_TRUE(gone) << "the command outlived the run";
}

}  // namespace
}  // namespace platform
