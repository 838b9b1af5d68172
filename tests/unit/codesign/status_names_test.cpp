// The framework's name and message text for every status the engine
// answers with, as signature-check prints them.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "codesign/Status.h"
#include "codesign/StatusNames.h"

namespace codesign {
namespace {

TEST(StatusNames, EveryStatusHasItsNameAndMessage) {
  const OSStatus statuses[] = {
      errSecSuccess, errSecParam, errSecAllocate, errSecCSUnimplemented, errSecCSInvalidFlags,
      errSecCSObjectRequired, errSecCSStaticCodeNotFound, errSecCSUnsigned, errSecCSSignatureFailed,
      errSecCSSignatureNotVerifiable, errSecCSSignatureUnsupported, errSecCSBadDictionaryFormat,
      errSecCSResourcesNotFound, errSecCSReqInvalid, errSecCSReqUnsupported, errSecCSReqFailed,
      errSecCSBadObjectFormat, errSecCSInternalError, errSecCSSignatureInvalid, errSecCSNotSupported,
      errSecCSInfoPlistFailed, errSecCSRegularFile, errSecCSResourceDirectoryFailed, errSecCSBadMainExecutable,
      errSecCSUnsupportedDigestAlgorithm, errSecCSBadTeamIdentifier, errSecTimestampInvalid,
      CSSMERR_TP_CERT_EXPIRED, CSSMERR_TP_CERT_NOT_VALID_YET, CSSMERR_TP_NOT_TRUSTED,
      CSSMERR_TP_INVALID_CERTIFICATE, CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE,
      CSSMERR_APPLETP_INVALID_KEY_USAGE, CSSMERR_APPLETP_UNKNOWN_CRITICAL_EXTEN,
      CSSMERR_APPLETP_NO_BASIC_CONSTRAINTS, CSSMERR_APPLETP_PATH_LEN_CONSTRAINT,
  };
  for (const OSStatus status : statuses) {
    EXPECT_TRUE(statusName(status)) << status;
    EXPECT_NE(statusMessage(status), "unknown status " + std::to_string(status)) << status;
  }
  EXPECT_EQ(statusName(errSecCSReqFailed), "errSecCSReqFailed");
  EXPECT_EQ(statusMessage(errSecCSSignatureFailed), "invalid signature (code or signature have been modified)");
  EXPECT_EQ(statusMessage(errSecCSUnsigned), "code object is not signed at all");
  EXPECT_EQ(statusMessage(errSecCSReqFailed), "code failed to satisfy specified code requirement(s)");
  EXPECT_EQ(statusMessage(CSSMERR_TP_NOT_TRUSTED), "CSSMERR_TP_NOT_TRUSTED");  // the framework's text is the name
  // A system failure reads as the system says it; an unknown number as itself.
  EXPECT_EQ(statusName(kUnixErrorBase + EACCES), std::nullopt);
  EXPECT_EQ(statusMessage(kUnixErrorBase + EACCES), std::strerror(EACCES));
  EXPECT_EQ(statusMessage(kUnixErrorBase), "unknown status 100000");
  EXPECT_EQ(statusMessage(-1), "unknown status -1");
}

}  // namespace
}  // namespace codesign
