// The CMS signature and certificate chain, on synthetic files signed here
// with a certificate authority made for each test.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <map>
#include <memory>

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include "SyntheticMachO.h"
#include "TestFiles.h"
#include "common/TestSupport.h"
#include "signer/CertificateBuilder.h"
#include "signer/CmsSignature.h"
#include "signer/Timestamp.h"
#include "codesign/AppleRootCertificates.h"
#include "codesign/Base64.h"
#include "codesign/CDHashesPlist.h"
#include "codesign/CertificateChain.h"
#include "codesign/ExtraAnchors.h"
#include "codesign/SignatureDetails.h"
#include "codesign/Status.h"
#include "codesign/Validation.h"

using namespace codesign;
using namespace codesign_test;

namespace {

constexpr const char* kDeveloperIdCa = "1.2.840.113635.100.6.2.6";
constexpr const char* kDeveloperIdApplication = "1.2.840.113635.100.6.1.13";
constexpr long kDay = 86400;
constexpr SecCSFlags kToolFlags = kSecCSCheckAllArchitectures | kSecCSStrictValidate;

// What a certificate of the test authority carries.
struct CertSpec {
  std::string cn, ou;
  bool ca = false;
  std::string keyUsage = "critical,digitalSignature";  // empty: none
  std::string extendedKeyUsage = "critical,codeSigning";  // empty: none
  std::vector<std::pair<std::string, bool>> markers;      // extension OID, critical
  long notBefore = -kDay, notAfter = 365 * kDay;          // seconds from now
  bool rsa = false, md5 = false;                          // md5: signed with it, by an RSA issuer
  unsigned rsaBits = 2048;
};

// The signer's profile for a certificate of the test authority.
signer::CertificateProfile profileOf(const CertSpec& wanted) {
  signer::CertificateProfile profile;
  profile.subject = {{"CN", wanted.cn}};
  for (std::size_t at = 0; at < wanted.ou.size();) {  // comma-separated: one OU each, in order
    const std::string ou = wanted.ou.substr(at, wanted.ou.find(',', at) - at);
    profile.subject.emplace_back("OU", ou);
    at += ou.size() + 1;
  }
  profile.configured = {{NID_basic_constraints, wanted.ca ? "critical,CA:TRUE" : "critical,CA:FALSE"}};
  if (wanted.ca || !wanted.keyUsage.empty())
    profile.configured.emplace_back(NID_key_usage, wanted.ca ? "critical,keyCertSign,cRLSign" : wanted.keyUsage);
  if (!wanted.extendedKeyUsage.empty()) profile.configured.emplace_back(NID_ext_key_usage, wanted.extendedKeyUsage);
  for (const auto& [oid, critical] : wanted.markers) profile.extensions.push_back(signer::markerExtension(oid, critical));
  const std::int64_t now = std::time(nullptr);
  profile.notBefore = now + wanted.notBefore, profile.notAfter = now + wanted.notAfter;
  profile.rsa = wanted.rsa, profile.md5 = wanted.md5, profile.rsaBits = wanted.rsaBits;
  return profile;
}

CertSpec caCertificate(const std::string& cn, std::vector<std::pair<std::string, bool>> markers) {
  CertSpec profile;
  profile.cn = cn, profile.ca = true, profile.extendedKeyUsage = "", profile.markers = std::move(markers);
  return profile;
}

// Root, Developer ID-like intermediate and leaf, with what to sign.
struct Authority {
  CertSpec rootSpec = caCertificate("Test Root", {});
  CertSpec caSpec = caCertificate("Test Developer ID CA", {{kDeveloperIdCa, false}});
  CertSpec leafSpec{"Developer ID Application: Test", "ABCDE12345", false, "critical,digitalSignature",
                    "critical,codeSigning", {{kDeveloperIdApplication, true}}};
  std::function<void(std::vector<Bytes>&)> editDirectories;  // what the CDHashes attributes list
  bool plistAttribute = false, listAttribute = true, plistTwice = false;
  bool plistCut = false, plistAttributeTwice = false;  // the list cut in half; two attributes
  bool signOtherContent = false, attached = false, unknownDigest = false;
  bool omitRoot = false, offerRoot = false;  // leave the root out of the CMS; offer it as an anchor
  Bytes trailer;                             // after the CMS, in its blob
  std::size_t padTo = 0;                     // when not 0, zeros after the CMS up to this size
  int unrelated = 0;                         // self-signed certificates added to the CMS
  enum class Stamp { none, sound, forged, twice } timestamp = Stamp::none;  // a token from an authority under the root
  bool omitLeaf = false, selfSigned = false;  // selfSigned: the leaf is its own root
  bool twoSigners = false;                     // the leaf signs twice
  bool noSignedAttributes = false;             // with listAttribute false: no signing time either
  long signedAgo = 0;  // when not 0, the signing time claimed, in seconds before now
  bool generalized = false;  // written as GeneralizedTime, as after 2049
  mutable Bytes rootDer;

  Bytes sign(const Bytes& content, const std::vector<Bytes>& directories) const;
};


std::string cdhashesPlist(const std::vector<Bytes>& directories) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n<!-- a remark -->\t<key>cdhashes</key>\n\t<array>\n";
  for (const Bytes& cd : directories) {
    char text[29] = {};  // base64 of the 20-byte cdhash
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text), signer::digest(static_cast<signer::HashType>(cd[37]), cd).data(), 20);
    xml += "\t\t<data>\n\t\t" + std::string(text) + "\n\t\t</data>\n";
  }
  return xml + "\t</array>\n</dict>\n</plist>\n";
}

Bytes Authority::sign(const Bytes& content, const std::vector<Bytes>& directoriesIn) const {
  const auto root = signer::issueCertificate(profileOf(rootSpec), nullptr);
  const auto ca = signer::issueCertificate(profileOf(caSpec), &root);
  const auto leaf = signer::issueCertificate(profileOf(leafSpec), selfSigned ? nullptr : &ca);
  STACK_OF(X509)* chain = sk_X509_new_null();
  if (!selfSigned) sk_X509_push(chain, ca.certificate.get());
  if (!omitRoot && !selfSigned) sk_X509_push(chain, root.certificate.get());
  std::vector<signer::IssuedCertificate> others;
  for (int i = 0; i < unrelated; ++i) {
    others.push_back(signer::issueCertificate(profileOf(caCertificate("Unrelated " + std::to_string(i), {})), nullptr));
    sk_X509_push(chain, others.back().certificate.get());
  }
  rootDer = signer::certificateDER((selfSigned ? leaf : root).certificate.get());
  Bytes signedBytes = content;
  if (signOtherContent) signedBytes[20] ^= 1;
  BIO* data = BIO_new_mem_buf(signedBytes.data(), static_cast<int>(signedBytes.size()));
  const unsigned flags = (attached ? 0 : CMS_DETACHED) | CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
  CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, chain, nullptr, flags);
  CMS_SignerInfo* si = CMS_add1_signer(cms, leaf.certificate.get(), leaf.key.get(), EVP_sha256(),
                                       flags | (omitLeaf ? CMS_NOCERTS : 0) | (noSignedAttributes ? CMS_NOATTR : 0));
  if (twoSigners) CMS_add1_signer(cms, leaf.certificate.get(), leaf.key.get(), EVP_sha384(), flags | CMS_NOCERTS);
  std::vector<Bytes> directories = directoriesIn;
  if (editDirectories) editDirectories(directories);
  if (listAttribute && !directories.empty()) signer::addCDHashesDER(si, signer::codeDirectoryBlobs(directories));
  std::string xml = plistAttribute ? cdhashesPlist(directories) : std::string();
  if (plistCut) xml.resize(xml.size() / 2);
  for (int copy = 0; plistAttribute && copy < (plistAttributeTwice ? 2 : 1); ++copy) {
    X509_ATTRIBUTE* attribute = nullptr;
    for (int i = 0; i < (plistTwice ? 2 : 1); ++i)  // twice: two values of one attribute
      X509_ATTRIBUTE_create_by_txt(&attribute, "1.2.840.113635.100.9.1", V_ASN1_OCTET_STRING,
                                   reinterpret_cast<const unsigned char*>(xml.data()), static_cast<int>(xml.size()));
    CMS_signed_add1_attr(si, attribute), X509_ATTRIBUTE_free(attribute);
  }
  if (signedAgo != 0) {
    ASN1_TIME* at = (generalized ? ASN1_GENERALIZEDTIME_adj : ASN1_TIME_adj)(nullptr, std::time(nullptr) - signedAgo, 0, 0);
    CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, at->type, at, -1), ASN1_TIME_free(at);
  }
  CMS_final(cms, data, nullptr, flags);
  if (timestamp != Stamp::none) {
    CertSpec tsaSpec{"Test Time Stamping", "", false, "critical,digitalSignature", "critical,timeStamping", {}};
    auto tsa = signer::issueCertificate(profileOf(tsaSpec), &root);
    signer::TimestampAuthority authority{std::move(tsa.certificate), std::move(tsa.key), {}, std::nullopt};
    authority.chain.emplace_back(X509_dup(root.certificate.get()));
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(si);
    Bytes token = signer::timestampToken(authority, {ASN1_STRING_get0_data(value), static_cast<std::size_t>(ASN1_STRING_length(value))});
    if (timestamp == Stamp::forged) token.back() ^= 1;  // the last byte of the authority's signature
    const int size = static_cast<int>(token.size());
    X509_ATTRIBUTE* attribute = X509_ATTRIBUTE_create_by_NID(nullptr, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, token.data(), size);
    if (timestamp == Stamp::twice) X509_ATTRIBUTE_set1_data(attribute, V_ASN1_SEQUENCE, token.data(), size);
    CMS_unsigned_add1_attr(si, attribute), X509_ATTRIBUTE_free(attribute);
  }
  unsigned char* der = nullptr;
  const int length = i2d_CMS_ContentInfo(cms, &der);
  Bytes out(der, der + length);
  out.insert(out.end(), trailer.begin(), trailer.end());
  if (padTo != 0) out.resize(padTo, 0);
  if (unknownDigest) {  // the first SHA-256 OID is the one in digestAlgorithms
    const Bytes sha256Oid{0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    const auto at = std::search(out.begin(), out.end(), sha256Oid.begin(), sha256Oid.end());
    if (at != out.end()) at[10] = 0x7f;
  }
  OPENSSL_free(der), CMS_ContentInfo_free(cms), BIO_free(data), sk_X509_free(chain);
  return out;
}

bool trustAny(const SHA256Digest&) { return true; }
bool trustNone(const SHA256Digest&) { return false; }

struct CmsCase {
  const char* name;
  std::function<void(Authority&, SyntheticOptions&)> change;
  OSStatus expected;
  AnchorPredicate anchor = trustAny;
};

class SignedFile : public testing::TestWithParam<CmsCase> {};

// What a failure says: the certificate by index (leaf 0) and subject and
// its fault, or the CMS attribute that does not hold. Matched as a part.
const std::map<std::string, std::string> kReasons = {
    {"RootNotPinned", "certificate 2 (CN=Test Root) is not trusted: it is a root that is not a trusted anchor"},
    {"RootLeftOutNoneOffered", "certificate 1 (CN=Test Developer ID CA) is not trusted: no trusted anchor issued it"},
    {"NoCodeSigningUsage", "certificate 0 (CN=Developer ID Application: Test,OU=ABCDE12345) lacks the code signing"},
    {"NoKeyUsage", "certificate 0 (CN=Developer ID Application: Test,OU=ABCDE12345) lacks the digital signature"},
    {"UnknownCriticalExtension", "certificate 0 (CN=Developer ID Application: Test,OU=ABCDE12345) has an unknown"},
    {"IntermediateUsageExcludesCodeSigning", "certificate 1 (CN=Test Developer ID CA) does not allow code signing"},
    {"LeafKeyOf1016Bits", "certificate 0 (CN=Developer ID Application: Test,OU=ABCDE12345) has a key or signature too weak"},
    {"IntermediateSignedWithMd5", "certificate 1 (CN=Test Developer ID CA) has a key or signature too weak"},
    {"IssuerNotCa", "certificate 1 (CN=Test Developer ID CA) is used as an authority without the basic constraints"},
    {"TeamDiffers", "the team identifier ABCDE12345 is not the signing certificate's team ZZZZZ99999"},
    {"ExpiredLeafEnforced", "has expired and expiry is enforced"},
    {"TimestampForged", "the timestamp's own signature does not verify"},
    {"TimestampTwice", "the timestamp is not a single token"},
    {"OtherContentSigned", "the CMS signature does not match the CodeDirectory"},
    {"TwoSigners", "the CMS signature does not decode to one signer"},
    {"AlternateUnbound", "no CDHashes attribute binds the alternate CodeDirectories"},
    {"AlternateHashWrong", "the CDHashes2 attribute does not list the CodeDirectories' hashes"},
    {"PlistMissingOne", "the CDHashes attribute does not list the CodeDirectories' hashes"},
    {"PlistAttributeTwice", "a CDHashes attribute appears twice"},
};

TEST_P(SignedFile, Answers) {
  Authority authority;
  SyntheticOptions options;
  options.flags = 0x10000;  // hardened runtime, signed by a certificate
  options.team = "ABCDE12345";
  GetParam().change(authority, options);
  options.signer = [&](const Bytes& content, const std::vector<Bytes>& all) { return authority.sign(content, all); };
  const Bytes file = buildSignedMachO(options);
  const std::vector<Bytes> offered{authority.rootDer};
  FailureDetail detail;
  const ValidationPolicy policy{GetParam().anchor, std::time(nullptr),
                                authority.offerRoot ? std::span(offered) : std::span<const Bytes>(), &detail};
  const OSStatus status = checkValidity(MemorySource(file), kToolFlags, nullptr, policy);
  EXPECT_EQ(status, GetParam().expected);
  EXPECT_EQ(detail.reason.empty(), status == errSecSuccess) << detail.reason;
  if (const auto found = kReasons.find(GetParam().name); found != kReasons.end()) {
    EXPECT_THAT(detail.reason, testing::HasSubstr(found->second));
  }
}

void nothing(Authority&, SyntheticOptions&) {}

// Another team in a leaf that carries only the given Apple developer marker.
template <int kMarker>
void otherTeamUnderMarker(Authority& a, SyntheticOptions&) {
  a.leafSpec.ou = "ZZZZZ99999", a.leafSpec.markers = {{"1.2.840.113635.100.6.1." + std::to_string(kMarker), false}};
}

// No row for what OpenSSL never gives once it has parsed a CMS: a
// certificate that does not re-encode, one without a key, a zero DER length,
// a failed allocation, a negative value count, an empty set of signed
// attributes, a signing time of other than one time value, a stamp without
// content. Nor for a signer whose certificate is missing (the signature
// check then fails as the search does), a second attribute found at index 0
// (it is always after the first), or a loop over certificates, extensions or
// policies stepping onto the NULL past their end (it is skipped).
INSTANTIATE_TEST_SUITE_P(
    Chains, SignedFile,
    testing::Values(
        CmsCase{"DeveloperId", nothing, 0},
        CmsCase{"RootNotPinned", nothing, CSSMERR_TP_NOT_TRUSTED, trustNone},
        CmsCase{"RootLeftOutPinnedOne", [](Authority& a, auto&) { a.omitRoot = a.offerRoot = true; }, 0},
        CmsCase{"RootLeftOutNoneOffered", [](Authority& a, auto&) { a.omitRoot = true; }, CSSMERR_TP_NOT_TRUSTED},
        CmsCase{"RootLeftOutOfferedNotPinned", [](Authority& a, auto&) { a.omitRoot = a.offerRoot = true; },
                CSSMERR_TP_NOT_TRUSTED, trustNone},
        CmsCase{"NoCodeSigningUsage", [](Authority& a, auto&) { a.leafSpec.extendedKeyUsage = "emailProtection"; },
                CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE},
        CmsCase{"NoExtendedKeyUsage", [](Authority& a, auto&) { a.leafSpec.extendedKeyUsage = ""; },
                CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE},
        CmsCase{"KeyUsageWithoutSignature", [](Authority& a, auto&) { a.leafSpec.keyUsage = "critical,keyEncipherment"; },
                CSSMERR_APPLETP_INVALID_KEY_USAGE},
        CmsCase{"NoKeyUsage", [](Authority& a, auto&) { a.leafSpec.keyUsage = ""; }, CSSMERR_APPLETP_INVALID_KEY_USAGE},
        CmsCase{"UnknownCriticalExtension", [](Authority& a, auto&) { a.leafSpec.markers.push_back({"1.2.3.4", true}); },
                CSSMERR_APPLETP_UNKNOWN_CRITICAL_EXTEN},
        CmsCase{"UnknownCriticalExtensionLongOid",  // its dotted text does not fit the engine's buffer
                [](Authority& a, auto&) {
                  std::string oid = "1.3";
                  for (int i = 0; i < 20; ++i) oid += ".7777777";
                  a.leafSpec.markers.push_back({oid, true});
                },
                CSSMERR_APPLETP_UNKNOWN_CRITICAL_EXTEN},
        CmsCase{"CriticalUnderAppleArcs",
                [](Authority& a, auto&) {
                  for (const char* arc : {"6.9", "11.1", "12.1", "13.1", "15.1"})
                    a.leafSpec.markers.push_back({std::string("1.2.840.113635.100.") + arc, true});
                },
                0},
        CmsCase{"CriticalUnderOtherAppleArc",
                [](Authority& a, auto&) { a.leafSpec.markers.push_back({"1.2.840.113635.100.7.1", true}); },
                CSSMERR_APPLETP_UNKNOWN_CRITICAL_EXTEN},
        CmsCase{"IntermediateUsageExcludesCodeSigning",
                [](Authority& a, auto&) { a.caSpec.extendedKeyUsage = "emailProtection"; },
                CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE},
        CmsCase{"RootUsageExcludesCodeSigning", [](Authority& a, auto&) { a.rootSpec.extendedKeyUsage = "emailProtection"; },
                0},
        CmsCase{"SelfSignedLeaf", [](Authority& a, auto&) { a.selfSigned = true; }, 0},
        CmsCase{"LeafKeyOf1024Bits", [](Authority& a, auto&) { a.leafSpec.rsa = true, a.leafSpec.rsaBits = 1024; }, 0},
        CmsCase{"LeafKeyOf1016Bits", [](Authority& a, auto&) { a.leafSpec.rsa = true, a.leafSpec.rsaBits = 1016; },
                CSSMERR_TP_INVALID_CERTIFICATE},
        CmsCase{"RootSignedWithMd5", [](Authority& a, auto&) { a.rootSpec.rsa = a.rootSpec.md5 = true; }, 0},
        CmsCase{"IntermediateSignedWithMd5", [](Authority& a, auto&) { a.rootSpec.rsa = a.caSpec.md5 = true; },
                CSSMERR_TP_INVALID_CERTIFICATE},
        CmsCase{"IntermediateUsageAny", [](Authority& a, auto&) { a.caSpec.extendedKeyUsage = "anyExtendedKeyUsage"; },
                0},
        CmsCase{"IssuerNotCa", [](Authority& a, auto&) { a.caSpec.ca = false, a.caSpec.keyUsage = "critical,digitalSignature"; },
                CSSMERR_APPLETP_NO_BASIC_CONSTRAINTS},
        CmsCase{"TeamDiffers", [](Authority& a, auto&) { a.leafSpec.ou = "ZZZZZ99999"; }, errSecCSBadTeamIdentifier},
        CmsCase{"TeamIsTheFirstOfTwoOUs", [](Authority& a, auto&) { a.leafSpec.ou = "ABCDE12345,ZZZZZ99999"; }, 0},
        CmsCase{"TeamIsNotTheLastOfTwoOUs", [](Authority& a, auto&) { a.leafSpec.ou = "ZZZZZ99999,ABCDE12345"; },
                errSecCSBadTeamIdentifier},
        CmsCase{"TeamCheckedOnlyForDeveloperChains",
                [](Authority& a, auto&) { a.leafSpec.ou = "ZZZZZ99999", a.leafSpec.markers.clear(); }, 0},
        CmsCase{"TeamCheckedUnderMarker2", otherTeamUnderMarker<2>, errSecCSBadTeamIdentifier},
        CmsCase{"TeamCheckedUnderMarker4", otherTeamUnderMarker<4>, errSecCSBadTeamIdentifier},
        CmsCase{"TeamCheckedUnderMarker7", otherTeamUnderMarker<7>, errSecCSBadTeamIdentifier},
        CmsCase{"TeamCheckedUnderMarker12", otherTeamUnderMarker<12>, errSecCSBadTeamIdentifier},
        CmsCase{"ExpiredLeafTolerated", [](Authority& a, auto&) { a.leafSpec.notAfter = -60; }, 0},
        CmsCase{"ExpiredLeafEnforced",
                [](Authority& a, SyntheticOptions& o) { a.leafSpec.notAfter = -60, o.flags |= 0x400; },
                CSSMERR_TP_CERT_EXPIRED},
        CmsCase{"ExpiredLeafSignedInTime",  // judged at the signing time it claims
                [](Authority& a, SyntheticOptions& o) { a.leafSpec.notAfter = -60, a.signedAgo = 120, o.flags |= 0x400; }, 0},
        CmsCase{"ExpiredLeafSignedInTimeGeneralized", [](Authority& a, SyntheticOptions& o) {
                  a.leafSpec.notAfter = -60, a.signedAgo = 120, a.generalized = true, o.flags |= 0x400; }, 0},
        CmsCase{"SixteenCertificates", [](Authority& a, auto&) { a.unrelated = 13; }, 0},
        CmsCase{"SeventeenCertificates", [](Authority& a, auto&) { a.unrelated = 14; }, errSecCSSignatureFailed},
        CmsCase{"SignerCertificateLeftOut", [](Authority& a, auto&) { a.omitLeaf = true; }, errSecCSSignatureFailed},
        CmsCase{"Timestamped", [](Authority& a, auto&) { a.timestamp = Authority::Stamp::sound; }, 0},
        CmsCase{"TimestampForged", [](Authority& a, auto&) { a.timestamp = Authority::Stamp::forged; },
                errSecTimestampInvalid},
        CmsCase{"TimestampTwice", [](Authority& a, auto&) { a.timestamp = Authority::Stamp::twice; }, errSecTimestampInvalid},
        CmsCase{"TwoSigners", [](Authority& a, auto&) { a.twoSigners = true; }, errSecCSSignatureFailed},
        CmsCase{"NotYetValidLeafTolerated", [](Authority& a, auto&) { a.leafSpec.notBefore = 3600; }, 0},
        CmsCase{"OtherContentSigned", [](Authority& a, auto&) { a.signOtherContent = true; }, errSecCSSignatureFailed},
        CmsCase{"ZerosAfterTheCms", [](Authority& a, auto&) { a.trailer.assign(64, 0); }, 0},
        CmsCase{"ByteAfterTheCms", [](Authority& a, auto&) { a.trailer = {0, 1}; }, errSecCSSignatureFailed},
        CmsCase{"AsLargeAsAnyCms", [](Authority& a, SyntheticOptions& o) { a.padTo = 1u << 20, o.cmsReserve = (1u << 20) + 0x4000; }, 0},
        CmsCase{"LargerThanAnyCms", [](Authority& a, SyntheticOptions& o) {
                  a.padTo = (1u << 20) + 1, o.cmsReserve = (1u << 20) + 0x4000; }, errSecCSSignatureFailed},
        CmsCase{"ContentAttached", [](Authority& a, auto&) { a.attached = true; }, errSecCSSignatureFailed},
        // Also a leak check under the sanitizers: OpenSSL gives up setting up the digests.
        CmsCase{"UnknownDigestAlgorithm", [](Authority& a, auto&) { a.unknownDigest = true; }, errSecCSSignatureFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// A malformed CDHashes2 entry needs no case of its own: the entries must
// number exactly the directories, so any entry that names none leaves a
// directory unmatched whether or not the entry itself is refused. Nor can
// an entry carry bytes after its SEQUENCE: OpenSSL hands each attribute
// value over as one whole element.
INSTANTIATE_TEST_SUITE_P(
    Agility, SignedFile,
    testing::Values(
        CmsCase{"TwoDirectoriesBound", [](auto&, SyntheticOptions& o) { o.hashTypes = {1, 2}; }, 0},
        CmsCase{"TwoDirectoriesBoundByPlist",
                [](Authority& a, SyntheticOptions& o) { o.hashTypes = {1, 2}, a.listAttribute = false, a.plistAttribute = true; },
                0},
        CmsCase{"TwoDirectoriesBoundByBoth",
                [](Authority& a, SyntheticOptions& o) { o.hashTypes = {1, 2}, a.plistAttribute = true; }, 0},
        CmsCase{"TruncatedSha256", [](auto&, SyntheticOptions& o) { o.hashTypes = {3}; }, 0},
        CmsCase{"UnknownSignedTypeAlternateUnbound",
                [](Authority& a, SyntheticOptions& o) { o.hashTypes = {9, 2}, a.listAttribute = false; },
                errSecCSSignatureFailed},
        CmsCase{"AlternateUnbound",
                [](Authority& a, SyntheticOptions& o) { o.hashTypes = {1, 2}, a.listAttribute = false; },
                errSecCSSignatureFailed},
        CmsCase{"AlternateMissingFromList",
                [](Authority& a, SyntheticOptions& o) {
                  o.hashTypes = {1, 2}, a.editDirectories = [](auto& d) { d.pop_back(); };
                },
                errSecCSSignatureFailed},
        CmsCase{"DirectoryListedTwice", [](Authority& a, auto&) { a.editDirectories = [](auto& d) { d.push_back(d[0]); }; },
                errSecCSSignatureFailed},
        CmsCase{"AlternateHashWrong",
                [](Authority& a, SyntheticOptions& o) {
                  o.hashTypes = {1, 2}, a.editDirectories = [](auto& d) { d.back()[50] ^= 1; };
                },
                errSecCSSignatureFailed},
        CmsCase{"PlistMissingOne", [](Authority& a, SyntheticOptions& o) {
                  o.hashTypes = {1, 2}, a.listAttribute = false, a.plistAttribute = true, a.editDirectories = [](auto& d) { d.pop_back(); }; },
                errSecCSSignatureFailed},
        CmsCase{"PlistCut", [](Authority& a, SyntheticOptions& o) {
                  o.hashTypes = {1, 2}, a.listAttribute = false, a.plistAttribute = a.plistCut = true; }, errSecCSSignatureFailed},
        CmsCase{"PlistAttributeTwice", [](Authority& a, SyntheticOptions& o) {
                  o.hashTypes = {1, 2}, a.listAttribute = false, a.plistAttribute = a.plistAttributeTwice = true; }, errSecCSSignatureFailed},
        CmsCase{"PlistGivenTwice", [](Authority& a, SyntheticOptions& o) {
                  o.hashTypes = {1, 2}, a.listAttribute = false, a.plistAttribute = a.plistTwice = true; }, errSecCSSignatureFailed},
        CmsCase{"PlistOrderWrong",
                [](Authority& a, SyntheticOptions& o) {
                  o.hashTypes = {1, 2}, a.listAttribute = false, a.plistAttribute = true;
                  a.editDirectories = [](auto& d) { std::swap(d[0], d[1]); };
                },
                errSecCSSignatureFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// Base64 as property lists carry it: spaces anywhere, '=' only to fill the
// last quantum, and no bits left over.
// Only the root a chain ends at decides an anchor clause, and only when the
// policy trusts that root: a chain that merely verified proves nothing.
TEST(CertificateChain, AnAnchorClauseAsksTheRootItself) {
  const auto root = signer::issueCertificate(profileOf(caCertificate("Test Root", {})), nullptr);
  CertSpec leafSpec;
  leafSpec.cn = "Leaf";
  const auto leaf = signer::issueCertificate(profileOf(leafSpec), &root);
  const Bytes rootDer = signer::certificateDER(root.certificate.get());
  const Bytes leafDer = signer::certificateDER(leaf.certificate.get());
  const auto rootOnly = [&](const SHA256Digest& print) { return print == *fingerprint(rootDer); };
  const auto leafOnly = [&](const SHA256Digest& print) { return print == *fingerprint(leafDer); };
  const std::vector<Bytes> chain{leafDer, rootDer};
  EXPECT_TRUE(endsAtAnchor(chain, rootOnly));
  EXPECT_FALSE(endsAtAnchor(chain, trustNone));
  EXPECT_FALSE(endsAtAnchor(chain, leafOnly));  // trusted, but not where the chain ends
  EXPECT_FALSE(endsAtAnchor({}, trustAny));
}

// What a signature says of its signer, for display: its certificates from
// the signer's up by issuer, whatever order the CMS lists them in and
// without the unrelated ones; a root it left out taken from those offered;
// its times, read whether or not they would verify.
TEST(SignatureDetails, ChainOrderAndTimes) {
  const std::vector<std::string> chain{"Developer ID Application: Test", "Test Developer ID CA", "Test Root"};
  const struct {
    const char* name;
    std::function<void(Authority&)> change;
    bool offerRoot;
    std::vector<std::string> names;
    bool signingTime, timestamp;
  } cases[] = {
      {"with unrelated certificates", [](Authority& a) { a.unrelated = 2; }, false, chain, true, false},
      {"root left out", [](Authority& a) { a.omitRoot = true; }, false, {chain[0], chain[1]}, true, false},
      {"root left out and offered", [](Authority& a) { a.omitRoot = true; }, true, chain, true, false},
      {"self-signed leaf", [](Authority& a) { a.selfSigned = true; }, true, {chain[0]}, true, false},
      {"forged timestamp", [](Authority& a) { a.timestamp = Authority::Stamp::forged; }, false, chain, true, true},
      {"no signed attributes", [](Authority& a) { a.listAttribute = false, a.noSignedAttributes = true; }, false,
       chain, false, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Authority authority;
    authority.signedAgo = 7 * kDay;
    test.change(authority);
    if (authority.noSignedAttributes) authority.signedAgo = 0;
    const Bytes cms = authority.sign(Bytes(64, 0x5a), {});
    const std::vector<Bytes> offered{authority.rootDer};
    SignatureDetails details;
    ASSERT_EQ(readSignatureDetails(cms, test.offerRoot ? std::span(offered) : std::span<const Bytes>(), &details),
              errSecSuccess);
    std::vector<std::string> names;
    for (const Bytes& der : details.certificates) names.push_back(commonName(der).value_or("?"));
    EXPECT_EQ(names, test.names);
    const auto now = static_cast<double>(std::time(nullptr));
    EXPECT_EQ(details.signingTime.has_value(), test.signingTime);
    if (details.signingTime) {
      EXPECT_NEAR(static_cast<double>(*details.signingTime), now - 7 * kDay, 60);
    }
    EXPECT_EQ(details.timestamp.has_value(), test.timestamp);
    if (details.timestamp) {
      EXPECT_NEAR(static_cast<double>(*details.timestamp), now, 60);
    }
  }
  SignatureDetails details;
  EXPECT_EQ(readSignatureDetails(Bytes{0x30, 0x03, 0x02, 0x01, 0x01}, {}, &details), errSecCSSignatureFailed);
}

TEST(Base64, DecodesWholeQuantaOnly) {
  const std::pair<std::string, std::optional<Bytes>> cases[] = {
      {"", Bytes{}}, {"AA==", Bytes{0}}, {"AAE=", Bytes{0, 1}}, {" A A\nE\tC\r", Bytes{0, 1, 2}},
      {"Zz09aAz9+/+/", Bytes{103, 61, 61, 104, 12, 253, 251, 255, 191}}, {"AA=A", {}}, {"AAE", {}},
      {"AB==", {}}, {"A===", {}}, {"AAAA=", {}}, {"AA*A", {}}, {"AAA==", {}}};
  for (const auto& [text, bytes] : cases) {
    Bytes out;
    EXPECT_EQ(decodeBase64(text, &out) ? std::optional(out) : std::nullopt, bytes) << text;
  }
}

// The CDHashes property list has exactly one shape, and at most 16 hashes.
TEST(CDHashesPlist, OneKeyListingDataOnly) {
  const auto list = [](const std::string& body) { return "<plist><dict>" + body + "</dict></plist>"; };
  const auto hashes = [&](int n, const std::string& item) {
    std::string items;
    for (int i = 0; i < n; ++i) items += item;
    return list("<key>cdhashes</key><array>" + items + "</array>");
  };
  const std::pair<std::string, bool> cases[] = {
      {hashes(16, "<data>AAEC</data>"), true}, {hashes(17, "<data>AAEC</data>"), false},
      {hashes(0, ""), false}, {hashes(1, "<data>A</data>"), false}, {hashes(1, "<string>AAEC</string>"), false},
      {list("<key>cdhashes</key><data>AAEC</data>"), false}, {list("<key>other</key><array/>"), false},
      {list("<key>cdhashes</key><array><data>AAEC</data></array><key>x</key><true/>"), false}, {"<dict>", false}};
  for (const auto& [xml, valid] : cases) {
    std::vector<Bytes> listed;
    EXPECT_EQ(parseCDHashesPlist(xml, &listed), valid) << xml;
    if (valid) { EXPECT_EQ(listed, std::vector<Bytes>(16, Bytes{0, 1, 2})); }
  }
}

TEST(SignedFileBlob, EmptyMissingOrMalformedCmsFails) {
  const std::pair<std::function<Bytes(const Bytes&, const std::vector<Bytes>&)>, OSStatus> cases[] = {
      {[](const Bytes&, const std::vector<Bytes>&) { return Bytes{}; }, errSecCSSignatureFailed},
      {nullptr, errSecCSUnsigned},
      {[](const Bytes&, const std::vector<Bytes>&) { return Bytes(40, 0x30); }, errSecCSSignatureFailed},
  };
  for (const auto& [signer, expected] : cases) {
    SyntheticOptions options;
    options.flags = 0, options.signer = signer;
    const ValidationPolicy policy{trustAny, 0, {}};
    EXPECT_EQ(checkValidity(MemorySource(buildSignedMachO(options)), kToolFlags, nullptr, policy), expected);
  }
}

// The engine's own copies of Apple's roots and its pinned fingerprints,
// against the roots as published.
TEST(AppleRoots, PinnedAndCarriedAsPublished) {
  const char* names[] = {"AppleRootCA", "AppleRootG2", "AppleRootG3", "ApplePlatformBackportRSARootG1",
                         "ApplePlatformBackportECCRootG1"};
  const std::vector<Bytes> carried = appleRootCertificates();
  ASSERT_EQ(carried.size(), std::size(names));
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const auto cert = signer::loadCertificate(std::string(CODESIGN_APPLE_ROOTS_DIR) + "/" + names[i] + ".pem");
    Bytes der = signer::certificateDER(cert.get());
    EXPECT_EQ(carried[i], der) << names[i];
    const auto print = fingerprint(der);
    ASSERT_TRUE(print);
    EXPECT_TRUE(isTrustedAnchor(*print)) << names[i];
    der[der.size() / 2] ^= 1;
    EXPECT_FALSE(isTrustedAnchor(*fingerprint(der))) << names[i];
  }
}

// A root named for one check: one certificate, as DER or in a PEM text.
// A file past 2 GiB, which no test writes, has no row.
TEST(ExtraAnchors, FileHoldsExactlyOneCertificate) {
  const Bytes pem = readFile(std::string(CODESIGN_APPLE_ROOTS_DIR) + "/AppleRootCA.pem");
  const Bytes der = signer::certificateDER(signer::loadCertificate(std::string(CODESIGN_APPLE_ROOTS_DIR) + "/AppleRootCA.pem").get());
  Bytes described{'r', 'o', 'o', 't', '\n'}, derAndMore = der;
  described.insert(described.end(), pem.begin(), pem.end()), derAndMore.push_back(0);
  for (const Bytes& bytes : {pem, der, described}) EXPECT_EQ(anchorFingerprint(bytes), fingerprint(der));
  for (const Bytes& bytes : {derAndMore, Bytes{}, Bytes(40, 0x30)}) EXPECT_EQ(anchorFingerprint(bytes), std::nullopt);
  // The root it names ends a chain beside the pinned ones.
  Authority authority;
  SyntheticOptions options;
  options.flags = 0x10000, options.team = "ABCDE12345";
  options.signer = [&](const Bytes& content, const std::vector<Bytes>& all) { return authority.sign(content, all); };
  const testing_support::TemporaryDirectory dir;
  writeFile(dir / "code", buildSignedMachO(options));
  StaticCodeRef code;
  ASSERT_EQ(SecStaticCodeCreateWithPath(platform::FileURL{dir / "code"}, 0, &code), 0);
  const SHA256Digest root = *fingerprint(authority.rootDer), other = *fingerprint(der);
  for (const auto& [anchors, expected] : {std::pair{std::vector{other, root}, 0}, {std::vector{other}, CSSMERR_TP_NOT_TRUSTED}})
    EXPECT_EQ(staticCodeCheckValidityWithAnchors(code.get(), kToolFlags, nullptr, anchors), expected);
}

}  // namespace
