// Times what `helper check` does for one executable, as a process of its
// own, against `openssl dgst -sha256` of the same file, alternated in one
// run: a Mach-O of about 90 MB with one SHA-256 CodeDirectory, with 16 KiB
// and with 4 KiB pages, owned by root and by a user (mode 0644), in each
// folder given (a tmpfs and a disk file system). Prints the median wall time
// of each, their ratio, and the check's peak resident memory.
//
// The file is ad-hoc signed, so the tool's requirement fails, after the
// container, the CodeDirectory and every page hash were checked: that is the
// time being measured. A real signature's CMS check adds a fixed few
// milliseconds.
//
//   codesign_bench FOLDER...        the benchmark
//   codesign_bench check FILE       the check of one file (what is timed)
//   codesign_bench make FILE SHIFT [BYTES]
//                                   writes the test file, pages of 2^SHIFT
//   codesign_bench compare FILE COMMAND...
//                                   times COMMAND against openssl on FILE
//                                   (`helper check` in the sandbox)
//   codesign_bench display SIGNER CA SIGNATURE_CHECK FOLDER...
//                                   times signature-check --display
//                                   against the plain check

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SyntheticMachO.h"
#include "codesign/CodeSigning.h"

namespace fs = std::filesystem;
using namespace codesign;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

constexpr std::uint64_t kFileSize = 90'000'000;
constexpr int kRounds = 9;
// The tool's requirement for its server, as suite/CodeSignatureCheck.cpp writes it.
constexpr const char* kRequirement =
    "anchor apple generic and identifier \"com.quennard.brenlow-server\" and (certificate "
    "leaf[field.1.2.840.113635.100.6.1.9] or certificate 1[field.1.2.840.113635.100.6.2.6] and certificate "
    "leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] = \"Q7MK2RX5VN\")";

// The tool's three calls for one file, flags 17; prints the status.
int checkOne(const char* path) {
  StaticCodeRef code;
  RequirementRef requirement;
  OSStatus status = SecStaticCodeCreateWithPath(platform::FileURL{path}, 0, &code);
  if (status == 0) status = SecRequirementCreateWithString(kRequirement, 0, &requirement);
  if (status == 0)
    status = SecStaticCodeCheckValidity(code.get(), kSecCSCheckAllArchitectures | kSecCSStrictValidate,
                                        requirement.get());
  std::printf("%d\n", status);
  return 0;
}

struct Run {
  double seconds = 0;  // wall time
  double cpu = 0;      // user and system time
  long maxRssKiB = 0;
};

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Runs the command to its end with its output discarded.
Run timed(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t child = -1;
  Run run;
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.maxRssKiB = usage.ru_maxrss;
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void writeFile(const fs::path& path, const codesign_test::Bytes& bytes) {
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

// An ad-hoc signed x86_64 file of about `size` bytes.
int makeFile(const char* path, int pageShift, std::uint64_t size) {
  codesign_test::SyntheticOptions options;
  options.cputype = 0x01000007;
  options.pageShift = static_cast<std::uint8_t>(pageShift);
  options.identifier = "com.quennard.brenlow-server";
  options.codeSize = size - (1u << 20);  // the signature follows
  writeFile(path, codesign_test::buildSignedMachO(options));
  return 0;
}

// Two commands, alternated rounds after one warm-up of each: the median
// wall and CPU time of each, their ratios, and the first one's peak memory.
void measurePair(const char* title, const char* firstName, const std::vector<std::string>& first,
                 const char* secondName, const std::vector<std::string>& second) {
  timed(first), timed(second);
  std::vector<double> a, b, aCpu, bCpu;
  long rss = 0;
  for (int i = 0; i < kRounds; ++i) {
    const Run x = timed(first), y = timed(second);
    a.push_back(x.seconds), b.push_back(y.seconds), rss = std::max(rss, x.maxRssKiB);
    aCpu.push_back(x.cpu), bCpu.push_back(y.cpu);
  }
  const double e = median(a), o = median(b), ec = median(aCpu), oc = median(bCpu);
  std::printf("%s\n  wall: %s %6.1f ms, %s %6.1f ms, ratio %5.3f; cpu: %s %6.1f ms, %s %6.1f ms, "
              "ratio %5.3f; %s peak RSS %4.1f MiB\n",
              title, firstName, e * 1000, secondName, o * 1000, e / o, firstName, ec * 1000, secondName,
              oc * 1000, ec / oc, firstName, static_cast<double>(rss) / 1024);
}

// The command against openssl on the file.
void measure(const std::vector<std::string>& check, const fs::path& file, const char* label) {
  measurePair(label, "check", check, "openssl", {"/usr/bin/openssl", "dgst", "-sha256", file.string()});
}

void benchFolder(const std::string& self, const fs::path& folder) {
  for (const std::uint8_t shift : {14, 12}) {
    const fs::path file = folder / ("codesign-bench-" + std::to_string(1u << shift));
    // Made by a child: a spawned process would inherit this one's peak
    // memory, and the file's bytes would count in the check's.
    timed({self, "make", file.string(), std::to_string(shift)});
    const std::string page = std::to_string((1u << shift) / 1024) + " KiB pages";
    fs::permissions(file, fs::perms(0644));
    const std::vector<std::string> check{self, "check", file.string()};
    measure(check, file, (folder.string() + ", " + page + ", root's").c_str());
    if (geteuid() == 0 && chown(file.c_str(), 65534, 65534) == 0)
      measure(check, file, (folder.string() + ", " + page + ", a user's").c_str());
    fs::remove(file);
  }
}

// signature-check --display against a plain check of one Developer ID file
// of about 90 MB, signed by the tests' signer with a timestamp, with the
// tests' root as an extra anchor: the display reads only headers and
// signature, so the two should take the same time.
int benchDisplay(const std::string& self, const std::string& signer, const fs::path& ca,
                 const std::string& signatureCheck, const fs::path& folder) {
  const fs::path unsigned_ = folder / "display-bench-unsigned", file = folder / "display-bench";
  timed({self, "make", unsigned_.string(), "14"});
  timed({signer, "sign", unsigned_.string(), file.string(), "--identifier", "com.quennard.brenlow-server",
         "--team", "Q7MK2RX5VN", "--page-size", "16384", "--cert", (ca / "devid-app.pem").string(), "--key",
         (ca / "devid-app.key").string(), "--chain", (ca / "devid-ca.pem").string(), "--chain",
         (ca / "root.pem").string(), "--timestamp-with", (ca / "tsa.pem").string(), "--timestamp-key",
         (ca / "tsa.key").string(), "--timestamp-chain", (ca / "timestamp-ca.pem").string(),
         "--timestamp-chain", (ca / "root.pem").string()});
  fs::remove(unsigned_);
  if (!fs::exists(file)) return std::fprintf(stderr, "codesign_bench: the signer made no file\n"), 1;
  const std::vector<std::string> check{signatureCheck, "--anchor", (ca / "root.pem").string(), file.string()};
  std::vector<std::string> display = check;
  display.insert(display.begin() + 1, "--display");
  measurePair((folder.string() + ", 16 KiB pages, Developer ID with timestamp").c_str(), "display", display,
              "check", check);
  fs::remove(file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "check") return checkOne(argv[2]);
  if ((argc == 4 || argc == 5) && std::string(argv[1]) == "make")
    return makeFile(argv[2], std::atoi(argv[3]), argc == 5 ? std::strtoull(argv[4], nullptr, 10) : kFileSize);
  if (argc >= 4 && std::string(argv[1]) == "compare") {
    measure(std::vector<std::string>(argv + 3, argv + argc), argv[2], argv[2]);
    return 0;
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  if (argc >= 5 && std::string(argv[1]) == "display") {
    int failed = 0;
    for (int i = 5; i < argc; ++i) failed |= benchDisplay(self, argv[2], argv[3], argv[4], argv[i]);
    return failed;
  }
  std::printf("about %llu MB, one SHA-256 CodeDirectory; median of %d alternated runs, each a process\n",
              static_cast<unsigned long long>(kFileSize / 1000000), kRounds);
  for (int i = 1; i < argc; ++i) benchFolder(self, argv[i]);
  if (argc < 2) benchFolder(self, fs::temp_directory_path());
  return 0;
}
