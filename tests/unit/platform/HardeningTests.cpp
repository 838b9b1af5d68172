#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "common/TestSupport.h"
#include "platform/FileComparison.h"
#include "platform/FileManager.h"
#include "platform/RegularFile.h"
#include "platform/StagedFile.h"
#include "platform/TrustedDirectory.h"

namespace {

using testing_support::TemporaryDirectory;
using testing_support::readFile;
using testing_support::writeFile;
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// A directory that only root can change, so that what the tests put below
// it is judged on its own (/tmp itself is writable by everyone).
class RootOnlyDirectory {
 public:
  RootOnlyDirectory() {
    std::string pattern = "/run/helper-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    _path = pattern;
  }
  ~RootOnlyDirectory() { fs::remove_all(_path); }
  std::string operator/(const std::string& name) const { return _path + "/" + name; }

 private:
  std::string _path;
};

TEST(TrustedDirectory, SystemFoldersAreTrustedAndTheirMissingChildrenNotJudged) {
  EXPECT_EQ(platform::firstUntrustedDirectory("/usr/lib"), std::nullopt);
  EXPECT_EQ(platform::firstUntrustedDirectory("/usr/no-such/folder"), std::nullopt);
  EXPECT_EQ(platform::firstUntrustedDirectory("/tmp/anything"), "/tmp");
  EXPECT_EQ(platform::firstUntrustedDirectory("relative/folder"), "relative/folder");
}

TEST(TrustedDirectory, AnyStepAnotherUserCouldChangeIsNamed) {
  if (!testing_support::runningAsRoot()) GTEST_SKIP() << "making root-owned folders needs root";
  RootOnlyDirectory root;
  fs::create_directories(root / "safe/deeper");
  for (const char* name : {"world", "group", "owned"}) fs::create_directory(root / name);
  ASSERT_EQ(chmod((root / "world").c_str(), 0777), 0);
  ASSERT_EQ(chmod((root / "group").c_str(), 0775), 0);
  ASSERT_EQ(chown((root / "owned").c_str(), kNobody, 0), 0);
  fs::create_directory_symlink(root / "safe", root / "root-link");
  fs::create_directory_symlink(root / "safe", root / "user-link");
  ASSERT_EQ(lchown((root / "user-link").c_str(), kNobody, kNobody), 0);
  fs::create_directory_symlink("/tmp", root / "to-tmp");
  fs::create_directory_symlink(root / "safe/deeper", root / "deep-link");
  fs::create_directory_symlink("../world", root / "safe/up");  // read from safe, not from the root
  writeFile(root / "file", "");  // nothing can be written below it; writing there fails on its own
  writeFile(root / "world/file", "");

  const std::pair<std::string, std::optional<std::string>> table[] = {
      {root / "safe/deeper", std::nullopt},
      {root / "world/x", root / "world"},
      {root / "group", root / "group"},
      {root / "owned/x", root / "owned"},
      {root / "root-link/deeper", std::nullopt},
      {root / "user-link/deeper", root / "user-link"},
      {root / "to-tmp/x", "/tmp"},
      {root / "safe/../world/x", root / "world"},
      // ".." goes back from where the link led: deeper/../.. is the root.
      {root / "deep-link/../../world/x", root / "world"},
      {root / "safe/up/x", root / "world"},
      {root / "file", std::nullopt},
      {root / "file/x", std::nullopt},
      {root / "world/file", root / "world"},
  };
  for (const auto& [directory, untrusted] : table) {
    EXPECT_EQ(platform::firstUntrustedDirectory(directory), untrusted) << directory;
  }
}

TEST(StagedFile, IsNamelessUntilItReplacesTheOldItemInOneStep) {
  TemporaryDirectory scratch;
  writeFile(scratch / "original", "signed bytes", 0755);
  writeFile(scratch / "installed", "old bytes", 04755);
  const int held = open((scratch / "installed").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  const int original = open((scratch / "original").c_str(), O_RDONLY);
  auto failure = platform::StagedFile::Failure::kSource;
  std::optional<platform::StagedFile> copy = platform::StagedFile::copyOfFile(original, scratch.path(), &failure);
  close(original);
  ASSERT_TRUE(copy);
  writeFile(scratch / "original", "other bytes", 0755);
  const std::size_t staging = testing_support::kStagedCopiesAreNameless ? 0 : 1;  // the staging folder
  EXPECT_EQ(testing_support::entryCount(scratch.path()), 2u + staging);  // the copy has no name here

  platform::FileManager fileManager;
  ASSERT_TRUE(fileManager.removeSetIDBitsOfItemAtPath(scratch / "installed", nullptr));
  ASSERT_TRUE(copy->setOwnerAndMode(0, 0, 04755) && copy->replaceItemAtPath(scratch / "installed"));
  EXPECT_EQ(readFile(scratch / "installed"), "signed bytes");
  EXPECT_EQ(testing_support::modeOf(scratch / "installed"), 04755u);
  EXPECT_EQ(testing_support::entryCount(scratch.path()), 2u + staging);  // no temporary name left
  struct stat old {};
  ASSERT_EQ(fstat(held, &old), 0);  // whoever held the old file can no longer run it set-user-ID
  EXPECT_EQ(old.st_mode & 07777, 0755u);
  close(held);
}

TEST(StagedFile, KeepsHolesAndTellsWhichSideFailed) {
  TemporaryDirectory scratch;
  const int sparse = open((scratch / "sparse").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(pwrite(sparse, "end", 3, (64 << 20) - 3), 3);
  auto failure = platform::StagedFile::Failure::kSource;
  std::optional<platform::StagedFile> copy = platform::StagedFile::copyOfFile(sparse, scratch.path(), &failure);
  ASSERT_TRUE(copy);
  struct stat status {};
  ASSERT_EQ(fstat(copy->fd(), &status), 0);
  EXPECT_EQ(status.st_size, 64 << 20);
  EXPECT_LT(status.st_blocks * 512, 1 << 20);
  char tail[3] = {};
  EXPECT_EQ(pread(copy->fd(), tail, 3, (64 << 20) - 3), 3);
  EXPECT_EQ(std::string(tail, 3), "end");

  EXPECT_FALSE(platform::StagedFile::copyOfFile(sparse, scratch / "missing", &failure));
  EXPECT_EQ(failure, platform::StagedFile::Failure::kDestination);
  ASSERT_EQ(ftruncate(sparse, platform::kMaximumFileRead + 1), 0);  // too large to be real
  EXPECT_FALSE(platform::StagedFile::copyOfFile(sparse, scratch.path(), &failure));
  EXPECT_EQ(failure, platform::StagedFile::Failure::kSource);
  failure = platform::StagedFile::Failure::kDestination;
  const int folder = open(scratch.path().c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_FALSE(platform::StagedFile::copyOfFile(folder, scratch.path(), &failure));
  EXPECT_EQ(failure, platform::StagedFile::Failure::kSource);
  close(folder);
  close(sparse);
}

// A file written whole and nameless stays locked by its run, under whatever
// name it gets, until the run lets it go; a file of no run is held by none.
TEST(StagedFile, WithContentsIsWholeBeforeItHasANameAndHeldUntilItsRunEnds) {
  TemporaryDirectory scratch;
  writeFile(scratch / "plain", "x");
  const testing_support::UmaskScope mask(027);
  std::optional<platform::StagedFile> file = platform::StagedFile::withContents("job", scratch / "job", 0666);
  ASSERT_TRUE(file);
  // Nameless, or under a hidden name beside its destination.
  EXPECT_EQ(testing_support::entryCount(scratch.path()), testing_support::kStagedCopiesAreNameless ? 1u : 2u);
  ASSERT_TRUE(file->replaceItemAtPath(scratch / "job"));
  EXPECT_EQ(testing_support::entryCount(scratch.path()), 2u);
  EXPECT_EQ(readFile(scratch / "job"), "job");
  EXPECT_EQ(testing_support::modeOf(scratch / "job"), 0640u);
  EXPECT_TRUE(platform::StagedFile::isHeldByALiveRun(scratch / "job"));
  EXPECT_FALSE(platform::StagedFile::isHeldByALiveRun(scratch / "plain"));
  EXPECT_FALSE(platform::StagedFile::isHeldByALiveRun(scratch / "missing"));
  file.reset();
  EXPECT_FALSE(platform::StagedFile::isHeldByALiveRun(scratch / "job"));
  EXPECT_FALSE(platform::StagedFile::withContents("x", scratch / "missing/x", 0600));

  // A name that cannot be given leaves the old item as it was.
  file = platform::StagedFile::withContents("new", scratch / "job", 0600);
  ASSERT_TRUE(file);
  if (!testing_support::runningAsRoot() || !testing_support::setImmutable(scratch.path(), true)) return;
  EXPECT_FALSE(file->replaceItemAtPath(scratch / "job"));
  testing_support::setImmutable(scratch.path(), false);
  EXPECT_EQ(readFile(scratch / "job"), "job");
}

// Where nameless files cannot be made (macOS always), a copy is named in a
// folder of root's alone inside the install directory, and a file with
// contents under its hidden temporary name beside its destination: both
// locked while their run lives, gone if never installed, and installed in
// one rename that leaves no name behind.
TEST(StagedFile, NamedStagingStaysWhereNoOneElseReachesItUntilInstalled) {
  using Staging = platform::StagedFile::Staging;
  TemporaryDirectory scratch;
  writeFile(scratch / "original", "signed bytes", 0755);
  writeFile(scratch / "installed", "old bytes", 0755);
  const std::string staging = scratch / platform::StagedFile::kStagingFolderName;
  const int original = open((scratch / "original").c_str(), O_RDONLY);
  const testing_support::UmaskScope mask(0);
  auto failure = platform::StagedFile::Failure::kSource;
  std::optional<platform::StagedFile> copy =
      platform::StagedFile::copyOfFile(original, scratch.path(), &failure, Staging::kNamed);
  ASSERT_TRUE(copy);
  EXPECT_EQ(testing_support::modeOf(staging), 0700u);
  ASSERT_EQ(testing_support::entryCount(staging), 1u);
  const std::string named = staging + "/" + std::filesystem::directory_iterator(staging)->path().filename().string();
  EXPECT_EQ(testing_support::modeOf(named), 0600u);
  EXPECT_TRUE(platform::StagedFile::isHeldByALiveRun(named));
  ASSERT_TRUE(copy->setOwnerAndMode(geteuid(), getegid(), 04755) && copy->replaceItemAtPath(scratch / "installed"));
  EXPECT_EQ(readFile(scratch / "installed"), "signed bytes");
  EXPECT_EQ(testing_support::entryCount(staging), 0u);
  copy.reset();
  EXPECT_EQ(readFile(scratch / "installed"), "signed bytes");  // an installed copy is not removed with it

  // A copy staged over another takes its place whole: the other's name goes
  // with it, and what is installed is the later copy.
  copy = platform::StagedFile::copyOfFile(original, scratch.path(), &failure, Staging::kNamed);
  writeFile(scratch / "later", "later bytes", 0755);
  const int later = open((scratch / "later").c_str(), O_RDONLY);
  ASSERT_TRUE(copy);
  copy = platform::StagedFile::copyOfFile(later, scratch.path(), &failure, Staging::kNamed);
  close(later);
  ASSERT_TRUE(copy);
  EXPECT_EQ(testing_support::entryCount(staging), 1u);
  ASSERT_TRUE(copy->replaceItemAtPath(scratch / "installed"));
  EXPECT_EQ(readFile(scratch / "installed"), "later bytes");

  copy = platform::StagedFile::copyOfFile(original, scratch.path(), &failure, Staging::kNamed);
  ASSERT_TRUE(copy);
  copy.reset();  // never installed
  EXPECT_EQ(testing_support::entryCount(staging), 0u);

  std::optional<platform::StagedFile> job =
      platform::StagedFile::withContents("job", scratch / "job.plist", 0644, Staging::kNamed);
  ASSERT_TRUE(job);
  EXPECT_EQ(testing_support::entryCount(scratch.path()), 5u);  // beside it, under a hidden name
  ASSERT_TRUE(job->replaceItemAtPath(scratch / "job.plist"));
  EXPECT_EQ(readFile(scratch / "job.plist"), "job");
  EXPECT_EQ(testing_support::entryCount(scratch.path()), 5u);  // original, later, installed, .staging, job.plist

  // A staging folder that others may enter, or a link in its place, is refused.
  for (const auto& spoil : std::initializer_list<std::function<void()>>{
           [&] { chmod(staging.c_str(), 0755); },
           [&] {
             rmdir(staging.c_str());
             std::filesystem::create_directory_symlink(scratch.path(), staging);
           }}) {
    spoil();
    failure = platform::StagedFile::Failure::kSource;
    EXPECT_FALSE(platform::StagedFile::copyOfFile(original, scratch.path(), &failure, Staging::kNamed));
    EXPECT_EQ(failure, platform::StagedFile::Failure::kDestination);
  }
  close(original);
}

// Two files compared a chunk at a time: a difference anywhere, in the first
// chunk, at a chunk's edge or in the last byte, or in length, is found.
TEST(FileComparison, FindsAnyDifferenceWhateverTheChunk) {
  TemporaryDirectory scratch;
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::string bytes(2 * kChunk + 7, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  writeFile(scratch / "a", bytes);
  const auto compare = [&](const std::string& other) {
    writeFile(scratch / "b", other);
    const int a = open((scratch / "a").c_str(), O_RDONLY);
    const int b = open((scratch / "b").c_str(), O_RDONLY);
    const bool same = platform::haveSameContents(a, b);
    close(a);
    close(b);
    return same;
  };
  EXPECT_TRUE(compare(bytes));
  for (std::size_t at : {std::size_t{0}, kChunk - 1, kChunk, 2 * kChunk, bytes.size() - 1}) {
    std::string changed = bytes;
    changed[at] = static_cast<char>(changed[at] ^ 1);
    EXPECT_FALSE(compare(changed)) << at;
  }
  EXPECT_FALSE(compare(bytes.substr(0, bytes.size() - 1)));
  EXPECT_FALSE(compare(bytes + "x"));
  writeFile(scratch / "a", "");
  EXPECT_TRUE(compare(""));
  // Only regular files compare, and only what could be read: an empty pipe
  // is not an empty file, and a descriptor that cannot read matches nothing.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const int empty = open((scratch / "a").c_str(), O_RDONLY);
  EXPECT_FALSE(platform::haveSameContents(empty, pipeEnds[0]));
  EXPECT_FALSE(platform::haveSameContents(pipeEnds[0], pipeEnds[0]));
  close(empty);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  writeFile(scratch / "a", std::string(10, '\0'));
  writeFile(scratch / "b", std::string(10, '\0'));
  const int readable = open((scratch / "a").c_str(), O_RDONLY);
  const int unreadable = open((scratch / "b").c_str(), O_WRONLY);
  EXPECT_FALSE(platform::haveSameContents(readable, unreadable));
  close(readable);
  close(unreadable);
}

TEST(RegularFiles, TheKernelsOwnFilesAreNotRegular) {
  for (const std::string& path : testing_support::kernelFiles()) {
    if (access(path.c_str(), R_OK) != 0) continue;
    EXPECT_FALSE(platform::openRegularFileForReading(path).valid()) << path;
    EXPECT_EQ(errno, EINVAL) << path;
  }
}

}  // namespace
