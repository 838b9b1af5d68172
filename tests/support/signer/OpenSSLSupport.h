#pragma once

#include <memory>
#include <string>
#include <vector>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "Bytes.h"

namespace signer {

// One owner type per OpenSSL object kind; nothing is freed by hand.
template <auto Free>
struct OpenSSLDeleter {
  template <class T>
  void operator()(T* object) const { Free(object); }
};

using ASN1ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSSLDeleter<ASN1_OBJECT_free>>;
using ASN1OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, OpenSSLDeleter<ASN1_OCTET_STRING_free>>;
using ASN1IntegerPtr = std::unique_ptr<ASN1_INTEGER, OpenSSLDeleter<ASN1_INTEGER_free>>;
using ASN1TimePtr = std::unique_ptr<ASN1_TIME, OpenSSLDeleter<ASN1_TIME_free>>;
using BIGNUMPtr = std::unique_ptr<BIGNUM, OpenSSLDeleter<BN_free>>;
using BIOPtr = std::unique_ptr<BIO, OpenSSLDeleter<BIO_free_all>>;
using CMSPtr = std::unique_ptr<CMS_ContentInfo, OpenSSLDeleter<CMS_ContentInfo_free>>;
using EVPKeyPtr = std::unique_ptr<EVP_PKEY, OpenSSLDeleter<EVP_PKEY_free>>;
using PKCS7Ptr = std::unique_ptr<PKCS7, OpenSSLDeleter<PKCS7_free>>;
using TSMsgImprintPtr = std::unique_ptr<TS_MSG_IMPRINT, OpenSSLDeleter<TS_MSG_IMPRINT_free>>;
using TSReqPtr = std::unique_ptr<TS_REQ, OpenSSLDeleter<TS_REQ_free>>;
using TSRespCtxPtr = std::unique_ptr<TS_RESP_CTX, OpenSSLDeleter<TS_RESP_CTX_free>>;
using TSRespPtr = std::unique_ptr<TS_RESP, OpenSSLDeleter<TS_RESP_free>>;
using X509AlgorPtr = std::unique_ptr<X509_ALGOR, OpenSSLDeleter<X509_ALGOR_free>>;
using X509AttributePtr = std::unique_ptr<X509_ATTRIBUTE, OpenSSLDeleter<X509_ATTRIBUTE_free>>;
using X509ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSSLDeleter<X509_EXTENSION_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OpenSSLDeleter<X509_NAME_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSSLDeleter<X509_free>>;

struct X509StackDeleter {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;

// Throws a SignerError naming the failed step and OpenSSL's queued errors.
[[noreturn]] void throwOpenSSLError(const std::string& what);

// Returns object, or throws naming what when OpenSSL gave none.
template <class T>
T* must(T* object, const std::string& what) {
  if (!object) throwOpenSSLError(what);
  return object;
}
// Throws naming what unless OpenSSL reported success (a positive value).
void mustSucceed(int result, const std::string& what);

X509Ptr loadCertificate(const std::string& path);
EVPKeyPtr loadPrivateKey(const std::string& path);
void writeCertificate(const std::string& path, X509* certificate);
void writePrivateKey(const std::string& path, EVP_PKEY* key);

// The DER encoding of object by OpenSSL's i2d function for its type.
template <class T>
Bytes encodeDER(const T* object, int (*encode)(const T*, unsigned char**), const std::string& what) {
  const int length = encode(object, nullptr);
  mustSucceed(length, "encoding " + what);
  Bytes der(static_cast<std::size_t>(length));
  unsigned char* out = der.data();
  mustSucceed(encode(object, &out), "encoding " + what);
  return der;
}

inline Bytes certificateDER(const X509* certificate) { return encodeDER(certificate, i2d_X509, "a certificate"); }
// The DER bytes that a memory BIO holds.
Bytes bioBytes(BIO* bio);

// A DER GeneralizedTime text such as "20200115120000Z" as seconds since 1970.
std::int64_t parseGeneralizedTime(const std::string& text);


}  // namespace signer
