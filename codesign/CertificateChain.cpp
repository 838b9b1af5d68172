#include "codesign/CertificateChain.h"

#include <cstring>

#include <openssl/x509v3.h>

#include "codesign/Digest.h"
#include "codesign/FailureDetail.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

// Apple marks some of its own extensions critical; these arcs are the ones
// Apple's certificate parser knows, so a critical extension under them is
// accepted even though OpenSSL does not handle it.
bool underAppleArc(const ASN1_OBJECT* oid) {
  // 1.2.840.113635.100 as DER; one of the arcs below it and at least one
  // arc more must follow. Read from the encoding, any OID length will do.
  static constexpr std::uint8_t kApple100[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x63, 0x64};
  const std::size_t length = OBJ_length(oid);
  const unsigned char* bytes = OBJ_get0_data(oid);
  if (length < sizeof kApple100 + 2 || std::memcmp(bytes, kApple100, sizeof kApple100) != 0) return false;
  const unsigned char arc = bytes[sizeof kApple100];
  return arc == 6 || arc == 11 || arc == 12 || arc == 13 || arc == 15;
}

bool criticalExtensionsKnown(X509* cert) {
  for (int i = 0; i < X509_get_ext_count(cert); ++i) {
    X509_EXTENSION* ext = X509_get_ext(cert, i);
    if (X509_EXTENSION_get_critical(ext) && !X509_supported_extension(ext) &&
        !underAppleArc(X509_EXTENSION_get_object(ext)))
      return false;
  }
  return true;
}

// Keys too weak to trust, and digests too weak on any certificate but a root.
bool strongEnough(X509* cert, bool selfSigned) {
  const EVP_PKEY* key = X509_get0_pubkey(cert);
  if (key == nullptr) return false;
  const int bits = EVP_PKEY_get_bits(key);
  const int minimum = EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA ? 1024 : 160;
  if (bits < minimum) return false;
  int mdnid = NID_undef;
  if (selfSigned || !X509_get_signature_info(cert, &mdnid, nullptr, nullptr, nullptr)) return selfSigned;
  return mdnid != NID_md2 && mdnid != NID_md4 && mdnid != NID_md5;
}

std::uint32_t policyUsage(ChainPolicy policy) {
  return policy == ChainPolicy::codeSigning ? XKU_CODE_SIGN : XKU_TIMESTAMP;
}

bool leafUsageFits(X509* leaf, ChainPolicy policy) {
  if ((X509_get_extension_flags(leaf) & EXFLAG_XKUSAGE) == 0) return false;
  return (X509_get_extended_key_usage(leaf) & policyUsage(policy)) != 0;
}

bool leafKeyUsageFits(X509* leaf, ChainPolicy policy) {
  if (policy != ChainPolicy::codeSigning) return true;
  if ((X509_get_extension_flags(leaf) & EXFLAG_KUSAGE) == 0) return false;
  return (X509_get_key_usage(leaf) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) != 0;
}

// An intermediate that restricts its extended key usage must allow the policy's.
bool intermediateUsageFits(X509* cert, ChainPolicy policy) {
  if ((X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) == 0) return true;
  return (X509_get_extended_key_usage(cert) & (policyUsage(policy) | XKU_ANYEKU)) != 0;
}

// Where validation stopped: the certificate's place in the chain (leaf 0)
// and what is wrong with it.
struct Fault {
  int index = 0;
  std::string subject;
  std::string problem;
};

// The subject as one line, in the certificate's own order, with RFC 2253's
// escapes (control characters among them), cut where a hostile certificate
// would make it unreadable.
std::string subjectLine(X509* cert) {
  constexpr std::size_t kLongest = 200;
  const ossl::Bio bio(BIO_new(BIO_s_mem()));
  if (cert == nullptr || !bio ||
      X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert), 0,
                         XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_DN_REV) < 0)
    return "subject unreadable";
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  std::string text(data, static_cast<std::size_t>(std::max(length, 0L)));
  if (text.size() > kLongest) text = text.substr(0, kLongest) + "...";
  return text;
}

std::string describe(const Fault& fault) {
  return "certificate " + std::to_string(fault.index) + " (" + fault.subject + ") " + fault.problem;
}

const char* verifyProblem(int error) {
  switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return "has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "is not yet valid";
    case X509_V_ERR_INVALID_CA: return "is used as an authority without the basic constraints of one";
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return "breaks an authority's path length constraint";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return "is not trusted: no trusted anchor issued it";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "is not trusted: it is a root that is not a trusted anchor";
    default: return nullptr;
  }
}

OSStatus statusForVerifyError(int error) {
  switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return CSSMERR_TP_CERT_EXPIRED;
    case X509_V_ERR_CERT_NOT_YET_VALID: return CSSMERR_TP_CERT_NOT_VALID_YET;
    case X509_V_ERR_INVALID_CA: return CSSMERR_APPLETP_NO_BASIC_CONSTRAINTS;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return CSSMERR_APPLETP_PATH_LEN_CONSTRAINT;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return CSSMERR_TP_NOT_TRUSTED;
    default: return CSSMERR_TP_INVALID_CERTIFICATE;
  }
}

// The signature's certificates and the anchors it may have left out: some
// signers omit the root, which still ends the chain when it is pinned.
ossl::CertificateStack withAnchors(const ChainRequest& request) {
  ossl::CertificateStack all(X509_chain_up_ref(request.candidates));
  for (const Bytes& der : request.anchorCertificates) {
    ossl::Certificate anchor = decodeCertificate(der);
    if (all && anchor && sk_X509_push(all.get(), anchor.get()) > 0) static_cast<void>(anchor.release());
  }
  return all;
}

// A store holding, as trusted, only the candidates that are pinned and
// self-issued. The pin fixes every byte of a root, its signature included,
// so that signature is not checked again: for the elliptic-curve roots that
// check cost more than the rest of a verification.
ossl::Store pinnedRoots(const ChainRequest& request, STACK_OF(X509)* candidates) {
  ossl::Store store(X509_STORE_new());
  if (!store) return store;
  for (int i = 0; i < sk_X509_num(candidates); ++i) {
    X509* cert = sk_X509_value(candidates, i);
    Bytes der;
    if (!encodeCertificate(cert, &der)) continue;
    const auto print = fingerprint(der);
    if (print && request.isAnchor(*print) && X509_self_signed(cert, 0) == 1) X509_STORE_add_cert(store.get(), cert);
  }
  return store;
}

// One run of OpenSSL's path validation; the X509 error code, 0 on success.
int buildOnce(const ChainRequest& request, X509_STORE* store, STACK_OF(X509)* candidates, bool ignoreTime,
              ossl::CertificateStack* chain, Fault* fault) {
  ossl::StoreContext context(X509_STORE_CTX_new());
  if (!context || X509_STORE_CTX_init(context.get(), store, request.leaf, candidates) != 1) {
    *fault = Fault{0, subjectLine(request.leaf), "cannot be checked"};
    return X509_V_ERR_UNSPECIFIED;
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
  X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_ANY);
  // Critical extensions are checked below, against Apple's known arcs.
  X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_IGNORE_CRITICAL | (ignoreTime ? X509_V_FLAG_NO_CHECK_TIME : 0));
  // A set time would take precedence over the flag that ignores times.
  if (!ignoreTime) X509_VERIFY_PARAM_set_time(param, request.at);
  if (X509_verify_cert(context.get()) != 1) {
    const int error = X509_STORE_CTX_get_error(context.get());
    X509* current = X509_STORE_CTX_get_current_cert(context.get());
    const char* problem = verifyProblem(error);
    *fault = Fault{X509_STORE_CTX_get_error_depth(context.get()), subjectLine(current ? current : request.leaf),
                   problem ? problem : std::string("is not valid: ") + X509_verify_cert_error_string(error)};
    return error == X509_V_OK ? X509_V_ERR_UNSPECIFIED : error;
  }
  chain->reset(X509_STORE_CTX_get1_chain(context.get()));
  return *chain ? X509_V_OK : X509_V_ERR_UNSPECIFIED;
}

OSStatus policyFault(STACK_OF(X509)* chain, int index, OSStatus status, const char* problem, Fault* fault) {
  *fault = Fault{index, subjectLine(sk_X509_value(chain, index)), problem};
  return status;
}

OSStatus checkPolicy(STACK_OF(X509)* chain, ChainPolicy policy, Fault* fault) {
  const int count = sk_X509_num(chain);
  if (count < 1) return *fault = Fault{0, "no certificate", "is not trusted"}, CSSMERR_TP_NOT_TRUSTED;
  for (int i = 0; i < count; ++i) {
    X509* cert = sk_X509_value(chain, i);
    if (!criticalExtensionsKnown(cert))
      return policyFault(chain, i, CSSMERR_APPLETP_UNKNOWN_CRITICAL_EXTEN, "has an unknown critical extension", fault);
    if (!strongEnough(cert, i == count - 1))
      return policyFault(chain, i, CSSMERR_TP_INVALID_CERTIFICATE, "has a key or signature too weak to trust", fault);
    if (i > 0 && i < count - 1 && !intermediateUsageFits(cert, policy))
      return policyFault(chain, i, CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE,
                         policy == ChainPolicy::codeSigning ? "does not allow code signing in its extended key usage"
                                                            : "does not allow time stamping in its extended key usage",
                         fault);
  }
  X509* leaf = sk_X509_value(chain, 0);
  if (!leafUsageFits(leaf, policy))
    return policyFault(chain, 0, CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE,
                       policy == ChainPolicy::codeSigning ? "lacks the code signing extended key usage"
                                                          : "lacks the time stamping extended key usage",
                       fault);
  if (!leafKeyUsageFits(leaf, policy))
    return policyFault(chain, 0, CSSMERR_APPLETP_INVALID_KEY_USAGE, "lacks the digital signature key usage", fault);
  return errSecSuccess;
}

}  // namespace

OSStatus verifyChain(const ChainRequest& request, VerifiedChain* out, std::string* why) {
  *out = VerifiedChain{};
  if (request.leaf == nullptr || request.candidates == nullptr || request.isAnchor == nullptr)
    return explain(why, errSecCSInternalError, "the signature names no signer certificate");
  const ossl::CertificateStack candidates = withAnchors(request);
  const ossl::Store store = candidates ? pinnedRoots(request, candidates.get()) : nullptr;
  if (!store) return explain(why, errSecAllocate, "the certificate store cannot be made");
  ossl::CertificateStack chain;
  Fault fault;
  int error = buildOnce(request, store.get(), candidates.get(), false, &chain, &fault);
  const bool timeOnly = error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID;
  if (timeOnly && request.retryIgnoringTime) {
    error = buildOnce(request, store.get(), candidates.get(), true, &chain, &fault);
    out->expired = error == X509_V_OK;
  }
  if (error != X509_V_OK) return explain(why, statusForVerifyError(error), describe(fault));
  if (const OSStatus status = checkPolicy(chain.get(), request.policy, &fault))
    return explain(why, status, describe(fault));
  for (int i = 0; i < sk_X509_num(chain.get()); ++i) {
    Bytes der;
    if (!encodeCertificate(sk_X509_value(chain.get(), i), &der))
      return explain(why, errSecCSInternalError, "a certificate of the chain cannot be encoded");
    out->certificates.push_back(std::move(der));
  }
  return errSecSuccess;
}

bool endsAtAnchor(std::span<const Bytes> chain, const AnchorPredicate& isAnchor) {
  if (chain.empty()) return false;
  const auto print = fingerprint(chain.back());
  return print && isAnchor(*print);
}

}  // namespace codesign
