#include "Timestamp.h"

#include <openssl/objects.h>

#include "Digest.h"

namespace signer {

namespace {

// The example arc: the tests' TSA policy names no real policy.
constexpr const char* kPolicyOID = "2.999.1";

int fixedTime(TS_RESP_CTX*, void* data, long* seconds, long* microseconds) {
  *seconds = static_cast<long>(*static_cast<const std::int64_t*>(data));
  *microseconds = 0;
  return 1;
}

BIOPtr encodedRequest(std::span<const std::uint8_t> message) {
  const Bytes imprint = digest(HashType::sha256, message);
  X509AlgorPtr algorithm(must(X509_ALGOR_new(), "allocating an algorithm"));
  X509_ALGOR_set_md(algorithm.get(), EVP_sha256());
  TSMsgImprintPtr messageImprint(must(TS_MSG_IMPRINT_new(), "allocating an imprint"));
  mustSucceed(TS_MSG_IMPRINT_set_algo(messageImprint.get(), algorithm.get()), "setting the imprint algorithm");
  mustSucceed(TS_MSG_IMPRINT_set_msg(messageImprint.get(), const_cast<unsigned char*>(imprint.data()),
                                     static_cast<int>(imprint.size())), "setting the imprint");
  TSReqPtr request(must(TS_REQ_new(), "allocating a timestamp request"));
  mustSucceed(TS_REQ_set_version(request.get(), 1), "setting the request version");
  mustSucceed(TS_REQ_set_msg_imprint(request.get(), messageImprint.get()), "setting the request imprint");
  mustSucceed(TS_REQ_set_cert_req(request.get(), 1), "asking for the TSA certificate");
  BIOPtr bio(must(BIO_new(BIO_s_mem()), "allocating a buffer"));
  mustSucceed(i2d_TS_REQ_bio(bio.get(), request.get()), "encoding the timestamp request");
  return bio;
}

TSRespCtxPtr responder(const TimestampAuthority& authority) {
  TSRespCtxPtr context(must(TS_RESP_CTX_new(), "allocating a responder"));
  mustSucceed(TS_RESP_CTX_set_signer_cert(context.get(), authority.certificate.get()), "setting the TSA certificate");
  mustSucceed(TS_RESP_CTX_set_signer_key(context.get(), authority.key.get()), "setting the TSA key");
  mustSucceed(TS_RESP_CTX_set_signer_digest(context.get(), EVP_sha256()), "setting the TSA digest");
  mustSucceed(TS_RESP_CTX_add_md(context.get(), EVP_sha256()), "accepting SHA-256 imprints");
  ASN1ObjectPtr policy(must(OBJ_txt2obj(kPolicyOID, 1), "parsing the TSA policy"));
  mustSucceed(TS_RESP_CTX_set_def_policy(context.get(), policy.get()), "setting the TSA policy");
  X509StackPtr chain(must(sk_X509_new_null(), "allocating a certificate list"));
  for (const X509Ptr& certificate : authority.chain) {
    mustSucceed(X509_up_ref(certificate.get()), "referencing a certificate");
    X509Ptr reference(certificate.get());
    if (sk_X509_push(chain.get(), reference.get()) <= 0) throwOpenSSLError("listing the TSA chain");
    static_cast<void>(reference.release());  // now owned by chain
  }
  mustSucceed(TS_RESP_CTX_set_certs(context.get(), chain.get()), "setting the TSA chain");
  if (authority.time) TS_RESP_CTX_set_time_cb(context.get(), fixedTime, const_cast<std::int64_t*>(&*authority.time));
  return context;
}

}  // namespace

Bytes timestampToken(const TimestampAuthority& authority, std::span<const std::uint8_t> message) {
  BIOPtr request = encodedRequest(message);
  TSRespCtxPtr context = responder(authority);
  TSRespPtr response(must(TS_RESP_create_response(context.get(), request.get()), "creating a timestamp"));
  const ASN1_INTEGER* status = TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response.get()));
  if (ASN1_INTEGER_get(status) != 0) throwOpenSSLError("granting a timestamp");
  PKCS7* token = must(TS_RESP_get_token(response.get()), "reading the timestamp token");
  return encodeDER(token, i2d_PKCS7, "the timestamp token");
}

}  // namespace signer
