#include "CmsSignature.h"

#include <openssl/objects.h>

#include <algorithm>
#include <string>

namespace signer {

namespace {

constexpr const char* kCDHashesPlistOID = "1.2.840.113635.100.9.1";
constexpr const char* kCDHashesOID = "1.2.840.113635.100.9.2";
constexpr std::size_t kTruncatedCDHashSize = 20;

std::string base64(std::span<const std::uint8_t> bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// The property list Apple's signer writes: the 20-byte cdhash of every
// CodeDirectory, in ascending hash-type order, laid out as its serialiser
// does (tabs, data on its own line).
std::string cdHashesPlist(std::vector<CodeDirectoryBlob> directories) {
  std::stable_sort(directories.begin(), directories.end(),
                   [](const CodeDirectoryBlob& a, const CodeDirectoryBlob& b) { return a.hashType < b.hashType; });
  std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n\t<key>cdhashes</key>\n\t<array>\n";
  for (const CodeDirectoryBlob& directory : directories) {
    Bytes hash = digest(directory.hashType, directory.bytes);
    hash.resize(kTruncatedCDHashSize);
    plist += "\t\t<data>\n\t\t" + base64(hash) + "\n\t\t</data>\n";
  }
  return plist + "\t</array>\n</dict>\n</plist>\n";
}

// SEQUENCE { OBJECT IDENTIFIER digest, OCTET STRING full cdhash }: one value
// of the CDHashes2 attribute. Short-form lengths suffice: the longest value
// (SHA-384) is 61 bytes.
Bytes cdHashValue(const CodeDirectoryBlob& directory) {
  ASN1ObjectPtr oid(must(OBJ_txt2obj(digestOID(directory.hashType), 1), "parsing a digest OID"));
  const Bytes hash = digest(directory.hashType, directory.bytes);
  const std::size_t oidLength = OBJ_length(oid.get());
  BlobWriter out;
  out.u8(0x30);
  out.u8(static_cast<std::uint8_t>(2 + oidLength + 2 + hash.size()));
  out.u8(0x06);
  out.u8(static_cast<std::uint8_t>(oidLength));
  out.append({OBJ_get0_data(oid.get()), oidLength});
  out.u8(0x04);
  out.u8(static_cast<std::uint8_t>(hash.size()));
  out.append(hash);
  return out.take();
}

void addCDHashesPlist(CMS_SignerInfo* signer, const std::vector<CodeDirectoryBlob>& directories) {
  const std::string plist = cdHashesPlist(directories);
  ASN1ObjectPtr oid(must(OBJ_txt2obj(kCDHashesPlistOID, 1), "parsing the CDHashes OID"));
  mustSucceed(CMS_signed_add1_attr_by_OBJ(signer, oid.get(), V_ASN1_OCTET_STRING, plist.data(), static_cast<int>(plist.size())),
              "adding CDHashes");
}

void addSignedAttributes(CMS_SignerInfo* signer, const std::vector<CodeDirectoryBlob>& directories,
                         const CmsOptions& options) {
  if (options.signingTime) {
    ASN1TimePtr time(must(ASN1_TIME_adj(nullptr, static_cast<time_t>(*options.signingTime), 0, 0), "making the signing time"));
    mustSucceed(CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_signingTime, time->type, time.get(), -1), "adding signingTime");
  }
  const std::vector<CodeDirectoryBlob> bound =
      options.cdHashesPrimaryOnly ? std::vector<CodeDirectoryBlob>{directories.front()} : directories;
  if (options.cdHashesPlist) addCDHashesPlist(signer, bound);
  if (options.cdHashesDER) addCDHashesDER(signer, bound);
}

void addCertificates(CMS_ContentInfo* cms, const SigningIdentity& identity) {
  // The set is written in DER order, so the leaf has no fixed place among
  // them (in Apple's signatures it is often last): readers must find it by
  // the signer identifier.
  for (const X509Ptr& certificate : identity.chain) mustSucceed(CMS_add1_cert(cms, certificate.get()), "adding a certificate");
  mustSucceed(CMS_add1_cert(cms, identity.leaf.get()), "adding the leaf certificate");
}

void addTimestamp(CMS_SignerInfo* signer, const CmsOptions& options, const CodeDirectoryBlob& primary) {
  const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(signer);
  const std::span<const std::uint8_t> stamped =
      options.timestampWrongImprint
          ? std::span<const std::uint8_t>(primary.bytes)
          : std::span<const std::uint8_t>(ASN1_STRING_get0_data(signature), static_cast<std::size_t>(ASN1_STRING_length(signature)));
  const Bytes token = timestampToken(*options.timestamp, stamped);
  mustSucceed(CMS_unsigned_add1_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, token.data(),
                                            static_cast<int>(token.size())),
              "adding the timestamp");
}

}  // namespace

std::vector<CodeDirectoryBlob> codeDirectoryBlobs(const std::vector<Bytes>& directories) {
  std::vector<CodeDirectoryBlob> blobs;
  for (const Bytes& cd : directories) blobs.push_back({static_cast<HashType>(cd.at(37)), cd});
  return blobs;
}

void addCDHashesDER(CMS_SignerInfo* signer, const std::vector<CodeDirectoryBlob>& directories) {
  ASN1ObjectPtr oid(must(OBJ_txt2obj(kCDHashesOID, 1), "parsing the CDHashes2 OID"));
  X509AttributePtr attribute(must(X509_ATTRIBUTE_create_by_OBJ(nullptr, oid.get(), 0, nullptr, 0), "creating CDHashes2"));
  for (const CodeDirectoryBlob& directory : directories) {
    const Bytes value = cdHashValue(directory);
    mustSucceed(X509_ATTRIBUTE_set1_data(attribute.get(), V_ASN1_SEQUENCE, value.data(), static_cast<int>(value.size())),
                "adding a CDHashes2 value");
  }
  mustSucceed(CMS_signed_add1_attr(signer, attribute.get()), "adding CDHashes2");
}

Bytes cmsSignature(const SigningIdentity& identity, const std::vector<CodeDirectoryBlob>& codeDirectories,
                   const CmsOptions& options) {
  if (codeDirectories.empty()) throw SignerError("internal error: nothing to sign");
  const unsigned flags = CMS_BINARY | CMS_DETACHED | CMS_NOSMIMECAP | CMS_NOCERTS | CMS_PARTIAL;
  CMSPtr cms(must(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags), "starting the signature"));
  CMS_SignerInfo* signer =
      must(CMS_add1_signer(cms.get(), identity.leaf.get(), identity.key.get(), EVP_sha256(), flags), "adding the signer");
  addSignedAttributes(signer, codeDirectories, options);
  addCertificates(cms.get(), identity);
  const Bytes& primary = codeDirectories.front().bytes;
  BIOPtr content(must(BIO_new_mem_buf(primary.data(), static_cast<int>(primary.size())), "wrapping the CodeDirectory"));
  mustSucceed(CMS_final(cms.get(), content.get(), nullptr, flags), "signing the CodeDirectory");
  if (options.timestamp) addTimestamp(signer, options, codeDirectories.front());
  return encodeDER(cms.get(), i2d_CMS_ContentInfo, "the signature");
}

}  // namespace signer
