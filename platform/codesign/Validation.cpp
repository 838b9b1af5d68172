#include "platform/codesign/Validation.h"

#include <memory>
#include <vector>

#include "platform/codesign/CmsSignature.h"
#include "platform/codesign/EmbeddedSignature.h"
#include "platform/codesign/MachO.h"
#include "platform/codesign/PageHashes.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

constexpr std::size_t kTruncatedCdhash = 20;

struct Slice {
  const MachOSlice* layout = nullptr;
  ByteReader bytes;
  std::unique_ptr<EmbeddedSignature> signature;
};

OSStatus loadSlice(const ByteReader& file, const MachOSlice& layout, Slice* out) {
  out->layout = &layout;
  if (!file.sub(layout.offset, layout.size, &out->bytes)) return errSecCSBadObjectFormat;
  return EmbeddedSignature::load(out->bytes, layout, &out->signature);
}

// The framework's test for an Apple developer certificate, which makes the
// team identifier in the directory binding.
bool appleDeveloperChain(const std::vector<Bytes>& chain) {
  if (chain.empty()) return false;
  const Bytes& leaf = chain.front();
  const bool developerId = chain.size() > 1 && hasExtension(chain[1], "1.2.840.113635.100.6.2.6") &&
                           hasExtension(leaf, "1.2.840.113635.100.6.1.13");
  return developerId || hasExtension(leaf, "1.2.840.113635.100.6.1.2") ||
         hasExtension(leaf, "1.2.840.113635.100.6.1.12") || hasExtension(leaf, "1.2.840.113635.100.6.1.7") ||
         hasExtension(leaf, "1.2.840.113635.100.6.1.4");
}

OSStatus checkTeam(const CodeDirectory& best, const std::vector<Bytes>& chain) {
  if (!best.teamIdentifier() || !appleDeveloperChain(chain)) return errSecSuccess;
  const auto ou = firstSubjectOU(chain.front());
  return ou && *ou == *best.teamIdentifier() ? errSecSuccess : errSecCSBadTeamIdentifier;
}

// The CMS signature, its chain and the team: what makes the signer known.
OSStatus verifySigner(const EmbeddedSignature& signature, SecCSFlags flags, const ValidationPolicy& policy,
                      std::vector<Bytes>* chain) {
  const ByteReader* blob = signature.superBlob().find(slot::kSignature);
  if (blob == nullptr) return errSecCSUnsigned;
  CmsRequest request;
  if (!blobWrapperPayload(*blob, &request.payload)) return errSecCSSignatureInvalid;
  request.signedDirectory = &signature.signedDirectory();
  request.directories = signature.usable();
  request.isAnchor = policy.isAnchor;
  request.anchorCertificates = policy.anchorCertificates;
  request.now = policy.now;
  request.expiryFatal = (flags & kSecCSConsiderExpiration) != 0 ||
                        (signature.best().flags() & kCodeDirectoryForceExpiration) != 0;
  CmsEvidence evidence;
  if (const OSStatus status = verifyCmsSignature(request, &evidence)) return status;
  if (const OSStatus status = checkTeam(signature.best(), evidence.chain.certificates)) return status;
  *chain = std::move(evidence.chain.certificates);
  return errSecSuccess;
}

std::optional<Bytes> sealed(const EmbeddedSignature& signature, std::uint32_t n, std::uint64_t skip) {
  const auto bytes = signature.component(n);
  ByteReader content;
  if (!signature.best().specialSlotPresent(n) || !bytes || !bytes->tail(skip, &content)) return std::nullopt;
  return Bytes(content.bytes().begin(), content.bytes().end());
}

RequirementSubject subjectOf(const EmbeddedSignature& signature, std::vector<Bytes> chain,
                             const ValidationPolicy& policy) {
  const CodeDirectory& best = signature.best();
  RequirementSubject subject;
  subject.identifier = best.identifier();
  subject.cdhash = fullCdhash(best);
  subject.cdhash.resize(std::min(subject.cdhash.size(), kTruncatedCdhash));
  subject.platform = best.platform();
  subject.certificates = std::move(chain);
  if (!subject.certificates.empty()) {
    const auto print = fingerprint(subject.certificates.back());
    subject.anchorIsApple = print && policy.isAnchor(*print);
  }
  subject.infoPlist = sealed(signature, slot::kInfoPlist, 0);
  const auto entitlements = signature.component(slot::kEntitlements);
  if (entitlements && blobMagic(*entitlements) == static_cast<std::uint32_t>(BlobMagic::entitlements))
    subject.entitlements = sealed(signature, slot::kEntitlements, 8);
  const auto der = signature.component(slot::kDerEntitlements);
  if (der && blobMagic(*der) == static_cast<std::uint32_t>(BlobMagic::derEntitlements))
    subject.derEntitlements = sealed(signature, slot::kDerEntitlements, 8);
  return subject;
}

// One architecture, after its signature loaded: signer, sealed components,
// code pages, then the requirement.
OSStatus verifySlice(const Slice& slice, SecCSFlags flags, const Requirement* requirement,
                     const ValidationPolicy& policy) {
  const EmbeddedSignature& signature = *slice.signature;
  std::vector<Bytes> chain;
  if (!signature.adhoc())
    if (const OSStatus status = verifySigner(signature, flags, policy, &chain)) return status;
  if (const OSStatus status = signature.verifySpecialSlots()) return status;
  if (const OSStatus status = verifyPageHashes(slice.bytes, signature.usable())) return status;
  if (requirement == nullptr) return errSecSuccess;
  return requirement->evaluate(subjectOf(signature, std::move(chain), policy));
}

// A standalone executable has no resource directory to seal.
OSStatus checkResources(const EmbeddedSignature& signature) {
  if (!signature.best().specialSlotPresent(slot::kResourceDirectory)) return errSecSuccess;
  const auto seal = signature.component(slot::kResourceDirectory);
  if (!seal || !signature.slotMatches(slot::kResourceDirectory, *seal)) return errSecCSResourceDirectoryFailed;
  return errSecCSResourcesNotFound;
}

// Every directory covers exactly the bytes before the signature, and the
// signature closes the slice.
OSStatus checkStrict(const MachOFile& file, const std::vector<Slice>& slices) {
  for (const Slice& slice : slices)
    for (const CodeDirectory* cd : slice.signature->usable())
      if (cd->codeLimit() != slice.layout->codeSignature->offset) return errSecCSSignatureInvalid;
  for (const Slice& slice : slices) {
    const FileRange& signature = *slice.layout->codeSignature;
    if (signature.offset + signature.size != slice.layout->size) return errSecCSBadMainExecutable;
  }
  for (const MachOSlice& layout : file.slices)
    if (!layout.endsAtSliceEnd) return errSecCSBadMainExecutable;
  return file.containerClean ? errSecSuccess : errSecCSBadMainExecutable;
}

bool sameTeam(const EmbeddedSignature& a, const EmbeddedSignature& b) {
  return a.best().teamIdentifier() == b.best().teamIdentifier();
}

}  // namespace

OSStatus checkValidity(const ByteReader& bytes, SecCSFlags flags, const Requirement* requirement,
                       const ValidationPolicy& policy) {
  MachOFile file;
  if (const OSStatus status = parseMachO(bytes, &file)) return status;
  const std::size_t mainIndex = mainSliceIndex(file);
  std::vector<Slice> slices(1);
  if (const OSStatus status = loadSlice(bytes, file.slices[mainIndex], &slices[0])) return status;
  if (const OSStatus status = verifySlice(slices[0], flags, requirement, policy)) return status;
  for (std::size_t i = 0; (flags & kSecCSCheckAllArchitectures) && i < file.slices.size(); ++i) {
    if (i == mainIndex) continue;
    Slice slice;
    if (const OSStatus status = loadSlice(bytes, file.slices[i], &slice)) return status;
    if (!sameTeam(*slice.signature, *slices[0].signature)) return errSecCSSignatureInvalid;
    if (const OSStatus status = verifySlice(slice, flags, requirement, policy)) return status;
    slices.push_back(std::move(slice));
  }
  if (const OSStatus status = checkResources(*slices[0].signature)) return status;
  if (flags & kSecCSStrictValidate) return checkStrict(file, slices);
  return errSecSuccess;
}

}  // namespace platform::codesign
