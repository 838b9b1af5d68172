#pragma once

// Pieces the code signature and its timestamp token share: decoding a
// SignedData, finding its one signer, reading attributes and times.

#include <ctime>
#include <optional>
#include <span>

#include "codesign/ByteReader.h"
#include "codesign/OpenSSLTypes.h"

namespace codesign::cms {

// A SignedData decoded from DER (or BER); anything after the encoding must
// be zero padding. Null when it does not decode.
ossl::Cms decodeSignedData(std::span<const std::uint8_t> der);

// The SignedData's only SignerInfo and the certificate its signer
// identifier names, with all certificates the SignedData carries. False
// when there is not exactly one signer, too many certificates, or no
// certificate matches.
struct Signer {
  CMS_SignerInfo* info = nullptr;
  X509* certificate = nullptr;
  ossl::CertificateStack certificates;
};
bool soleSigner(CMS_ContentInfo* cms, Signer* out);

// The one attribute with this OID among the signer's signed (or unsigned)
// attributes. Null when absent; *duplicated is set when it occurs twice.
X509_ATTRIBUTE* uniqueAttribute(CMS_SignerInfo* si, const char* oid, bool signedAttribute, bool* duplicated);

// The attribute's single value, or null when it has none or several.
ASN1_TYPE* singleValue(X509_ATTRIBUTE* attribute);

// Seconds since the epoch for an ASN.1 time.
std::optional<std::time_t> toTime(const ASN1_TIME* time);

// The bytes of an ASN.1 string.
std::span<const std::uint8_t> stringBytes(const ASN1_STRING* string);

}  // namespace codesign::cms
