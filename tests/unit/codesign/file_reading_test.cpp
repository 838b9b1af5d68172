// What the engine reads: only regular files, by offset, a piece at a time.
// The file belongs to whoever built the bundle, who may change it at any
// moment.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <thread>

#include "SyntheticMachO.h"
#include "TestFiles.h"
#include "common/TestSupport.h"
#include "platform/ScopedFd.h"
#include "codesign/Status.h"
#include "codesign/Validation.h"

namespace fs = std::filesystem;
using namespace codesign;
using namespace codesign_test;

namespace {

OSStatus create(const fs::path& path, StaticCodeRef* code) {
  return SecStaticCodeCreateWithPath(platform::FileURL{path.string()}, 0, code);
}

// A named pipe would hold a blocking open for ever; a device could act on
// being opened. Neither is opened, and the answer comes at once.
TEST(FileReading, OnlyARegularFileIsOpened) {
  const testing_support::TemporaryDirectory dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "pipe", dir / "link-to-pipe");
  StaticCodeRef code;
  EXPECT_EQ(create(dir / "pipe", &code), errSecCSRegularFile);
  EXPECT_EQ(create(dir / "link-to-pipe", &code), errSecCSRegularFile);
  EXPECT_EQ(create(dir / "folder", &code), errSecCSRegularFile);
  EXPECT_EQ(create(dir / "missing", &code), errSecCSStaticCodeNotFound);
  EXPECT_EQ(create("/dev/null", &code), errSecCSRegularFile);
  writeFile(dir / "large", {});
  for (const std::uint64_t size : {std::uint64_t{1} << 30, (std::uint64_t{1} << 30) + 1}) {
    fs::resize_file(dir / "large", size);  // sparse: nothing is written
    EXPECT_EQ(create(dir / "large", &code), size > (1u << 30) ? kUnixErrorBase + EFBIG : errSecSuccess) << size;
  }
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const platform::ScopedFd reader(ends[0]), writer(ends[1]);
  EXPECT_EQ(staticCodeCreateWithDescriptor(reader.get(), 0, &code), errSecCSRegularFile);
  EXPECT_EQ(staticCodeCreateWithDescriptor(-1, 0, &code), errSecCSRegularFile);
  EXPECT_FALSE(code);
}

// A nameless staging copy verifies through its descriptor, which stays the
// caller's: it is still open once the code object is gone.
TEST(FileReading, ANamelessCopyVerifiesThroughItsDescriptor) {
  const testing_support::TemporaryDirectory dir;
  const platform::ScopedFd copy(open(dir.path().c_str(), O_TMPFILE | O_RDWR, 0600));
  const Bytes bytes = buildSignedMachO(SyntheticOptions{});
  ASSERT_EQ(write(copy.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  StaticCodeRef code;
  ASSERT_EQ(staticCodeCreateWithDescriptor(copy.get(), 0, &code), 0);
  EXPECT_EQ(SecStaticCodeCheckValidity(code.get(), kSecCSCheckAllArchitectures | kSecCSStrictValidate, nullptr), 0);
  code.reset();
  struct stat info {};
  EXPECT_EQ(fstat(copy.get(), &info), 0);
}

// A file that reads as `before` for its first `reads` reads and as `after`
// from then on, as if cut short or rewritten in place at that moment.
class ChangedWhileRead final : public FileSource {
 public:
  ChangedWhileRead(const Bytes& before, const Bytes& after, int reads)
      : _before(before), _after(after), _reads(reads) {}
  std::uint64_t size() const override { return _before.size(); }
  std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    return MemorySource(_reads-- > 0 ? _before : _after).readAt(offset, out);
  }

 private:
  const Bytes& _before;
  const Bytes& _after;
  mutable int _reads;
};

// Nothing is mapped, so a file cut short while it is read makes a read come
// up short, and a file rewritten meanwhile (here with a header that is
// signed too) is not judged on a mixture: at every moment from `from` reads
// on, until the check has read all it needs, the check fails.
TEST(FileReading, AFileChangedWhileReadFailsVerification) {
  SyntheticOptions options;
  options.codeSize = 5u << 20;  // the code takes several reads
  const Bytes file = buildSignedMachO(options);
  options.beforeHashing = [](Bytes& f, auto&) { f[24] ^= 1; };  // the header's flags
  const Bytes rewritten = buildSignedMachO(options);
  const ValidationPolicy policy{[](const SHA256Digest&) { return false; }, 0, {}};
  // A thin file's start is read three times (the magic, the header, then
  // with the commands); a rewrite before the third read is simply a check
  // of the new file.
  const struct {
    const char* name;
    Bytes after;
    int from;
  } cases[] = {{"CutShort", {}, 0}, {"Rewritten", rewritten, 3}};
  for (const auto& c : cases) {
    int reads = c.from;
    for (OSStatus status = -1; status != 0; ++reads) {
      status = checkValidity(ChangedWhileRead(file, c.after, reads), kSecCSCheckAllArchitectures | kSecCSStrictValidate,
                             nullptr, policy);
      if (status != 0) {
        EXPECT_EQ(status, errSecCSSignatureFailed) << c.name << " after " << reads << " reads";
      }
    }
    EXPECT_GT(reads, 5) << c.name;
  }
}

// A read that fails says why.
TEST(FileReading, AFailedReadGivesItsCause) {
  struct Failing final : FileSource {
    std::uint64_t size() const override { return 100; }
    std::int64_t readAt(std::uint64_t, std::span<std::uint8_t>) const override { return errno = EIO, -1; }
  };
  std::uint8_t byte = 0;
  EXPECT_EQ(readExactly(Failing(), 0, {&byte, 1}), kUnixErrorBase + EIO);
}

// A caller's process limit can leave no thread to read ahead: the pass then
// reads each piece itself, to the same verdicts. (So no row tells when a
// pass starts the thread, nor sees an empty piece handed on or read.)
TEST(FileReading, WithoutAThreadToReadAheadTheVerdictsAreTheSame) {
  SyntheticOptions options;
  options.codeSize = 5u << 20;
  const Bytes file = buildSignedMachO(options);
  const ValidationPolicy policy{[](const SHA256Digest&) { return false; }, 0, {}};
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NPROC, &none) != 0 || (geteuid() == 0 && setuid(65534) != 0)) _exit(2);
    try {
      std::thread([] {}).join();
      _exit(3);  // the limit did not hold: nothing would be shown
    } catch (const std::system_error&) {
    }
    const SecCSFlags flags = kSecCSCheckAllArchitectures | kSecCSStrictValidate;
    const OSStatus whole = checkValidity(MemorySource(file), flags, nullptr, policy);
    const OSStatus cut = checkValidity(ChangedWhileRead(file, {}, 5), flags, nullptr, policy);
    _exit(whole == errSecSuccess && cut == errSecCSSignatureFailed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A file cut short after the code object was made is judged on what is
// read at the check, up to the size it had when opened.
TEST(FileReading, AFileCutAfterOpeningFailsVerification) {
  const testing_support::TemporaryDirectory dir;
  SyntheticLayout layout;
  writeFile(dir / "code", buildSignedMachO(SyntheticOptions{}, &layout));
  StaticCodeRef code;
  ASSERT_EQ(create(dir / "code", &code), 0);
  fs::resize_file(dir / "code", layout.commandsEnd + 0x800);
  EXPECT_EQ(SecStaticCodeCheckValidity(code.get(), kSecCSCheckAllArchitectures | kSecCSStrictValidate, nullptr),
            errSecCSSignatureFailed);
}

}  // namespace
