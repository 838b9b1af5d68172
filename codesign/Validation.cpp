#include "codesign/Validation.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codesign/CmsSignature.h"
#include "codesign/EmbeddedSignature.h"
#include "codesign/FilePass.h"
#include "codesign/MachO.h"
#include "codesign/PageHashes.h"
#include "codesign/Requirement.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

constexpr std::size_t kTruncatedCdhash = 20;

// Where a failure's reason goes, when the caller asked for one.
std::string* reasonOf(FailureDetail* detail) { return detail ? &detail->reason : nullptr; }

// Names the slice a failure belongs to.
OSStatus inSlice(FailureDetail* detail, const MachOSlice& slice, OSStatus status) {
  if (detail != nullptr && status != errSecSuccess) detail->architecture = architectureOf(slice.cputype, slice.cpusubtype);
  return status;
}

// Hands a range of the file to a digest, to be compared with one taken
// earlier of the same bytes.
struct SameBytes {
  ossl::MD md = fetchDigest(HashType::sha256);
  ossl::MDContext context{EVP_MD_CTX_new()};
  bool ok = md && context && EVP_DigestInit_ex2(context.get(), md.get(), nullptr) == 1;

  void take(std::span<const std::uint8_t> bytes) {
    ok = ok && EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) == 1;
  }
  bool matches(const Bytes& expected) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    return ok && EVP_DigestFinal_ex(context.get(), out, &length) == 1 && length == expected.size() &&
           std::memcmp(out, expected.data(), length) == 0;
  }
};

// One pass over the slice's code pages, checked against every usable
// directory. The header and load commands pass by again on the way: when
// they are not the bytes that were parsed, the file changed while it was
// read, and the signature is not judged on a mixture.
OSStatus verifyCode(const FileSource& file, const MachOSlice& layout, const EmbeddedSignature& signature,
                    FailureDetail* detail) {
  std::unique_ptr<PageHashes> pages;
  if (const OSStatus status = PageHashes::create(signature.usable(), layout.size, &pages, detail)) return status;
  SameBytes head;
  const PassTarget targets[] = {
      {layout.offset, layout.offset + pages->extent(), [&](auto bytes) { pages->take(bytes); }},
      {layout.offset, layout.offset + layout.headSize, [&](auto bytes) { head.take(bytes); }},
  };
  if (const OSStatus status = readPass(file, targets)) return explain(reasonOf(detail), status, readFailure(status));
  if (!head.matches(layout.headDigest))
    return explain(reasonOf(detail), errSecCSSignatureFailed, "the file changed while it was read");
  const OSStatus status = pages->result();
  const auto& mismatch = pages->mismatch();
  if (status == errSecSuccess) return status;
  if (!mismatch) return explain(reasonOf(detail), status, "the code ends before its last page");
  return explain(detail, status, mismatch->cd->hashType(),
                 "page " + std::to_string(mismatch->page) + " at offset " + hexNumber(layout.offset + mismatch->offset) +
                     " does not match its hash");
}

// Every byte of the universal gaps is zero.
OSStatus gapsAreZero(const FileSource& file, const std::vector<FileRange>& gaps, bool* zero) {
  *zero = true;
  std::vector<PassTarget> targets;
  for (const FileRange& gap : gaps)
    targets.push_back({gap.offset, gap.offset + gap.size, [zero](std::span<const std::uint8_t> bytes) {
                         *zero = *zero && std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 0; });
                       }});
  return readPass(file, targets);
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

OSStatus checkTeam(const CodeDirectory& best, const std::vector<Bytes>& chain, FailureDetail* detail) {
  if (!best.teamIdentifier() || !appleDeveloperChain(chain)) return errSecSuccess;
  const auto ou = firstSubjectOU(chain.front());
  if (ou && *ou == *best.teamIdentifier()) return errSecSuccess;
  return explain(detail, errSecCSBadTeamIdentifier, best.hashType(),
                 "the team identifier " + *best.teamIdentifier() + " is not the signing certificate's team " +
                     ou.value_or("(none)"));
}

// The CMS signature, its chain and the team: what makes the signer known.
OSStatus verifySigner(const EmbeddedSignature& signature, SecCSFlags flags, const ValidationPolicy& policy,
                      std::vector<Bytes>* chain) {
  const ByteReader* blob = signature.superBlob().find(slot::kSignature);
  if (blob == nullptr) return explain(reasonOf(policy.failure), errSecCSUnsigned, "the signature has no CMS signature blob");
  CmsRequest request;
  if (!blobWrapperPayload(*blob, &request.payload))
    return explain(reasonOf(policy.failure), errSecCSSignatureInvalid, "the CMS signature blob is not a wrapped blob");
  request.signedDirectory = &signature.signedDirectory();
  request.directories = signature.usable();
  request.isAnchor = policy.isAnchor;
  request.anchorCertificates = policy.anchorCertificates;
  request.now = policy.now;
  request.expiryFatal = (flags & kSecCSConsiderExpiration) != 0 ||
                        (signature.best().flags() & kCodeDirectoryForceExpiration) != 0;
  CmsEvidence evidence;
  if (const OSStatus status = verifyCmsSignature(request, &evidence, reasonOf(policy.failure))) return status;
  if (const OSStatus status = checkTeam(signature.best(), evidence.chain.certificates, policy.failure)) return status;
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
  subject.anchorIsApple = endsAtAnchor(subject.certificates, policy.isAnchor);
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
OSStatus verifySlice(const FileSource& file, const MachOSlice& layout, const EmbeddedSignature& signature,
                     SecCSFlags flags, const Requirement* requirement, const ValidationPolicy& policy) {
  std::vector<Bytes> chain;
  if (!signature.adhoc())
    if (const OSStatus status = verifySigner(signature, flags, policy, &chain)) return status;
  if (const OSStatus status = signature.verifySpecialSlots(policy.failure)) return status;
  if (const OSStatus status = verifyCode(file, layout, signature, policy.failure)) return status;
  if (requirement == nullptr) return errSecSuccess;
  return requirement->evaluate(subjectOf(signature, std::move(chain), policy), reasonOf(policy.failure));
}

// A standalone executable has no resource directory to seal.
OSStatus checkResources(const EmbeddedSignature& signature, FailureDetail* detail) {
  const CodeDirectory& best = signature.best();
  if (!best.specialSlotPresent(slot::kResourceDirectory)) return errSecSuccess;
  const auto seal = signature.component(slot::kResourceDirectory);
  const std::string slotName = specialSlotName(slot::kResourceDirectory);
  if (!seal || !signature.slotMatches(slot::kResourceDirectory, *seal))
    return explain(detail, errSecCSResourceDirectoryFailed, best.hashType(), slotName + " does not match its hash");
  return explain(detail, errSecCSResourcesNotFound, best.hashType(),
                 slotName + " seals resources, which a single file does not have");
}

// What the strict rules ask of the verified slices: every directory covers
// exactly the bytes before the signature, and the signature closes the slice.
// Each holds the first slice that breaks it.
struct StrictFacts {
  std::optional<FailureDetail> codeLimit;
  std::optional<FailureDetail> signatureEnd;
};

void noteStrict(const MachOSlice& layout, const EmbeddedSignature& signature, StrictFacts* facts) {
  const FileRange& area = *layout.codeSignature;
  const std::string architecture = architectureOf(layout.cputype, layout.cpusubtype);
  for (const CodeDirectory* cd : signature.usable())
    if (cd->codeLimit() != area.offset && !facts->codeLimit)
      facts->codeLimit = FailureDetail{architecture, std::string(hashTypeName(cd->hashType())),
                                       "the code limit " + hexNumber(cd->codeLimit()) +
                                           " is not where the signature starts (" + hexNumber(area.offset) + ")"};
  if (area.offset + area.size != layout.size && !facts->signatureEnd)
    facts->signatureEnd = FailureDetail{architecture, "",
                                        "the signature ends at " + hexNumber(area.offset + area.size) +
                                            ", not at the slice's end " + hexNumber(layout.size)};
}

OSStatus strictFailure(FailureDetail* detail, OSStatus status, FailureDetail what) {
  if (detail != nullptr) *detail = std::move(what);
  return status;
}

// The strict rules, once every slice has verified.
OSStatus checkStrict(const FileSource& file, const MachOFile& layout, const StrictFacts& facts,
                     FailureDetail* detail) {
  if (facts.codeLimit) return strictFailure(detail, errSecCSSignatureInvalid, *facts.codeLimit);
  if (facts.signatureEnd) return strictFailure(detail, errSecCSBadMainExecutable, *facts.signatureEnd);
  for (const MachOSlice& slice : layout.slices)
    if (!slice.endsAtSliceEnd)
      return inSlice(detail, slice,
                     explain(reasonOf(detail), errSecCSBadMainExecutable,
                             "the last segment does not end where the " +
                                 std::string(layout.universal ? "universal header says the slice ends" : "file ends")));
  if (!layout.containerClean)
    return explain(reasonOf(detail), errSecCSBadMainExecutable,
                   "the universal file pads a slice beyond its alignment or has bytes after the last slice");
  bool zero = true;
  if (const OSStatus status = gapsAreZero(file, layout.gaps, &zero))
    return explain(reasonOf(detail), status, readFailure(status));
  if (!zero) return explain(reasonOf(detail), errSecCSBadMainExecutable, "the padding between slices is not all zero");
  return errSecSuccess;
}

bool sameTeam(const EmbeddedSignature& a, const EmbeddedSignature& b) {
  return a.best().teamIdentifier() == b.best().teamIdentifier();
}

}  // namespace

// The slices are verified one after the other, each read once: headers and
// signature by offset, then the code pages front to back. Only the main
// slice's signature is kept to the end; of the others, only what the strict
// rules need.
OSStatus checkValidity(const FileSource& file, SecCSFlags flags, const Requirement* requirement,
                       const ValidationPolicy& policy) {
  FailureDetail* detail = policy.failure;
  if (detail != nullptr) *detail = FailureDetail{};
  MachOFile layout;
  if (const OSStatus status = parseMachO(file, &layout, reasonOf(detail))) return status;
  const std::size_t mainIndex = mainSliceIndex(layout);
  const MachOSlice& main = layout.slices[mainIndex];
  std::unique_ptr<EmbeddedSignature> mainSignature;
  if (const OSStatus status = EmbeddedSignature::load(file, main, &mainSignature, reasonOf(detail)))
    return inSlice(detail, main, status);
  if (const OSStatus status = verifySlice(file, main, *mainSignature, flags, requirement, policy))
    return inSlice(detail, main, status);
  StrictFacts strict;
  noteStrict(main, *mainSignature, &strict);
  for (std::size_t i = 0; (flags & kSecCSCheckAllArchitectures) && i < layout.slices.size(); ++i) {
    if (i == mainIndex) continue;
    const MachOSlice& slice = layout.slices[i];
    std::unique_ptr<EmbeddedSignature> signature;
    if (const OSStatus status = EmbeddedSignature::load(file, slice, &signature, reasonOf(detail)))
      return inSlice(detail, slice, status);
    if (!sameTeam(*signature, *mainSignature))
      return inSlice(detail, slice,
                     explain(reasonOf(detail), errSecCSSignatureInvalid,
                             "its team identifier is not the " + architectureOf(main.cputype, main.cpusubtype) +
                                 " slice's"));
    if (const OSStatus status = verifySlice(file, slice, *signature, flags, requirement, policy))
      return inSlice(detail, slice, status);
    noteStrict(slice, *signature, &strict);
  }
  if (const OSStatus status = checkResources(*mainSignature, detail)) return inSlice(detail, main, status);
  if ((flags & kSecCSStrictValidate) == 0) return errSecSuccess;
  return checkStrict(file, layout, strict, detail);
}

}  // namespace codesign
