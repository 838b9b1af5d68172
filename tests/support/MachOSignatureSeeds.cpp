// Writes a seed corpus for the Mach-O and signature fuzzer: small valid
// files of every shape the synthetic builder makes, ad hoc and CMS-signed by
// the tests' signer (with and without the root, with a timestamp, with two
// bound CodeDirectories), so that the CMS, timestamp and chain code is
// reached from the first run.

#include <cstdio>
#include <filesystem>
#include <string>

#include "CertificateAuthority.h"
#include "CmsSignature.h"
#include "SyntheticMachO.h"

using namespace codesign_test;

namespace {

void write(const std::string& path, const Bytes& bytes) {
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

// The signer's identity and timestamp authority from the tests' authority.
struct Authority {
  explicit Authority(const std::string& dir) : dir(dir) { signer::makeCertificateAuthority(dir); }
  signer::X509Ptr cert(const char* name) const { return signer::loadCertificate(dir + "/" + name + ".pem"); }
  signer::EVPKeyPtr key(const char* name) const { return signer::loadPrivateKey(dir + "/" + name + ".key"); }
  std::string dir;
};

std::vector<signer::X509Ptr> chainOf(const Authority& ca, std::vector<const char*> names) {
  std::vector<signer::X509Ptr> chain;
  for (const char* name : names) chain.push_back(ca.cert(name));
  return chain;
}

// A signer for the synthetic builder: the CMS over the slot-0 directory,
// binding every directory.
auto cmsSigner(const signer::SigningIdentity& identity, const signer::CmsOptions& options) {
  return [&identity, &options](const Bytes& /*signedDirectory*/, const std::vector<Bytes>& directories) {
    return signer::cmsSignature(identity, signer::codeDirectoryBlobs(directories), options);
  };
}

void writeSigned(const std::string& dir, const Authority& ca, const SyntheticOptions& base) {
  const signer::SigningIdentity full{ca.cert("devid-app"), ca.key("devid-app"), chainOf(ca, {"devid-ca", "root"})};
  const signer::SigningIdentity rootless{ca.cert("devid-app"), ca.key("devid-app"), chainOf(ca, {"devid-ca"})};
  signer::CmsOptions plain;
  signer::CmsOptions stamped;
  stamped.timestamp = signer::TimestampAuthority{ca.cert("tsa"), ca.key("tsa"), chainOf(ca, {"timestamp-ca", "root"}),
                                                 std::nullopt};
  SyntheticOptions o = base;
  o.flags = 0x10000;
  o.signer = cmsSigner(full, stamped);
  write(dir + "/cms-timestamped", buildSignedMachO(o));
  o.signer = cmsSigner(rootless, plain);
  write(dir + "/cms-without-root", buildSignedMachO(o));
  o.hashTypes = {1, 2};
  o.signer = cmsSigner(full, plain);
  write(dir + "/cms-two-directories", buildSignedMachO(o));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  SyntheticOptions plain;
  SyntheticOptions rich;
  rich.infoPlist = "<plist><dict/></plist>", rich.entitlements = "<plist><dict/></plist>", rich.team = "Q7MK2RX5VN";
  SyntheticOptions big = rich;
  big.bigEndian = true, big.hashTypes = {1, 2}, big.pageShift = 14;
  write(dir + "/thin", buildSignedMachO(plain));
  write(dir + "/rich", buildSignedMachO(rich));
  write(dir + "/bigendian", buildSignedMachO(big));
  SyntheticOptions x86 = rich;
  x86.cputype = 0x01000007;
  write(dir + "/universal", buildUniversal({buildSignedMachO(x86), buildSignedMachO(rich)}, {0x01000007, 0x0100000c}, 12));
  const std::string caDir = dir + "/../seed-ca";
  std::filesystem::create_directories(caDir);
  writeSigned(dir, Authority(caDir), rich);
  return 0;
}
