// Times the verification of a 64 MiB single-architecture Mach-O signed with
// one SHA-256 CodeDirectory against `openssl dgst -sha256` of the same file,
// side by side, and prints both and their ratio. The file is ad-hoc signed,
// so the time is the container, the CodeDirectory and every page hash; the
// CMS check of a real signature adds a fixed few milliseconds.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SyntheticMachO.h"
#include "platform/codesign/CodeSigning.h"
#include "platform/codesign/Status.h"

namespace fs = std::filesystem;
using namespace platform::codesign;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kFileSize = 64ull << 20;
constexpr int kRounds = 7;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double timeVerification(const fs::path& file) {
  const auto start = Clock::now();
  StaticCodeRef code;
  OSStatus status = SecStaticCodeCreateWithPath(platform::FileURL{file.string()}, 0, &code);
  if (status == 0) status = SecStaticCodeCheckValidity(code.get(), kSecCSCheckAllArchitectures | kSecCSStrictValidate, nullptr);
  const double elapsed = seconds(Clock::now() - start);
  if (status != 0) {
    std::fprintf(stderr, "verification failed: %d\n", status);
    std::exit(1);
  }
  return elapsed;
}

double timeOpenssl(const fs::path& file) {
  const std::string command = "openssl dgst -sha256 '" + file.string() + "' > /dev/null";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "openssl dgst failed\n");
    std::exit(1);
  }
  return seconds(Clock::now() - start);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  codesign_test::SyntheticOptions options;
  options.cputype = 0x01000007;
  options.codeSize = kFileSize - 0x40000;  // the signature fills the rest
  const codesign_test::Bytes bytes = codesign_test::buildSignedMachO(options);
  const fs::path file = fs::temp_directory_path() / "codesign-bench-64MiB";
  if (FILE* out = std::fopen(file.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  timeVerification(file), timeOpenssl(file);  // warm the page cache for both
  std::vector<double> engine, openssl;
  for (int i = 0; i < kRounds; ++i) engine.push_back(timeVerification(file)), openssl.push_back(timeOpenssl(file));
  const double e = median(engine), o = median(openssl);
  std::printf("file: %llu bytes, one SHA-256 CodeDirectory, %d rounds (median)\n",
              static_cast<unsigned long long>(bytes.size()), kRounds);
  std::printf("verification        %8.2f ms\n", e * 1000);
  std::printf("openssl dgst -sha256 %8.2f ms\n", o * 1000);
  std::printf("ratio               %8.2f\n", e / o);
  fs::remove(file);
  return 0;
}
