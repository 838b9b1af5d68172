// The tests' certificate authority: the marks a verifier looks for, which
// chain each certificate belongs to, and the build-time fingerprint header.

#include <gtest/gtest.h>

#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "../OpenSSLSupport.h"
#include "SignedImage.h"
#include "TestRootFingerprint.h"

namespace signer_test {
namespace {

using signer::ASN1ObjectPtr;
using signer::OpenSSLDeleter;
using signer::X509Ptr;
using signer::X509StackPtr;
using StorePtr = std::unique_ptr<X509_STORE, OpenSSLDeleter<X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpenSSLDeleter<X509_STORE_CTX_free>>;

X509Ptr certificate(const std::string& name) { return signer::loadCertificate(caPath(name + ".pem")); }

// -1 when absent, else whether it is critical.
int extensionCriticality(X509* cert, const char* oid) {
  ASN1ObjectPtr object(OBJ_txt2obj(oid, 1));
  const int position = X509_get_ext_by_OBJ(cert, object.get(), -1);
  return position < 0 ? -1 : X509_EXTENSION_get_critical(X509_get_ext(cert, position));
}

std::string subjectField(X509* cert, int nid) {
  char text[256] = "";
  X509_NAME_get_text_by_NID(X509_get_subject_name(cert), nid, text, sizeof text);
  return text;
}

// X509_verify_cert's answer for leaf over intermediates up to root, with
// critical extensions OpenSSL does not know accepted as a verifier must.
int chainError(X509* leaf, const std::vector<std::string>& intermediates, const std::string& root, time_t at) {
  StorePtr store(X509_STORE_new());
  X509Ptr anchor = certificate(root);
  X509_STORE_add_cert(store.get(), anchor.get());
  X509StackPtr untrusted(sk_X509_new_null());
  for (const std::string& name : intermediates) sk_X509_push(untrusted.get(), certificate(name).release());
  StoreCtxPtr context(X509_STORE_CTX_new());
  X509_STORE_CTX_init(context.get(), store.get(), leaf, untrusted.get());
  X509_STORE_CTX_set_flags(context.get(), X509_V_FLAG_IGNORE_CRITICAL);
  X509_STORE_CTX_set_time(context.get(), 0, at);
  X509_verify_cert(context.get());
  return X509_STORE_CTX_get_error(context.get());
}

struct LeafCase {
  const char* name;
  std::vector<std::string> intermediates;
  const char* root;
  const char* marker;  // Apple leaf marker
  int markerCritical;
  const char* organisationalUnit;
  bool codeSigningUsage;
};

TEST(CertificateAuthority, LeavesCarryTheirMarksAndChainToTheirRoot) {
  const std::vector<LeafCase> leaves{
      {"devid-app", {"devid-ca"}, "root", "1.2.840.113635.100.6.1.13", 1, "Q7MK2RX5VN", true},
      {"devid-app-otherteam", {"devid-ca"}, "root", "1.2.840.113635.100.6.1.13", 1, "ZX8QW4T2LM", true},
      {"devid-app-expired", {"devid-ca"}, "root", "1.2.840.113635.100.6.1.13", 1, "Q7MK2RX5VN", true},
      {"devid-app-no-eku", {"devid-ca"}, "root", "1.2.840.113635.100.6.1.13", 1, "Q7MK2RX5VN", false},
      {"appstore-app", {"store-ca"}, "root", "1.2.840.113635.100.6.1.9", 0, "Test Store Signing", true},
      {"foreign-devid-app", {"foreign-devid-ca"}, "foreign-root", "1.2.840.113635.100.6.1.13", 1, "Q7MK2RX5VN", true},
  };
  const time_t inValidity = 1579089600;  // 2020-01-15, when every leaf was valid
  for (const LeafCase& leaf : leaves) {
    SCOPED_TRACE(leaf.name);
    X509Ptr cert = certificate(leaf.name);
    EXPECT_EQ(extensionCriticality(cert.get(), leaf.marker), leaf.markerCritical);
    EXPECT_EQ(subjectField(cert.get(), NID_organizationalUnitName), leaf.organisationalUnit);
    EXPECT_EQ(extensionCriticality(cert.get(), "2.5.29.37"), leaf.codeSigningUsage ? 1 : -1);
    if (leaf.codeSigningUsage) {
      EXPECT_EQ(X509_get_extended_key_usage(cert.get()), std::uint32_t(XKU_CODE_SIGN));
    }
    EXPECT_EQ(chainError(cert.get(), leaf.intermediates, leaf.root, inValidity), X509_V_OK);
    const std::string otherRoot = std::string(leaf.root) == "root" ? "foreign-root" : "root";
    EXPECT_NE(chainError(cert.get(), leaf.intermediates, otherRoot, inValidity), X509_V_OK);
  }
}

TEST(CertificateAuthority, IntermediatesCarryTheMarkersTheRequirementTests) {
  const std::vector<std::pair<const char*, const char*>> intermediates{
      {"devid-ca", "1.2.840.113635.100.6.2.6"},
      {"foreign-devid-ca", "1.2.840.113635.100.6.2.6"},
      {"store-ca", "1.2.840.113635.100.6.2.1"},
      {"timestamp-ca", "1.2.840.113635.100.6.2.9"},
  };
  for (const auto& [name, marker] : intermediates) {
    X509Ptr cert = certificate(name);
    EXPECT_EQ(extensionCriticality(cert.get(), marker), 0) << name;
    EXPECT_EQ(X509_check_ca(cert.get()), 1) << name;
  }
  EXPECT_EQ(extensionCriticality(certificate("devid-app").get(), "1.2.840.113635.100.6.2.6"), -1);
}

TEST(CertificateAuthority, ExpiredLeafIsExpiredNowOnly) {
  X509Ptr expired = certificate("devid-app-expired");
  const time_t now = time(nullptr);
  EXPECT_EQ(chainError(expired.get(), {"devid-ca"}, "root", now), X509_V_ERR_CERT_HAS_EXPIRED);
  EXPECT_EQ(chainError(certificate("devid-app").get(), {"devid-ca"}, "root", now), X509_V_OK);
}

TEST(CertificateAuthority, FingerprintHeaderNamesTheRoot) {
  X509Ptr root = certificate("root");
  const Bytes fingerprint = hashOf(EVP_sha256(), signer::certificateDER(root.get()));
  EXPECT_EQ(Bytes(helper_test_ca::kRootSHA256.begin(), helper_test_ca::kRootSHA256.end()), fingerprint);
  std::string hex;
  for (std::uint8_t byte : fingerprint) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
  const Bytes text = readBytes(caPath("root.sha256"));
  EXPECT_EQ(std::string(text.begin(), text.end()), hex + "\n");
  EXPECT_EQ(X509_check_issued(root.get(), root.get()), X509_V_OK);
}

}  // namespace
}  // namespace signer_test
