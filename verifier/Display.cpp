#include "verifier/Display.h"

#include <algorithm>
#include <memory>

#include "codesign/CmsSignature.h"
#include "codesign/Digest.h"
#include "codesign/EmbeddedSignature.h"
#include "codesign/FailureDetail.h"
#include "codesign/InternalRequirements.h"
#include "codesign/MachO.h"
#include "codesign/Requirement.h"
#include "codesign/SignatureDetails.h"
#include "codesign/SliceArchitectures.h"
#include "codesign/Status.h"
#include "codesign/TrustedAnchors.h"
#include "codesign/requirement/Implicit.h"
#include "codesign/requirement/PropertyListReader.h"

namespace verifier {
namespace {

using namespace codesign;

constexpr std::size_t kCdhashSize = 20;

std::string architectureOf(const MachOSlice& slice) {
  return codesign::architectureOf(slice.cputype, slice.cpusubtype);
}

std::string format(const MachOFile& layout) {
  std::string architectures;
  for (const MachOSlice& slice : layout.slices) {
    if (!architectures.empty()) architectures += ' ';
    architectures += architectureOf(slice);
  }
  return std::string("Mach-O ") + (layout.universal ? "universal" : "thin") + " (" + architectures + ")";
}

// The best directory's cdhash as requirements compare it: 20 bytes.
Bytes cdhashOf(const CodeDirectory& best) {
  Bytes cdhash = fullCdhash(best);
  cdhash.resize(std::min(cdhash.size(), kCdhashSize));
  return cdhash;
}

void directoryFields(const EmbeddedSignature& signature, SliceFields& out) {
  const CodeDirectory& best = signature.best();
  out.identifier = best.identifier();
  out.codeDirectory = {best.version(), best.blob().size(), best.flags(), best.codeSlots(), best.specialSlots()};
  std::vector<const CodeDirectory*> usable(signature.usable().begin(), signature.usable().end());
  std::stable_sort(usable.begin(), usable.end(), [](const CodeDirectory* a, const CodeDirectory* b) {
    return hashRank(a->hashType()) < hashRank(b->hashType());
  });
  for (const CodeDirectory* directory : usable) {
    const HashType type = directory->hashType();
    out.hashTypes.push_back({std::string(hashTypeName(type)), storedHashSize(type)});
  }
  out.cdhash = hexDigits(cdhashOf(best));
}

// The component of slot n, when the best directory seals it as it is.
std::optional<ByteReader> boundComponent(const EmbeddedSignature& signature, std::uint32_t n) {
  const auto bytes = signature.component(n);
  if (!bytes || !signature.slotMatches(n, *bytes)) return std::nullopt;
  return bytes;
}

// The number of entries of the sealed Info.plist, nothing when none is
// sealed, or why it does not read as a dictionary.
std::optional<std::variant<std::size_t, Unreadable>> infoPlistEntries(const EmbeddedSignature& signature) {
  const auto bytes = boundComponent(signature, slot::kInfoPlist);
  if (!bytes) return std::nullopt;
  requirement::Value dictionary;
  if (const OSStatus status =
          requirement::readPropertyListDictionary(Bytes(bytes->bytes().begin(), bytes->bytes().end()), &dictionary))
    return Unreadable{status};
  return dictionary.keys.size();
}

// Who signed: the certificates the CMS carries, leaf to root, and its times.
void signerFields(const EmbeddedSignature& signature, SignatureDetails& details, SliceFields& out) {
  out.adhoc = signature.best().adhoc();
  const ByteReader* cms = signature.superBlob().find(slot::kSignature);
  if (out.adhoc) return;
  if (cms == nullptr) {
    out.authorities = Unreadable{errSecCSUnsigned};  // as the check will answer
    return;
  }
  out.signatureSize = cms->size();
  ByteReader payload;
  OSStatus status = blobWrapperPayload(*cms, &payload) ? errSecSuccess : errSecCSSignatureFailed;
  if (status == errSecSuccess) status = readSignatureDetails(payload.bytes(), trustedAnchorCertificates(), &details);
  if (status != errSecSuccess) {
    out.authorities = Unreadable{status};
    return;
  }
  std::vector<std::string> names;
  for (const Bytes& certificate : details.certificates) names.push_back(commonName(certificate).value_or(""));
  out.authorities = std::move(names);
  out.timestamp = details.timestamp;
  if (!details.timestamp) out.signedTime = details.signingTime;
}

bool endsAtAppleRootCA(const std::vector<Bytes>& certificates) {
  const auto print = certificates.empty() ? std::nullopt : fingerprint(certificates.back());
  return print && isAppleRootCA(*print);
}

// The designated requirement the signature states, else the one the
// framework derives for it.
std::variant<DesignatedField, Unreadable> designated(const InternalRequirements* set, const EmbeddedSignature& signature,
                                                     const SignatureDetails& details, const SliceFields& fields) {
  RequirementRef requirement;
  OSStatus status = errSecSuccess;
  const bool implicit = set == nullptr || !set->designated;
  if (!implicit) {
    status = Requirement::read(set->designated->bytes(), &requirement);
  } else if (std::holds_alternative<Unreadable>(fields.authorities)) {
    status = std::get<Unreadable>(fields.authorities).status;
  } else {
    const requirement::SignedCode code{signature.best().identifier(), cdhashOf(signature.best()),
                                       details.certificates, endsAtAppleRootCA(details.certificates)};
    status = Requirement::implicitDesignated(code, &requirement);
  }
  std::string text;
  if (status == errSecSuccess) status = requirement->text(&text);
  if (status != errSecSuccess) return Unreadable{status};
  return DesignatedField{std::move(text), implicit};
}

void requirementFields(const EmbeddedSignature& signature, const SignatureDetails& details, SliceFields& out) {
  const ByteReader* set = signature.superBlob().find(slot::kRequirements);
  InternalRequirements requirements;
  if (set != nullptr) {
    if (const OSStatus status = readInternalRequirements(*set, &requirements)) {
      out.internalRequirements = Unreadable{status};
      return;
    }
    out.internalRequirements = RequirementSetFields{requirements.count, set->size()};
  }
  out.designated = designated(set ? &requirements : nullptr, signature, details, out);
}

// The XML entitlements blob's property list, after its 8-byte header.
EntitlementsField entitlements(const EmbeddedSignature& signature) {
  constexpr std::size_t kBlobHeader = 8;
  const auto blob = signature.component(slot::kEntitlements);
  if (!blob) return {};
  const auto bound = boundComponent(signature, slot::kEntitlements);
  if (!bound || bound->size() < kBlobHeader) return {EntitlementsField::State::notBound, {}};
  const auto bytes = bound->bytes().subspan(kBlobHeader);
  return {EntitlementsField::State::present, std::string(bytes.begin(), bytes.end())};
}

SliceFields sliceFields(const FileSource& file, const MachOFile& layout, const MachOSlice& slice, bool withEntitlements) {
  SliceFields out;
  out.architecture = architectureOf(slice);
  std::unique_ptr<EmbeddedSignature> signature;
  if (const OSStatus status = EmbeddedSignature::load(file, slice, &signature)) {
    out.stopped = Stopped{"signature", status};
    return out;
  }
  out.format = format(layout);
  directoryFields(*signature, out);
  SignatureDetails details;
  signerFields(*signature, details, out);
  out.infoPlistEntries = infoPlistEntries(*signature);
  out.teamIdentifier = signature->best().teamIdentifier();
  if (const std::uint32_t runtime = signature->best().runtime()) out.runtimeVersion = runtime;
  if (const std::uint32_t shift = signature->best().pageShift()) out.pageSize = std::uint64_t{1} << std::min(shift, 63u);
  requirementFields(*signature, details, out);
  if (withEntitlements) out.entitlements = entitlements(*signature);
  return out;
}

}  // namespace

void readDisplay(const FileSource& file, bool withEntitlements, const std::function<void(const SliceFields&)>& each) {
  MachOFile layout;
  if (const OSStatus status = parseMachO(file, &layout)) {
    SliceFields container;
    container.stopped = Stopped{"container", status};
    each(container);
    return;
  }
  for (const MachOSlice& slice : layout.slices) {
    const SliceFields fields = sliceFields(file, layout, slice, withEntitlements);
    each(fields);
    if (fields.stopped) return;
  }
}

std::vector<std::string> flagNames(std::uint32_t flags) {
  static constexpr std::pair<std::uint32_t, const char*> kNames[] = {
      {0x1, "host"},       {0x2, "adhoc"},           {0x100, "hard"},
      {0x200, "kill"},     {0x400, "expires"},       {0x800, "restrict"},
      {0x1000, "enforcement"}, {0x2000, "library-validation"}, {0x10000, "runtime"},
      {0x20000, "linker-signed"},
  };
  std::vector<std::string> names;
  for (const auto& [bit, name] : kNames) {
    if (flags & bit) names.emplace_back(name);
  }
  return names;
}

}  // namespace verifier
