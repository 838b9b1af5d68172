#include "Signer.h"

#include <openssl/objects.h>

#include "CodeDirectory.h"
#include "MachO.h"
#include "Universal.h"

namespace signer {

namespace {

constexpr std::uint32_t kSuperBlobMagic = 0xfade0cc0;
constexpr std::uint32_t kBlobWrapperMagic = 0xfade0b01;
constexpr std::uint32_t kAdhocFlag = 0x2;
constexpr std::uint32_t kCodeDirectorySlot = 0;
constexpr std::uint32_t kRequirementsSlot = 2;
constexpr std::uint32_t kAlternateCodeDirectorySlot = 0x1000;
constexpr std::uint32_t kSignatureSlot = 0x10000;
constexpr std::uint32_t kMainBinary = 0x1;
constexpr std::uint32_t kExecuteFileType = 2;
// Room for the signed attributes and the signature value beyond the
// certificates themselves; generous, since the space is reserved before the
// signature exists.
constexpr std::uint64_t kSignatureAllowance = 4096;

struct Blob {
  std::uint32_t slot;
  Bytes bytes;
};

bool certificateHas(X509* certificate, const char* oid) {
  ASN1ObjectPtr object(must(OBJ_txt2obj(oid, 1), std::string("parsing OID ") + oid));
  return X509_get_ext_by_OBJ(certificate, object.get(), -1) >= 0;
}

DesignatedKind designatedKind(const SignOptions& options) {
  if (options.adhoc || !options.identity) return DesignatedKind::anchorOnly;
  X509* leaf = options.identity->leaf.get();
  if (certificateHas(leaf, "1.2.840.113635.100.6.1.9")) return DesignatedKind::appStore;
  if (certificateHas(leaf, "1.2.840.113635.100.6.1.13") && options.team) return DesignatedKind::developerID;
  return DesignatedKind::anchorOnly;
}

std::optional<Bytes> requirementSet(const SignOptions& options) {
  switch (options.requirements) {
    case RequirementsSlot::none: return std::nullopt;
    case RequirementsSlot::empty: return emptyRequirementSet();
    case RequirementsSlot::designated:
      if (options.adhoc) return emptyRequirementSet();
      return designatedRequirementSet(options.identifier, designatedKind(options), options.team);
  }
  throw SignerError("internal error: unknown requirements choice");
}

// The special-slot components in slot order (-1 Info.plist, -2 requirements),
// trimmed after the last present one.
std::vector<std::optional<Bytes>> specialSlots(std::span<const std::uint8_t> slice, const MachOLayout& layout,
                                               const std::optional<Bytes>& requirements, const SignOptions& options) {
  std::vector<std::optional<Bytes>> slots(2);
  if (options.sealInfoPlist && layout.infoPlist) {
    const auto plist = ByteReader(slice).slice(layout.infoPlist->offset, layout.infoPlist->size, "__info_plist");
    slots[0] = Bytes(plist.begin(), plist.end());
  }
  slots[1] = requirements;
  while (!slots.empty() && !slots.back()) slots.pop_back();
  return slots;
}

CodeDirectoryFields directoryFields(const MachOLayout& layout, const SignOptions& options, std::uint64_t codeLimit) {
  CodeDirectoryFields fields;
  fields.identifier = options.identifier;
  fields.team = options.adhoc ? std::nullopt : options.team;
  fields.pageShift = options.pageShift;
  fields.flags = options.flags | (options.adhoc ? kAdhocFlag : 0);
  fields.codeLimit = codeLimit;
  fields.execSegBase = layout.text.fileoff;
  fields.execSegLimit = layout.text.filesize;
  fields.execSegFlags = layout.filetype == kExecuteFileType ? kMainBinary : 0;
  fields.runtime = options.runtime;
  return fields;
}

std::uint64_t certificatesSize(const SigningIdentity& identity) {
  std::uint64_t size = certificateDER(identity.leaf.get()).size();
  for (const X509Ptr& certificate : identity.chain) size += certificateDER(certificate.get()).size();
  return size;
}

std::uint64_t cmsAllowance(const SignOptions& options) {
  if (options.adhoc) return 8;
  std::uint64_t size = kSignatureAllowance + certificatesSize(*options.identity);
  if (const auto& authority = options.cms.timestamp) {
    size += kSignatureAllowance + certificateDER(authority->certificate.get()).size();
    for (const X509Ptr& certificate : authority->chain) size += certificateDER(certificate.get()).size();
  }
  return size;
}

// An upper bound of the SuperBlob's size, known before the slice is laid out:
// the code limit can grow by at most the 16 bytes of alignment padding.
std::uint32_t reservedSize(std::span<const std::uint8_t> slice, const MachOLayout& layout,
                           const std::vector<std::optional<Bytes>>& special, const std::optional<Bytes>& requirements,
                           const SignOptions& options) {
  CodeDirectoryFields fields = directoryFields(layout, options, slice.size() + 16);
  fields.specialSlots = special;
  std::uint64_t size = 12 + 8 * (options.hashes.size() + 2) + (requirements ? requirements->size() : 0);
  for (HashType type : options.hashes) {
    fields.hashType = type;
    size += codeDirectorySize(fields);
  }
  return checkedU32(alignUp(size + 8 + cmsAllowance(options), 16), "signature");
}

Bytes blobWrapper(std::span<const std::uint8_t> payload) {
  BlobWriter out;
  out.be32(kBlobWrapperMagic);
  out.be32(checkedU32(8 + payload.size(), "signature blob"));
  out.append(payload);
  return out.take();
}

Bytes superBlob(const std::vector<Blob>& blobs) {
  BlobWriter out;
  out.be32(kSuperBlobMagic);
  out.be32(0);  // length, patched below
  out.be32(static_cast<std::uint32_t>(blobs.size()));
  std::uint64_t offset = 12 + 8 * blobs.size();
  for (const Blob& blob : blobs) {
    out.be32(blob.slot);
    out.be32(checkedU32(offset, "blob offset"));
    offset += blob.bytes.size();
  }
  for (const Blob& blob : blobs) out.append(blob.bytes);
  out.patchBE32(4, checkedU32(out.size(), "signature"));
  return out.take();
}

std::vector<CodeDirectoryBlob> codeDirectories(const PreparedSlice& prepared, const SignOptions& options,
                                               const std::vector<std::optional<Bytes>>& special) {
  if (options.codeLimitShort > prepared.signatureOffset) throw SignerError("--code-limit-short exceeds the code");
  CodeDirectoryFields fields = directoryFields(prepared.layout, options, prepared.signatureOffset - options.codeLimitShort);
  fields.specialSlots = special;
  std::vector<CodeDirectoryBlob> directories;
  for (HashType type : options.hashes) {
    fields.hashType = type;
    directories.push_back({type, buildCodeDirectory(fields, prepared.bytes)});
  }
  return directories;
}

std::vector<Blob> signatureBlobs(std::vector<CodeDirectoryBlob> directories, const std::optional<Bytes>& requirements,
                                 const SignOptions& options) {
  const Bytes cms = options.adhoc ? Bytes{} : cmsSignature(*options.identity, directories, options.cms);
  std::vector<Blob> blobs{{kCodeDirectorySlot, std::move(directories.front().bytes)}};
  if (requirements) blobs.push_back({kRequirementsSlot, *requirements});
  for (std::size_t i = 1; i < directories.size(); ++i)
    blobs.push_back({kAlternateCodeDirectorySlot + static_cast<std::uint32_t>(i - 1), std::move(directories[i].bytes)});
  blobs.push_back({kSignatureSlot, blobWrapper(cms)});
  return blobs;
}

void checkOptions(const SignOptions& options) {
  if (options.identifier.empty()) throw SignerError("--identifier is required");
  // Slot 0 and the five alternate slots 0x1000-0x1004.
  if (options.hashes.empty() || options.hashes.size() > 6) throw SignerError("--hashes takes one to six hash types");
  if (!options.adhoc && !options.identity) throw SignerError("--cert and --key are required unless --adhoc");
}

}  // namespace

Bytes signSlice(std::span<const std::uint8_t> slice, const SignOptions& options) {
  checkOptions(options);
  const MachOLayout layout = parseMachO(slice);
  const std::optional<Bytes> requirements = requirementSet(options);
  const std::vector<std::optional<Bytes>> special = specialSlots(slice, layout, requirements, options);
  PreparedSlice prepared = prepareForSignature(slice, reservedSize(slice, layout, special, requirements, options));
  const Bytes signature = superBlob(signatureBlobs(codeDirectories(prepared, options, special), requirements, options));
  if (signature.size() > prepared.bytes.size() - prepared.signatureOffset)
    throw SignerError("internal error: the signature outgrew its reserved space");
  std::copy(signature.begin(), signature.end(), prepared.bytes.begin() + static_cast<std::ptrdiff_t>(prepared.signatureOffset));
  return std::move(prepared.bytes);
}

Bytes signFile(std::span<const std::uint8_t> file, const SignOptions& options) {
  if (!isUniversal(file)) {
    if (options.onlyArch && parseMachO(file).cputype != *options.onlyArch)
      throw SignerError("--only-arch names an architecture the file does not have");
    return signSlice(file, options);
  }
  std::vector<FatSlice> slices = splitUniversal(file);
  bool signedAny = false;
  for (FatSlice& slice : slices) {
    if (options.onlyArch && slice.cputype != *options.onlyArch) continue;
    if (parseMachO(slice.bytes).cputype != slice.cputype)
      throw SignerError("slice " + archName(slice.cputype) + " holds another architecture");
    slice.bytes = signSlice(slice.bytes, options);
    signedAny = true;
  }
  if (!signedAny) throw SignerError("--only-arch names an architecture the file does not have");
  return joinUniversal(slices);
}

}  // namespace signer
