#pragma once

#include "codesign/CodeSigning.h"

namespace codesign {

// The Security framework's status numbers that this engine answers with.
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecAllocate = -108;
inline constexpr OSStatus errSecCSUnimplemented = -67072;
inline constexpr OSStatus errSecCSInvalidFlags = -67070;
inline constexpr OSStatus errSecCSObjectRequired = -67069;
inline constexpr OSStatus errSecCSStaticCodeNotFound = -67068;
inline constexpr OSStatus errSecCSUnsigned = -67062;
inline constexpr OSStatus errSecCSSignatureFailed = -67061;
inline constexpr OSStatus errSecCSSignatureNotVerifiable = -67060;
inline constexpr OSStatus errSecCSSignatureUnsupported = -67059;
inline constexpr OSStatus errSecCSBadDictionaryFormat = -67058;
inline constexpr OSStatus errSecCSResourcesNotFound = -67056;
inline constexpr OSStatus errSecCSReqInvalid = -67052;
inline constexpr OSStatus errSecCSReqUnsupported = -67051;
inline constexpr OSStatus errSecCSReqFailed = -67050;
inline constexpr OSStatus errSecCSBadObjectFormat = -67049;
inline constexpr OSStatus errSecCSInternalError = -67048;
inline constexpr OSStatus errSecCSSignatureInvalid = -67045;
inline constexpr OSStatus errSecCSNotSupported = -67037;
inline constexpr OSStatus errSecCSStaticCodeChanged = -67034;
inline constexpr OSStatus errSecCSInfoPlistFailed = -67030;
inline constexpr OSStatus errSecCSRegularFile = -67015;
inline constexpr OSStatus errSecCSResourceDirectoryFailed = -67023;
inline constexpr OSStatus errSecCSBadMainExecutable = -67010;
inline constexpr OSStatus errSecCSUnsupportedDigestAlgorithm = -67000;
inline constexpr OSStatus errSecCSBadTeamIdentifier = -66997;
inline constexpr OSStatus errSecTimestampInvalid = -67883;

// System failures other than a missing file: this base plus errno.
inline constexpr OSStatus kUnixErrorBase = 100000;

// Certificate-chain failures, in the numbering the framework reports them.
inline constexpr OSStatus CSSMERR_TP_CERT_EXPIRED = -2147409654;
inline constexpr OSStatus CSSMERR_TP_CERT_NOT_VALID_YET = -2147409653;
inline constexpr OSStatus CSSMERR_TP_NOT_TRUSTED = -2147409622;
inline constexpr OSStatus CSSMERR_TP_INVALID_CERTIFICATE = -2147409643;
inline constexpr OSStatus CSSMERR_APPLETP_INVALID_EXTENDED_KEY_USAGE = -2147408889;
inline constexpr OSStatus CSSMERR_APPLETP_INVALID_KEY_USAGE = -2147408890;
inline constexpr OSStatus CSSMERR_APPLETP_UNKNOWN_CRITICAL_EXTEN = -2147408895;
inline constexpr OSStatus CSSMERR_APPLETP_NO_BASIC_CONSTRAINTS = -2147408894;
inline constexpr OSStatus CSSMERR_APPLETP_PATH_LEN_CONSTRAINT = -2147408887;

}  // namespace codesign
