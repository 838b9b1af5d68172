// Writes a seed corpus for the Mach-O and signature fuzzer: small valid
// files of every shape the synthetic signer makes.

#include <cstdio>
#include <string>

#include "SyntheticMachO.h"

using namespace codesign_test;

namespace {

void write(const std::string& path, const Bytes& bytes) {
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  SyntheticOptions plain;
  SyntheticOptions rich;
  rich.infoPlist = "<plist><dict/></plist>", rich.entitlements = "<plist><dict/></plist>", rich.team = "ABCDE12345";
  SyntheticOptions big = rich;
  big.bigEndian = true, big.hashTypes = {1, 2}, big.pageShift = 14;
  write(dir + "/thin", buildSignedMachO(plain));
  write(dir + "/rich", buildSignedMachO(rich));
  write(dir + "/bigendian", buildSignedMachO(big));
  SyntheticOptions x86 = rich;
  x86.cputype = 0x01000007;
  write(dir + "/universal", buildUniversal({buildSignedMachO(x86), buildSignedMachO(rich)}, {0x01000007, 0x0100000c}, 12));
  return 0;
}
