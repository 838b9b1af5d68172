#include "codesign/StatusNames.h"

#include <algorithm>
#include <cstring>

#include "codesign/Status.h"

namespace codesign {
namespace {

struct StatusText {
  OSStatus status;
  std::string_view name;
  std::string_view message;
};

// Spelt once: the name is the constant's own. The messages are the
// framework's; for the certificate-chain statuses its text is the name.
#define NAMED(status, message) StatusText{status, #status, message}
#define SELF_NAMED(status) StatusText{status, #status, #status}

constexpr StatusText kStatuses[] = {
    NAMED(errSecSuccess, "No error."),
    NAMED(errSecParam, "One or more parameters passed to a function were not valid."),
    NAMED(errSecAllocate, "Failed to allocate memory."),
    NAMED(errSecCSUnimplemented, "unimplemented code signing feature"),
    NAMED(errSecCSInvalidFlags, "invalid or inappropriate API flag(s) specified"),
    NAMED(errSecCSObjectRequired, "a required pointer argument was NULL"),
    NAMED(errSecCSStaticCodeNotFound, "cannot find code object on disk"),
    NAMED(errSecCSUnsigned, "code object is not signed at all"),
    NAMED(errSecCSSignatureFailed, "invalid signature (code or signature have been modified)"),
    NAMED(errSecCSSignatureNotVerifiable, "the code cannot be read by the verifier (file system permissions etc.)"),
    NAMED(errSecCSSignatureUnsupported, "unsupported type or version of signature"),
    NAMED(errSecCSBadDictionaryFormat, "a required plist file or resource is malformed"),
    NAMED(errSecCSResourcesNotFound, "code has no resources but signature indicates they must be present"),
    NAMED(errSecCSReqInvalid, "invalid or corrupted code requirement(s)"),
    NAMED(errSecCSReqUnsupported, "unsupported type or version of code requirement(s)"),
    NAMED(errSecCSReqFailed, "code failed to satisfy specified code requirement(s)"),
    NAMED(errSecCSBadObjectFormat, "object file format unrecognized, invalid, or unsuitable"),
    NAMED(errSecCSInternalError, "internal error in Code Signing subsystem"),
    NAMED(errSecCSSignatureInvalid, "invalid or unsupported format for signature"),
    NAMED(errSecCSNotSupported, "operation inapplicable or not supported for this type of code"),
    NAMED(errSecCSInfoPlistFailed, "invalid Info.plist (plist or signature have been modified)"),
    NAMED(errSecCSRegularFile, "the main executable or Info.plist must be a regular file (no symlinks, etc.)"),
    NAMED(errSecCSResourceDirectoryFailed, "invalid resource directory (directory or signature have been modified)"),
    NAMED(errSecCSBadMainExecutable, "main executable failed strict validation"),
    NAMED(errSecCSUnsupportedDigestAlgorithm, "signature digest algorithm(s) specified are not supported"),
    NAMED(errSecCSBadTeamIdentifier, "a Team Identifier is wrong or inappropriate"),
    NAMED(errSecTimestampInvalid, "The timestamp was not valid."),
    SELF_NAMED(CSSMERR_TP_CERT_EXPIRED),
    SELF_NAMED(CSSMERR_TP_CERT_NOT_VALID_YET),
    SELF_NAMED(CSSMERR_TP_NOT_TRUSTED),
    SELF_NAMED(CSSMERR_TP_INVALID_CERTIFICATE),
    SELF_NAMED(CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE),
    SELF_NAMED(CSSMERR_APPLETP_INVALID_KEY_USAGE),
    SELF_NAMED(CSSMERR_APPLETP_UNKNOWN_CRITICAL_EXTEN),
    SELF_NAMED(CSSMERR_APPLETP_NO_BASIC_CONSTRAINTS),
    SELF_NAMED(CSSMERR_APPLETP_PATH_LEN_CONSTRAINT),
};

#undef NAMED
#undef SELF_NAMED

const StatusText* find(OSStatus status) {
  const auto* found = std::find_if(std::begin(kStatuses), std::end(kStatuses),
                                   [status](const StatusText& entry) { return entry.status == status; });
  return found == std::end(kStatuses) ? nullptr : found;
}

}  // namespace

std::optional<std::string_view> statusName(OSStatus status) {
  const StatusText* entry = find(status);
  if (entry == nullptr) return std::nullopt;
  return entry->name;
}

std::string statusMessage(OSStatus status) {
  if (const StatusText* entry = find(status)) return std::string(entry->message);
  // The system's errno texts, which no table here could spell for every system.
  if (status > kUnixErrorBase) return std::strerror(status - kUnixErrorBase);
  return "unknown status " + std::to_string(status);
}

}  // namespace codesign
