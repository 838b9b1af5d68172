// The CMS signature of signed fixtures: what OpenSSL's own verifier says of
// it, its signed attributes, its certificates and its timestamp.

#include <gtest/gtest.h>

#include <openssl/cms.h>
#include <openssl/objects.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "../OpenSSLSupport.h"
#include "SignedImage.h"

namespace signer_test {
namespace {

using signer::ASN1ObjectPtr;
using signer::CMSPtr;
using signer::OpenSSLDeleter;
using signer::PKCS7Ptr;
using signer::X509Ptr;
using signer::X509StackPtr;
using TSTInfoPtr = std::unique_ptr<TS_TST_INFO, OpenSSLDeleter<TS_TST_INFO_free>>;
using VerifyCtxPtr = std::unique_ptr<TS_VERIFY_CTX, OpenSSLDeleter<TS_VERIFY_CTX_free>>;

// When the expired fixture was signed and stamped, as seconds since 1970.
constexpr std::int64_t kExpiredSigningTime = 1579089600;  // 2020-01-15 12:00:00 UTC
constexpr std::int64_t kExpiredTimestamp = kExpiredSigningTime + 1;

CMSPtr parseCMS(const Bytes& der) {
  const unsigned char* in = der.data();
  CMSPtr cms(d2i_CMS_ContentInfo(nullptr, &in, static_cast<long>(der.size())));
  EXPECT_TRUE(cms) << "the signature blob does not decode";
  return cms;
}

CMS_SignerInfo* onlySigner(CMS_ContentInfo* cms) {
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
  EXPECT_EQ(sk_CMS_SignerInfo_num(signers), 1);
  return sk_CMS_SignerInfo_value(signers, 0);
}

Bytes stringBytes(const ASN1_STRING* string) {
  const unsigned char* data = ASN1_STRING_get0_data(string);
  return Bytes(data, data + ASN1_STRING_length(string));
}

const ASN1_TYPE* signedAttribute(CMS_SignerInfo* signer, const char* oid, int index = 0) {
  ASN1ObjectPtr object(OBJ_txt2obj(oid, 1));
  const int position = CMS_signed_get_attr_by_OBJ(signer, object.get(), -1);
  if (position < 0) return nullptr;
  return X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(signer, position), index);
}

int signedAttributeValues(CMS_SignerInfo* signer, const char* oid) {
  ASN1ObjectPtr object(OBJ_txt2obj(oid, 1));
  const int position = CMS_signed_get_attr_by_OBJ(signer, object.get(), -1);
  return position < 0 ? 0 : X509_ATTRIBUTE_count(CMS_signed_get_attr(signer, position));
}

Bytes fullCDHash(const CodeDirectoryView& cd) { return hashOf(algorithmOfHashType(cd.hashType), cd.blob); }

// Writes the slot-0 CodeDirectory and the CMS of slice, then asks the
// openssl tool to verify the signature over that CodeDirectory.
CommandResult opensslVerify(const SliceView& slice, const std::string& caFile, const std::string& atTime) {
  TemporaryDirectory directory;
  writeBytes(directory.file("cd"), slice.codeDirectories().front().blob);
  writeBytes(directory.file("cms"), slice.cms());
  std::vector<std::string> command{HELPER_OPENSSL, "cms", "-verify", "-binary", "-inform", "DER", "-in",
                                   directory.file("cms"), "-content", directory.file("cd"), "-CAfile", caFile,
                                   "-purpose", "any", "-ignore_critical", "-out", "/dev/null"};
  if (!atTime.empty()) command.insert(command.end(), {"-attime", atTime});
  return runCommand(command);
}

struct VerifyCase {
  const char* fixture;
  const char* root;
  const char* atTime;  // empty: now
  bool verifies;
};

TEST(OpenSSLVerify, DetachedSignatureOverTheFirstCodeDirectory) {
  const std::string expiredTime = std::to_string(kExpiredSigningTime);
  const std::vector<VerifyCase> cases{
      {"helper-devid-arm64", "root.pem", "", true},
      {"server-devid-arm64", "root.pem", "", true},
      {"helper-devid-x86_64", "root.pem", "", true},
      {"helper-appstore-arm64", "root.pem", "", true},
      {"helper-devid-sha1-sha256", "root.pem", "", true},
      {"helper-devid-timestamped-arm64", "root.pem", "", true},
      {"helper-devid-foreign-root", "root.pem", "", false},
      {"helper-devid-foreign-root", "foreign-root.pem", "", true},
      {"helper-devid-expired-no-timestamp", "root.pem", "", false},
      {"helper-devid-expired-no-timestamp", "root.pem", expiredTime.c_str(), true},
      {"helper-devid-timestamped-expired", "root.pem", expiredTime.c_str(), true},
  };
  for (const VerifyCase& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " against " + c.root);
    const CommandResult result = opensslVerify(readImage(fixturePath(c.fixture)).slices.front(), caPath(c.root), c.atTime);
    EXPECT_EQ(result.status == 0, c.verifies) << result.output;
  }
}

TEST(OpenSSLVerify, EverySliceOfAUniversalFileHasItsOwnSignature) {
  const ImageView image = readImage(fixturePath("helper-devid-universal"));
  for (const SliceView& slice : image.slices) {
    const CommandResult result = opensslVerify(slice, caPath("root.pem"), "");
    EXPECT_EQ(result.status, 0) << result.output;
  }
  EXPECT_NE(image.slices[0].cms(), image.slices[1].cms());
}

TEST(OpenSSLVerify, TamperedCodeDirectoryFails) {
  SliceView slice = readImage(fixturePath("helper-devid-arm64")).slices.front();
  for (auto& [slot, blob] : slice.blobs)
    if (slot == 0) blob[blob.size() - 1] ^= 1;
  EXPECT_NE(opensslVerify(slice, caPath("root.pem"), "").status, 0);
}

TEST(SignedAttributes, DetachedSHA256DigestOfTheFirstCodeDirectory) {
  const SliceView slice = readImage(fixturePath("helper-devid-sha1-sha256")).slices.front();
  CMSPtr cms = parseCMS(slice.cms());
  ASSERT_TRUE(cms);
  EXPECT_EQ(OBJ_obj2nid(CMS_get0_type(cms.get())), NID_pkcs7_signed);
  EXPECT_EQ(OBJ_obj2nid(CMS_get0_eContentType(cms.get())), NID_pkcs7_data);
  ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
  EXPECT_TRUE(content == nullptr || *content == nullptr) << "content must be detached";
  CMS_SignerInfo* signer = onlySigner(cms.get());
  const ASN1_TYPE* digest = signedAttribute(signer, "1.2.840.113549.1.9.4");
  ASSERT_TRUE(digest && digest->type == V_ASN1_OCTET_STRING);
  EXPECT_EQ(stringBytes(digest->value.octet_string), hashOf(EVP_sha256(), slice.codeDirectories().front().blob));
  EXPECT_TRUE(signedAttribute(signer, "1.2.840.113549.1.9.3"));
  EXPECT_TRUE(signedAttribute(signer, "1.2.840.113549.1.9.5"));
}

// Decodes the <data> entries of the CDHashes property list.
std::vector<Bytes> plistHashes(const std::string& plist) {
  std::vector<Bytes> hashes;
  for (std::size_t at = plist.find("<data>"); at != std::string::npos; at = plist.find("<data>", at + 1)) {
    std::string text = plist.substr(at + 6, plist.find("</data>", at) - at - 6);
    std::erase_if(text, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    Bytes decoded(text.size());
    const int length = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    decoded.resize(static_cast<std::size_t>(length) - std::count(text.begin(), text.end(), '='));
    hashes.push_back(decoded);
  }
  return hashes;
}

TEST(SignedAttributes, CDHashesBindEveryCodeDirectory) {
  const SliceView slice = readImage(fixturePath("helper-devid-sha1-sha256")).slices.front();
  const std::vector<CodeDirectoryView> directories = slice.codeDirectories();
  ASSERT_EQ(directories.size(), 2u);
  CMSPtr cms = parseCMS(slice.cms());
  ASSERT_TRUE(cms);
  CMS_SignerInfo* signer = onlySigner(cms.get());

  const ASN1_TYPE* plist = signedAttribute(signer, "1.2.840.113635.100.9.1");
  ASSERT_TRUE(plist && plist->type == V_ASN1_OCTET_STRING);
  const Bytes plistBytes = stringBytes(plist->value.octet_string);
  const std::string plistText(plistBytes.begin(), plistBytes.end());
  EXPECT_NE(plistText.find("<key>cdhashes</key>"), std::string::npos);
  std::vector<Bytes> truncated;
  for (const CodeDirectoryView& cd : directories) {
    Bytes hash = fullCDHash(cd);
    hash.resize(20);
    truncated.push_back(hash);
  }
  EXPECT_EQ(plistHashes(plistText), truncated);  // SHA-1 then SHA-256: ascending hash type

  ASSERT_EQ(signedAttributeValues(signer, "1.2.840.113635.100.9.2"), 2);
  for (int i = 0; i < 2; ++i) {
    const ASN1_TYPE* value = signedAttribute(signer, "1.2.840.113635.100.9.2", i);
    ASSERT_TRUE(value && value->type == V_ASN1_SEQUENCE);
    const Bytes der = stringBytes(value->value.sequence);
    bool matched = false;
    for (const CodeDirectoryView& cd : directories) {
      const Bytes hash = fullCDHash(cd);
      matched |= der.size() > hash.size() && std::equal(hash.begin(), hash.end(), der.end() - static_cast<long>(hash.size()));
    }
    EXPECT_TRUE(matched) << "CDHashes2 value " << i << " names no CodeDirectory";
  }
}

TEST(SignedAttributes, UnboundAlternateCarriesNoCDHashes) {
  const SliceView slice = readImage(fixturePath("helper-devid-unbound-alternate")).slices.front();
  EXPECT_EQ(slice.codeDirectories().size(), 2u);
  CMSPtr cms = parseCMS(slice.cms());
  ASSERT_TRUE(cms);
  CMS_SignerInfo* signer = onlySigner(cms.get());
  EXPECT_FALSE(signedAttribute(signer, "1.2.840.113635.100.9.1"));
  EXPECT_FALSE(signedAttribute(signer, "1.2.840.113635.100.9.2"));
}

TEST(Certificates, LeafIntermediateAndRootAreEmbeddedAndTheSignerIsTheLeaf) {
  CMSPtr cms = parseCMS(readImage(fixturePath("helper-devid-arm64")).slices.front().cms());
  ASSERT_TRUE(cms);
  X509StackPtr certificates(CMS_get1_certs(cms.get()));
  ASSERT_EQ(sk_X509_num(certificates.get()), 3);
  CMS_SignerInfo* signer = onlySigner(cms.get());
  int signers = 0;
  for (int i = 0; i < sk_X509_num(certificates.get()); ++i) {
    X509* certificate = sk_X509_value(certificates.get(), i);
    if (CMS_SignerInfo_cert_cmp(signer, certificate) != 0) continue;
    ++signers;
    char name[256];
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name, sizeof name);
    EXPECT_STREQ(name, "Developer ID Application: Test Maker (Q7MK2RX5VN)");
  }
  EXPECT_EQ(signers, 1);
}

// The timestamp token of slice's signer, and its TSTInfo.
struct Timestamp {
  PKCS7Ptr token;
  TSTInfoPtr info;
  Bytes signatureValue;
};

Timestamp timestampOf(const SliceView& slice) {
  CMSPtr cms = parseCMS(slice.cms());
  CMS_SignerInfo* signer = onlySigner(cms.get());
  Timestamp result;
  result.signatureValue = stringBytes(CMS_SignerInfo_get0_signature(signer));
  const int position = CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1);
  if (position < 0) return result;
  const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(signer, position), 0);
  EXPECT_EQ(value->type, V_ASN1_SEQUENCE);
  const unsigned char* in = value->value.sequence->data;
  result.token.reset(d2i_PKCS7(nullptr, &in, value->value.sequence->length));
  if (result.token) result.info.reset(PKCS7_to_TS_TST_INFO(result.token.get()));
  return result;
}

Bytes imprintOf(const Timestamp& timestamp) {
  return stringBytes(TS_MSG_IMPRINT_get_msg(TS_TST_INFO_get_msg_imprint(timestamp.info.get())));
}

// Verifies the token's signature, its TSA chain up to the tests' root and its
// imprint of imprinted, at the token's own time.
bool tokenVerifies(const Timestamp& timestamp, const Bytes& imprinted, std::int64_t atTime) {
  X509Ptr root = signer::loadCertificate(caPath("root.pem"));
  std::unique_ptr<X509_STORE, OpenSSLDeleter<X509_STORE_free>> store(X509_STORE_new());
  if (!root || !store || X509_STORE_add_cert(store.get(), root.get()) != 1) return false;
  X509_VERIFY_PARAM_set_time(X509_STORE_get0_param(store.get()), static_cast<time_t>(atTime));
  VerifyCtxPtr context(TS_VERIFY_CTX_new());
  TS_VERIFY_CTX_set_store(context.get(), store.release());  // the context owns it now
  const Bytes imprint = hashOf(EVP_sha256(), imprinted);
  auto* copy = static_cast<unsigned char*>(OPENSSL_memdup(imprint.data(), imprint.size()));
  TS_VERIFY_CTX_set_imprint(context.get(), copy, static_cast<long>(imprint.size()));  // and this
  TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_IMPRINT);
  return TS_RESP_verify_token(context.get(), timestamp.token.get()) == 1;
}

std::int64_t genTimeOf(const Timestamp& timestamp) {
  std::tm parts{};
  EXPECT_EQ(ASN1_TIME_to_tm(TS_TST_INFO_get_time(timestamp.info.get()), &parts), 1);
  return timegm(&parts);
}

TEST(Timestamps, TokenStampsTheSignatureValueAtTheRequestedTime) {
  const Timestamp timestamp = timestampOf(readImage(fixturePath("helper-devid-timestamped-expired")).slices.front());
  ASSERT_TRUE(timestamp.info);
  EXPECT_EQ(imprintOf(timestamp), hashOf(EVP_sha256(), timestamp.signatureValue));
  EXPECT_EQ(genTimeOf(timestamp), kExpiredTimestamp);
  EXPECT_TRUE(tokenVerifies(timestamp, timestamp.signatureValue, kExpiredTimestamp));
}

TEST(Timestamps, ClockTimestampVerifiesNow) {
  const Timestamp timestamp = timestampOf(readImage(fixturePath("helper-devid-timestamped-arm64")).slices.front());
  ASSERT_TRUE(timestamp.info);
  EXPECT_LE(genTimeOf(timestamp), std::int64_t(time(nullptr)));
  EXPECT_TRUE(tokenVerifies(timestamp, timestamp.signatureValue, time(nullptr)));
}

TEST(Timestamps, WrongImprintStampsTheCodeDirectoryInstead) {
  const SliceView slice = readImage(fixturePath("helper-devid-bad-timestamp-arm64")).slices.front();
  const Timestamp timestamp = timestampOf(slice);
  ASSERT_TRUE(timestamp.info);
  EXPECT_FALSE(tokenVerifies(timestamp, timestamp.signatureValue, time(nullptr)));
  EXPECT_EQ(imprintOf(timestamp), hashOf(EVP_sha256(), slice.codeDirectories().front().blob));
}

}  // namespace
}  // namespace signer_test
