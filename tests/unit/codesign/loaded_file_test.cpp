// What the engine reads: only regular files, once, into memory of its own.
// The file belongs to whoever built the bundle, who may change it at any
// moment.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "TestFiles.h"
#include "platform/ScopedFd.h"
#include "platform/codesign/Status.h"
#include "platform/codesign/TrustedAnchors.h"

namespace fs = std::filesystem;
using namespace platform::codesign;
using namespace codesign_test;

namespace {

OSStatus create(const fs::path& path, StaticCodeRef* code) {
  return SecStaticCodeCreateWithPath(platform::FileURL{path.string()}, 0, code);
}

// A named pipe would hold a blocking open for ever; a device could act on
// being opened. Neither is opened, and the answer comes at once.
TEST(LoadedFile, OnlyARegularFileIsOpened) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
  fs::create_directory(dir.file("folder"));
  fs::create_symlink(dir.file("pipe"), dir.file("link-to-pipe"));
  StaticCodeRef code;
  EXPECT_EQ(create(dir.file("pipe"), &code), errSecCSRegularFile);
  EXPECT_EQ(create(dir.file("link-to-pipe"), &code), errSecCSRegularFile);
  EXPECT_EQ(create(dir.file("folder"), &code), errSecCSRegularFile);
  EXPECT_EQ(create(dir.file("missing"), &code), errSecCSStaticCodeNotFound);
  EXPECT_EQ(create("/dev/null", &code), errSecCSRegularFile);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const platform::ScopedFd reader(ends[0]), writer(ends[1]);
  const platform::ScopedFd folder(open(dir.file("folder").c_str(), O_RDONLY | O_DIRECTORY));
  EXPECT_EQ(staticCodeCreateWithDescriptor(reader.get(), 0, &code), errSecCSRegularFile);
  EXPECT_EQ(staticCodeCreateWithDescriptor(folder.get(), 0, &code), errSecCSRegularFile);
  EXPECT_EQ(staticCodeCreateWithDescriptor(-1, 0, &code), errSecCSRegularFile);
  EXPECT_FALSE(code);
}

// A nameless staging copy verifies through its descriptor, which stays the
// caller's: it is still open once the code object is gone.
TEST(LoadedFile, ANamelessCopyVerifiesThroughItsDescriptor) {
  if (!extraTrustedAnchorSHA256()) GTEST_SKIP() << "built without the tests' certificate authority";
  const fs::path signed_ = fs::path(CODESIGN_FIXTURE_DIR) / "helper-devid-arm64";
  if (!fs::exists(signed_)) GTEST_SKIP() << "fixture " << signed_ << " was not built";
  TempDir dir;
  const platform::ScopedFd copy(open(dir.file("").c_str(), O_TMPFILE | O_RDWR, 0600));
  ASSERT_TRUE(copy.valid());
  const Bytes bytes = readFile(signed_);
  ASSERT_EQ(write(copy.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  StaticCodeRef code;
  ASSERT_EQ(staticCodeCreateWithDescriptor(copy.get(), 0, &code), 0);
  EXPECT_EQ(SecStaticCodeCheckValidity(code.get(), kSecCSCheckAllArchitectures | kSecCSStrictValidate, nullptr), 0);
  code.reset();
  struct stat info {};
  EXPECT_EQ(fstat(copy.get(), &info), 0);
}

// The check of a file someone else can write sees the bytes as they were
// when the code object was made: cutting the file short afterwards neither
// changes the answer nor makes a read of it fault.
TEST(LoadedFile, LaterChangesToTheFileAreNotSeen) {
  if (!extraTrustedAnchorSHA256()) GTEST_SKIP() << "built without the tests' certificate authority";
  const fs::path signed_ = fs::path(CODESIGN_FIXTURE_DIR) / "helper-devid-arm64";
  if (!fs::exists(signed_)) GTEST_SKIP() << "fixture " << signed_ << " was not built";
  TempDir dir;
  fs::copy_file(signed_, dir.file("helper"));
  if (geteuid() == 0) {
    ASSERT_EQ(chown(dir.file("helper").c_str(), 65534, 65534), 0);  // not root's alone
  }
  StaticCodeRef code;
  ASSERT_EQ(create(dir.file("helper"), &code), 0);
  fs::resize_file(dir.file("helper"), 0);
  RequirementRef requirement;
  ASSERT_EQ(SecRequirementCreateWithString(toolRequirement("com.quennard.brenlow-helper"), 0, &requirement), 0);
  EXPECT_EQ(SecStaticCodeCheckValidity(code.get(), kSecCSCheckAllArchitectures | kSecCSStrictValidate,
                                       requirement.get()),
            0);
}

}  // namespace
