// What each fixture's name claims and the engine would accept either way: an
// extra or truncated CodeDirectory, a page size, an architecture, a team, the
// root left out, a timestamp, an expired leaf, an update with other code.
// Page hashes, binding and chains are the engine's table's business
// (tests/fixtures/statuses.txt), not repeated here.

#include <gtest/gtest.h>

#include <openssl/cms.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "../OpenSSLSupport.h"
#include "SignedImage.h"

namespace signer_test {
namespace {

constexpr std::uint32_t kArm64 = 0x0100000c, kX86_64 = 0x01000007;

struct Claim {
  const char* fixture;
  const char* leaf;                      // signs every slice
  std::vector<std::uint32_t> cputypes;   // one per slice
  std::vector<std::uint8_t> hashTypes;   // of the CodeDirectories, in index order
  std::uint8_t pageShift;
  const char* team;                      // in every CodeDirectory
  int certificates;                      // embedded in the CMS
  bool timestamped;                      // the engine checks a token's time, not its presence
};

void PrintTo(const Claim& claim, std::ostream* out) { *out << claim.fixture; }

const char* const kTeam = "Q7MK2RX5VN";
const std::vector<Claim> kClaims{
    {"helper-devid-arm64", "devid-app", {kArm64}, {2}, 12, kTeam, 3, false},
    {"helper-devid-x86_64", "devid-app", {kX86_64}, {2}, 12, kTeam, 3, false},
    {"helper-devid-universal", "devid-app", {kX86_64, kArm64}, {2}, 12, kTeam, 3, false},
    {"helper-devid-otherteam-arm64", "devid-app-otherteam", {kArm64}, {2}, 12, "ZX8QW4T2LM", 3, false},
    {"helper-devid-sha1-sha256", "devid-app", {kArm64}, {1, 2}, 12, kTeam, 3, false},
    {"helper-devid-sha256-truncated", "devid-app", {kArm64}, {3}, 12, kTeam, 3, false},
    {"helper-devid-sha1-sha256-truncated", "devid-app", {kArm64}, {1, 3}, 12, kTeam, 3, false},
    {"helper-devid-16k-arm64", "devid-app", {kArm64}, {2}, 14, kTeam, 3, false},
    {"helper-devid-onepage-arm64", "devid-app", {kArm64}, {2}, 0, kTeam, 3, false},
    {"helper-devid-without-root", "devid-app", {kArm64}, {2}, 12, kTeam, 2, false},
    {"helper-devid-timestamped-arm64", "devid-app", {kArm64}, {2}, 12, kTeam, 3, true},
    {"helper-devid-timestamped-expired", "devid-app-expired", {kArm64}, {2}, 12, kTeam, 3, true},
    {"helper-devid-expired-no-timestamp", "devid-app-expired", {kArm64}, {2}, 12, kTeam, 3, false},
};

std::string cString(const Bytes& blob, std::uint32_t offset) {
  std::string text;
  for (std::size_t i = offset; i < blob.size() && blob[i] != 0; ++i) text.push_back(static_cast<char>(blob[i]));
  return text;
}

void expectSignature(const SliceView& slice, const Claim& claim) {
  const Bytes der = slice.cms();
  const unsigned char* in = der.data();
  const signer::CMSPtr cms(d2i_CMS_ContentInfo(nullptr, &in, static_cast<long>(der.size())));
  ASSERT_TRUE(cms);
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
  ASSERT_EQ(sk_CMS_SignerInfo_num(signers), 1);
  CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
  const signer::X509Ptr leaf = signer::loadCertificate(caPath(std::string(claim.leaf) + ".pem"));
  EXPECT_EQ(CMS_SignerInfo_cert_cmp(signer, leaf.get()), 0) << "not signed by " << claim.leaf;
  const signer::X509StackPtr certificates(CMS_get1_certs(cms.get()));
  EXPECT_EQ(sk_X509_num(certificates.get()), claim.certificates);
  EXPECT_EQ(CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1) >= 0, claim.timestamped);
}

class FixtureClaims : public testing::TestWithParam<Claim> {};

TEST_P(FixtureClaims, Hold) {
  const Claim& claim = GetParam();
  const std::vector<SliceView> slices = readSlices(fixturePath(claim.fixture));
  std::vector<std::uint32_t> cputypes;
  for (const SliceView& slice : slices) {
    cputypes.push_back(slice.cputype);
    std::vector<std::uint8_t> hashTypes;
    for (const Bytes& cd : slice.codeDirectories()) {
      ASSERT_GE(cd.size(), 52u);
      hashTypes.push_back(cd[37]);
      EXPECT_EQ(cd[39], claim.pageShift);
      EXPECT_EQ(cString(cd, signer::ByteReader(cd).be32(48, "teamOffset")), claim.team);
    }
    EXPECT_EQ(hashTypes, claim.hashTypes);
    expectSignature(slice, claim);
  }
  EXPECT_EQ(cputypes, claim.cputypes);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureClaims, testing::ValuesIn(kClaims));

// The engine accepts the expired fixtures whether or not their leaf has
// expired (it checks only that the timestamp falls in the leaf's validity).
TEST(CertificateAuthority, ExpiredLeafHasExpired) {
  const signer::X509Ptr leaf = signer::loadCertificate(caPath("devid-app-expired.pem"));
  EXPECT_LT(X509_cmp_current_time(X509_get0_notAfter(leaf.get())), 0);
}

// An update bundle whose executables differ only in their signature would
// let the update tests pass without replacing any code.
TEST(Bundles, UpdateDiffersFromTheFirstBundleInCode) {
  for (const char* executable : {"helper", "brenlowd"}) {
    const SliceView first = readSlices(fixturePath("bundles/Brenlow.app/Contents/MacOS/") + executable).front();
    const SliceView update = readSlices(fixturePath("bundles/BrenlowUpdate.app/Contents/MacOS/") + executable).front();
    EXPECT_NE(Bytes(first.bytes.begin(), first.bytes.begin() + first.dataoff),
              Bytes(update.bytes.begin(), update.bytes.begin() + update.dataoff)) << executable;
  }
}

}  // namespace
}  // namespace signer_test
