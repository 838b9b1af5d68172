#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Bytes.h"
#include "Digest.h"
#include "OpenSSLSupport.h"
#include "Timestamp.h"

namespace signer {

// The signing certificate, its key, and the certificates that go with it
// into the signature (issuers and root).
struct SigningIdentity {
  X509Ptr leaf;
  EVPKeyPtr key;
  std::vector<X509Ptr> chain;
};

struct CodeDirectoryBlob {
  HashType hashType;
  Bytes bytes;
};

struct CmsOptions {
  std::optional<std::int64_t> signingTime;  // the clock's when absent
  bool cdHashesPlist = true;                // attribute 1.2.840.113635.100.9.1
  bool cdHashesDER = true;                  // attribute 1.2.840.113635.100.9.2
  bool cdHashesPrimaryOnly = false;         // bind only the slot-0 CodeDirectory
  std::optional<TimestampAuthority> timestamp;
  bool timestampWrongImprint = false;       // stamp the CodeDirectory instead of the signature
};

// CodeDirectory blobs as they stand, each with its hash type (byte 37).
std::vector<CodeDirectoryBlob> codeDirectoryBlobs(const std::vector<Bytes>& directories);

// The CDHashes2 attribute: one SEQUENCE { digest OID, full cdhash } per
// CodeDirectory.
void addCDHashesDER(CMS_SignerInfo* signer, const std::vector<CodeDirectoryBlob>& directories);

// A detached CMS SignedData over the bytes of the first CodeDirectory
// (slot 0), SHA-256, signed attributes contentType, signingTime,
// messageDigest and the CDHashes of every CodeDirectory, the leaf and its
// chain as certificates, and when asked an RFC 3161 timestamp of the signature
// value as unsigned attribute.
Bytes cmsSignature(const SigningIdentity& identity, const std::vector<CodeDirectoryBlob>& codeDirectories,
                   const CmsOptions& options);

}  // namespace signer
