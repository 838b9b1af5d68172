#pragma once

// What the engine reads from one X.509 certificate: strict decoding,
// fingerprints, extensions, policies and subject attributes.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "codesign/CodeSigning.h"
#include "codesign/OpenSSLTypes.h"
#include "codesign/RequirementSubject.h"
#include "codesign/TrustedAnchors.h"

namespace codesign {

// The certificate that DER encodes, or null when the bytes are not exactly
// one certificate (trailing bytes refused).
ossl::Certificate decodeCertificate(std::span<const std::uint8_t> der);

// The DER encoding of a certificate; false when it cannot be encoded.
bool encodeCertificate(X509* certificate, Bytes* der);

// The SHA-256 fingerprint of a DER certificate.
std::optional<SHA256Digest> fingerprint(const Bytes& der);

// Whether the certificate carries an extension with this dotted OID,
// critical or not. 0, or errSecCSInternalError when the OID cannot be made.
OSStatus hasExtension(const X509& certificate, const std::string& oid, bool* present);

// The same for a DER certificate; false when it does not decode.
bool hasExtension(const Bytes& der, const std::string& oid);

// The date an extension holds (its value a DER GeneralizedTime or UTCTime),
// in seconds since 1970. *present tells whether the extension is there;
// the date is empty when it is absent or holds no date.
OSStatus extensionDate(const X509& certificate, const std::string& oid, bool* present,
                       std::optional<std::int64_t>* date);

// Whether the certificate's policies extension lists this dotted OID. 0, or
// errSecCSInternalError when that extension is present but unreadable.
OSStatus hasPolicy(const X509& certificate, const std::string& oid, bool* present);

// Which of several attributes of one type a reader takes. The framework
// takes the first OU for the team check and the last of any type for a
// requirement's subject field; we keep both as it does.
enum class Occurrence { first, last };

// The chosen attribute of the named type (C, CN, D, L, O, C-O, OU, C-OU, ST,
// C-ST, STREET, C-STREET, UID) in the certificate's subject, as UTF-8; no
// value for an unknown name or a missing attribute. 0, or
// errSecCSInternalError when the attribute cannot be converted to UTF-8.
OSStatus subjectAttribute(const X509& certificate, std::string_view name, Occurrence which,
                          std::optional<std::string>* value);

// The first subject OU of a DER certificate (the team), or nothing.
std::optional<std::string> firstSubjectOU(const Bytes& der);

}  // namespace codesign
