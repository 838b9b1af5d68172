#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>


#include "common/TestSupport.h"
#include "platform/Shell.h"

namespace platform {
namespace {

TEST(Shell, ReturnsTheRawWaitStatus) {
  EXPECT_EQ(runShellCommand("exit 0"), 0);
  EXPECT_EQ(runShellCommand("exit 3"), 3 << 8);
  EXPECT_EQ(runShellCommand("no-such-command-here 2>/dev/null"), 127 << 8);
  int killed = runShellCommand("kill -TERM $$");
  EXPECT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGTERM) << killed;
}

// Only a caller signal that the tool ignores (here SIGHUP, bit 0) stays
// ignored in the command.
TEST(Shell, StartsTheCommandWithDefaultSignalsAndOnlyStandardDescriptors) {
  testing_support::TemporaryDirectory directory;
  struct sigaction ignore {}, savedTerm {}, savedHup {}, afterInt {}, beforeInt {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTERM, &ignore, &savedTerm);
  sigaction(SIGHUP, &ignore, &savedHup);
  sigaction(SIGINT, nullptr, &beforeInt);
  sigset_t usr1, savedMask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &savedMask);
  int inherited = open("/dev/null", O_RDONLY);  // no close-on-exec on purpose

  // The test builtin looks at the shell's own descriptors; grep, exec'd in
  // the shell's place, reads the signal state that the shell was given.
  int descriptors = runShellCommand("test ! -e /proc/self/fd/" + std::to_string(inherited));
  std::string out = directory.path("status");
  int signals = runShellCommand("exec grep -E '^Sig(Ign|Blk)' /proc/self/status > " + out);

  close(inherited);
  pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
  sigaction(SIGTERM, &savedTerm, nullptr);
  sigaction(SIGHUP, &savedHup, nullptr);
  sigaction(SIGINT, nullptr, &afterInt);
  EXPECT_EQ(descriptors, 0) << "a descriptor of the caller reached the command";
  EXPECT_EQ(signals, 0);
  // glibc's posix_spawn leaves its two internal signals (32 and 33, which
  // no program may use through glibc) ignored in the child: not counted.
  const std::string status = testing_support::readFile(out);
  ASSERT_TRUE(status.starts_with("SigBlk:\t0000000000000000\nSigIgn:\t")) << status;
  const unsigned long long ignored = std::stoull(status.substr(status.rfind('\t') + 1), nullptr, 16);
  EXPECT_EQ(ignored & ~0x180000000ULL, 1u) << status;
  EXPECT_EQ(afterInt.sa_handler, beforeInt.sa_handler) << "SIGINT was not restored";
}

}  // namespace
}  // namespace platform
