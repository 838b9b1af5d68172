#include "codesign/StatusNames.h"

#include <algorithm>
#include <utility>

#include "codesign/Status.h"

namespace codesign {
namespace {

// Spelt once: the name is the constant's own.
#define NAMED(status) std::pair<OSStatus, std::string_view>{status, #status}

constexpr std::pair<OSStatus, std::string_view> kNames[] = {
    NAMED(errSecSuccess),
    NAMED(errSecParam),
    NAMED(errSecAllocate),
    NAMED(errSecCSUnimplemented),
    NAMED(errSecCSInvalidFlags),
    NAMED(errSecCSObjectRequired),
    NAMED(errSecCSStaticCodeNotFound),
    NAMED(errSecCSUnsigned),
    NAMED(errSecCSSignatureFailed),
    NAMED(errSecCSSignatureNotVerifiable),
    NAMED(errSecCSSignatureUnsupported),
    NAMED(errSecCSBadDictionaryFormat),
    NAMED(errSecCSResourcesNotFound),
    NAMED(errSecCSReqInvalid),
    NAMED(errSecCSReqUnsupported),
    NAMED(errSecCSReqFailed),
    NAMED(errSecCSBadObjectFormat),
    NAMED(errSecCSInternalError),
    NAMED(errSecCSSignatureInvalid),
    NAMED(errSecCSNotSupported),
    NAMED(errSecCSInfoPlistFailed),
    NAMED(errSecCSRegularFile),
    NAMED(errSecCSResourceDirectoryFailed),
    NAMED(errSecCSBadMainExecutable),
    NAMED(errSecCSUnsupportedDigestAlgorithm),
    NAMED(errSecCSBadTeamIdentifier),
    NAMED(errSecTimestampInvalid),
    NAMED(CSSMERR_TP_CERT_EXPIRED),
    NAMED(CSSMERR_TP_CERT_NOT_VALID_YET),
    NAMED(CSSMERR_TP_NOT_TRUSTED),
    NAMED(CSSMERR_TP_INVALID_CERTIFICATE),
    NAMED(CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE),
    NAMED(CSSMERR_APPLETP_INVALID_KEY_USAGE),
    NAMED(CSSMERR_APPLETP_UNKNOWN_CRITICAL_EXTEN),
    NAMED(CSSMERR_APPLETP_NO_BASIC_CONSTRAINTS),
    NAMED(CSSMERR_APPLETP_PATH_LEN_CONSTRAINT),
};

#undef NAMED

}  // namespace

std::optional<std::string_view> statusName(OSStatus status) {
  const auto* found = std::find_if(std::begin(kNames), std::end(kNames),
                                   [status](const auto& entry) { return entry.first == status; });
  if (found == std::end(kNames)) return std::nullopt;
  return found->second;
}

}  // namespace codesign
