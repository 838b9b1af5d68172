#include "CommandLine.h"

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

#include "MachO.h"

namespace signer {

const char* const kUsage =
    "usage: helper-test-signer make-ca OUTDIR\n"
    "       helper-test-signer sign IN OUT --identifier ID\n"
    "           (--cert LEAF.pem --key LEAF.key [--chain CERT.pem]... | --adhoc)\n"
    "           [--team TEAMID] [--hashes sha256|sha1,sha256|sha256-truncated|...] [--page-size 0|4096|16384|...]\n"
    "           [--flags N] [--runtime-version N] [--requirements designated|empty|none] [--no-info-slot]\n"
    "           [--signing-time YYYYMMDDHHMMSSZ]\n"
    "           [--timestamp-with TSA.pem --timestamp-key TSA.key [--timestamp-chain CERT.pem]...\n"
    "            [--timestamp-time YYYYMMDDHHMMSSZ] [--timestamp-wrong-imprint]]\n"
    "           [--cdhashes both|v1|v2|none] [--cdhashes-primary-only]\n"
    "           [--code-limit-short BYTES] [--only-arch arm64|x86_64]\n";

namespace {

// Paths and texts gathered first; certificates and keys are loaded once all
// options are known.
struct RawOptions {
  std::string cert, key, timestampCert, timestampKey, timestampTime;
  std::vector<std::string> chain, timestampChain;
};

std::uint64_t parseNumber(const std::string& text, const std::string& option) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || text[0] == '-' || *end != '\0' || errno == ERANGE)
    throw SignerError(option + " takes a number, not " + text);
  return value;
}

std::vector<HashType> parseHashes(const std::string& text) {
  std::vector<HashType> hashes;
  std::size_t start = 0;
  for (std::size_t comma = text.find(','); ; comma = text.find(',', start)) {
    hashes.push_back(hashTypeNamed(text.substr(start, comma - start)));
    if (comma == std::string::npos) return hashes;
    start = comma + 1;
  }
}

// 0 makes the whole code one page.
unsigned pageShift(const std::string& text) {
  const std::uint64_t size = parseNumber(text, "--page-size");
  if (size == 0) return 0;
  if (size < 2 || (size & (size - 1)) != 0) throw SignerError("--page-size must be 0 or a power of two");
  return static_cast<unsigned>(std::countr_zero(size));
}

RequirementsSlot requirementsNamed(const std::string& text) {
  if (text == "designated") return RequirementsSlot::designated;
  if (text == "empty") return RequirementsSlot::empty;
  if (text == "none") return RequirementsSlot::none;
  throw SignerError("--requirements takes designated, empty or none");
}

void setCDHashes(CmsOptions& cms, const std::string& text) {
  if (text != "both" && text != "v1" && text != "v2" && text != "none")
    throw SignerError("--cdhashes takes both, v1, v2 or none");
  cms.cdHashesPlist = text == "both" || text == "v1";
  cms.cdHashesDER = text == "both" || text == "v2";
}

using ValueHandler = std::function<void(SignOptions&, RawOptions&, const std::string&)>;
using FlagHandler = std::function<void(SignOptions&)>;

const std::map<std::string, ValueHandler>& valueOptions() {
  static const std::map<std::string, ValueHandler> table{
      {"--identifier", [](SignOptions& o, RawOptions&, const std::string& v) { o.identifier = v; }},
      {"--team", [](SignOptions& o, RawOptions&, const std::string& v) { o.team = v; }},
      {"--cert", [](SignOptions&, RawOptions& r, const std::string& v) { r.cert = v; }},
      {"--key", [](SignOptions&, RawOptions& r, const std::string& v) { r.key = v; }},
      {"--chain", [](SignOptions&, RawOptions& r, const std::string& v) { r.chain.push_back(v); }},
      {"--hashes", [](SignOptions& o, RawOptions&, const std::string& v) { o.hashes = parseHashes(v); }},
      {"--page-size", [](SignOptions& o, RawOptions&, const std::string& v) { o.pageShift = pageShift(v); }},
      {"--flags", [](SignOptions& o, RawOptions&, const std::string& v) {
         o.flags = checkedU32(parseNumber(v, "--flags"), "--flags");
       }},
      {"--runtime-version", [](SignOptions& o, RawOptions&, const std::string& v) {
         o.runtime = checkedU32(parseNumber(v, "--runtime-version"), "--runtime-version");
       }},
      {"--requirements", [](SignOptions& o, RawOptions&, const std::string& v) { o.requirements = requirementsNamed(v); }},
      {"--signing-time", [](SignOptions& o, RawOptions&, const std::string& v) { o.cms.signingTime = parseGeneralizedTime(v); }},
      {"--timestamp-with", [](SignOptions&, RawOptions& r, const std::string& v) { r.timestampCert = v; }},
      {"--timestamp-key", [](SignOptions&, RawOptions& r, const std::string& v) { r.timestampKey = v; }},
      {"--timestamp-chain", [](SignOptions&, RawOptions& r, const std::string& v) { r.timestampChain.push_back(v); }},
      {"--timestamp-time", [](SignOptions&, RawOptions& r, const std::string& v) { r.timestampTime = v; }},
      {"--cdhashes", [](SignOptions& o, RawOptions&, const std::string& v) { setCDHashes(o.cms, v); }},
      {"--code-limit-short", [](SignOptions& o, RawOptions&, const std::string& v) {
         o.codeLimitShort = parseNumber(v, "--code-limit-short");
       }},
      {"--only-arch", [](SignOptions& o, RawOptions&, const std::string& v) { o.onlyArch = cpuTypeNamed(v); }},
  };
  return table;
}

const std::map<std::string, FlagHandler>& flagOptions() {
  static const std::map<std::string, FlagHandler> table{
      {"--adhoc", [](SignOptions& o) { o.adhoc = true; }},
      {"--no-info-slot", [](SignOptions& o) { o.sealInfoPlist = false; }},
      {"--cdhashes-primary-only", [](SignOptions& o) { o.cms.cdHashesPrimaryOnly = true; }},
      {"--timestamp-wrong-imprint", [](SignOptions& o) { o.cms.timestampWrongImprint = true; }},
  };
  return table;
}

std::vector<X509Ptr> loadCertificates(const std::vector<std::string>& paths) {
  std::vector<X509Ptr> certificates;
  for (const std::string& path : paths) certificates.push_back(loadCertificate(path));
  return certificates;
}

void loadIdentity(SignOptions& options, const RawOptions& raw) {
  if (raw.cert.empty() != raw.key.empty()) throw SignerError("--cert and --key go together");
  if (raw.cert.empty()) return;
  if (options.adhoc) throw SignerError("--adhoc signs without a certificate");
  options.identity = SigningIdentity{loadCertificate(raw.cert), loadPrivateKey(raw.key), loadCertificates(raw.chain)};
}

void loadTimestampAuthority(SignOptions& options, const RawOptions& raw) {
  if (raw.timestampCert.empty() != raw.timestampKey.empty())
    throw SignerError("--timestamp-with and --timestamp-key go together");
  if (raw.timestampCert.empty()) {
    if (!raw.timestampTime.empty() || options.cms.timestampWrongImprint)
      throw SignerError("timestamp options need --timestamp-with");
    return;
  }
  TimestampAuthority authority{loadCertificate(raw.timestampCert), loadPrivateKey(raw.timestampKey),
                               loadCertificates(raw.timestampChain), std::nullopt};
  if (!raw.timestampTime.empty()) authority.time = parseGeneralizedTime(raw.timestampTime);
  options.cms.timestamp = std::move(authority);
}

}  // namespace

SignCommand parseSignCommand(const std::vector<std::string>& arguments) {
  SignCommand command;
  RawOptions raw;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (auto flag = flagOptions().find(argument); flag != flagOptions().end()) {
      flag->second(command.options);
    } else if (auto value = valueOptions().find(argument); value != valueOptions().end()) {
      if (i + 1 == arguments.size()) throw SignerError(argument + " needs a value");
      value->second(command.options, raw, arguments[++i]);
    } else if (argument.starts_with("--")) {
      throw SignerError("unknown option " + argument);
    } else {
      positional.push_back(argument);
    }
  }
  if (positional.size() != 2) throw SignerError("sign takes IN and OUT");
  command.input = positional[0];
  command.output = positional[1];
  loadIdentity(command.options, raw);
  loadTimestampAuthority(command.options, raw);
  return command;
}

}  // namespace signer
