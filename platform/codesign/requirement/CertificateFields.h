#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <openssl/x509.h>

#include "platform/codesign/CodeSigning.h"
#include "platform/codesign/RequirementSubject.h"

namespace platform::codesign::requirement {

struct X509Free {
  void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The certificate that DER encodes, or null when the bytes are not exactly
// one certificate (trailing bytes included).
X509Ptr decodeCertificate(const Bytes& der);

// SHA-1 of the bytes, 20 bytes.
Bytes sha1Digest(const Bytes& data);

// Whether the certificate carries an extension with this dotted OID,
// critical or not. 0, or errSecCSInternalError when the OID cannot be made.
OSStatus hasExtension(const X509& certificate, const std::string& oid, bool* present);

// Whether the certificate's policies extension lists this dotted OID. 0, or
// errSecCSInternalError when that extension is present but unreadable.
OSStatus hasPolicy(const X509& certificate, const std::string& oid, bool* present);

// The last attribute of the named type (C, CN, D, L, O, C-O, OU, C-OU, ST,
// C-ST, STREET, C-STREET, UID) in the certificate's subject, as UTF-8; no
// value for an unknown name or a missing attribute. 0, or
// errSecCSInternalError when the attribute cannot be converted to UTF-8.
OSStatus subjectAttribute(const X509& certificate, std::string_view name,
                          std::optional<std::string>* value);

}  // namespace platform::codesign::requirement
