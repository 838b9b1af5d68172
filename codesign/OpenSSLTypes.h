#pragma once

// Owners for every OpenSSL object the engine creates: each type is a
// std::unique_ptr whose deleter is the library's own free function, so no
// *_free call appears outside this header.

#include <memory>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace codesign::ossl {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* object) const noexcept { Free(object); }
};

inline void freeX509Stack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
inline void freeTypeStack(STACK_OF(ASN1_TYPE) * stack) { sk_ASN1_TYPE_pop_free(stack, ASN1_TYPE_free); }
inline void freeBio(BIO* bio) { BIO_free(bio); }
inline void freeBuffer(unsigned char* bytes) { OPENSSL_free(bytes); }

using MD = std::unique_ptr<EVP_MD, Deleter<EVP_MD, EVP_MD_free>>;
using MDContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, freeBio>>;
using Cms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using CertificateStack = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeX509Stack>>;
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using TstInfo = std::unique_ptr<TS_TST_INFO, Deleter<TS_TST_INFO, TS_TST_INFO_free>>;
using TypeStack = std::unique_ptr<STACK_OF(ASN1_TYPE), Deleter<STACK_OF(ASN1_TYPE), freeTypeStack>>;
using Buffer = std::unique_ptr<unsigned char, Deleter<unsigned char, freeBuffer>>;
using Object = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;
using Time = std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME, ASN1_TIME_free>>;
using Policies = std::unique_ptr<CERTIFICATEPOLICIES, Deleter<CERTIFICATEPOLICIES, CERTIFICATEPOLICIES_free>>;

}  // namespace codesign::ossl
