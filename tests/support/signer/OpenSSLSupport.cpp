#include "OpenSSLSupport.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <ctime>

namespace signer {

void throwOpenSSLError(const std::string& what) {
  std::string message = what + " failed";
  for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    message += "; ";
    message += text;
  }
  throw SignerError(message);
}

void mustSucceed(int result, const std::string& what) {
  if (result <= 0) throwOpenSSLError(what);
}

namespace {

BIOPtr openFile(const std::string& path, const char* mode) {
  BIOPtr bio(BIO_new_file(path.c_str(), mode));
  if (!bio) throwOpenSSLError("opening " + path);
  return bio;
}

}  // namespace

X509Ptr loadCertificate(const std::string& path) {
  BIOPtr bio = openFile(path, "r");
  return X509Ptr(must(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), "reading certificate " + path));
}

EVPKeyPtr loadPrivateKey(const std::string& path) {
  BIOPtr bio = openFile(path, "r");
  return EVPKeyPtr(must(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), "reading key " + path));
}

void writeCertificate(const std::string& path, X509* certificate) {
  BIOPtr bio = openFile(path, "w");
  mustSucceed(PEM_write_bio_X509(bio.get(), certificate), "writing " + path);
}

void writePrivateKey(const std::string& path, EVP_PKEY* key) {
  BIOPtr bio = openFile(path, "w");
  mustSucceed(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr), "writing " + path);
}

Bytes bioBytes(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  if (length < 0 || (length > 0 && !data)) throw SignerError("reading a memory buffer failed");
  return Bytes(data, data + length);
}

std::int64_t parseGeneralizedTime(const std::string& text) {
  ASN1TimePtr time(must(ASN1_TIME_new(), "allocating a time"));
  if (ASN1_GENERALIZEDTIME_set_string(time.get(), text.c_str()) != 1)
    throw SignerError("not a time of the form YYYYMMDDHHMMSSZ: " + text);
  std::tm parts{};
  mustSucceed(ASN1_TIME_to_tm(time.get(), &parts), "reading time " + text);
  return static_cast<std::int64_t>(timegm(&parts));
}

}  // namespace signer
