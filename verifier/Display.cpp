#include "verifier/Display.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "codesign/CmsSignature.h"
#include "codesign/EmbeddedSignature.h"
#include "codesign/InternalRequirements.h"
#include "codesign/MachO.h"
#include "codesign/Requirement.h"
#include "codesign/SliceArchitectures.h"
#include "codesign/Status.h"
#include "codesign/requirement/PropertyListReader.h"
#include "verifier/Report.h"

namespace verifier {
namespace {

using namespace codesign;

std::string hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

std::string hex32(std::uint32_t value) {
  std::string text;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const unsigned digit = (value >> shift) & 0xF;
    if (!text.empty() || digit != 0 || shift == 0) text += "0123456789abcdef"[digit];
  }
  return text;
}

std::string architectureOf(const MachOSlice& slice) {
  const auto cpu = static_cast<std::uint32_t>(slice.cputype);
  return architectureName(cpu, static_cast<std::uint32_t>(slice.cpusubtype)).value_or("cputype-0x" + hex32(cpu));
}

std::string format(const MachOFile& layout) {
  std::string architectures;
  for (const MachOSlice& slice : layout.slices) {
    architectures += (architectures.empty() ? "" : " ") + architectureOf(slice);
  }
  return std::string("Mach-O ") + (layout.universal ? "universal" : "thin") + " (" + architectures + ")";
}

std::string flagNames(std::uint32_t flags) {
  static constexpr std::pair<std::uint32_t, const char*> kNames[] = {
      {0x1, "host"},       {0x2, "adhoc"},           {0x100, "hard"},
      {0x200, "kill"},     {0x400, "expires"},       {0x800, "restrict"},
      {0x1000, "enforcement"}, {0x2000, "library-validation"}, {0x10000, "runtime"},
      {0x20000, "linker-signed"},
  };
  std::string names;
  for (const auto& [bit, name] : kNames) {
    if (flags & bit) names += (names.empty() ? "" : ",") + std::string(name);
  }
  return names.empty() ? "none" : names;
}

const char* hashName(HashType type) {
  switch (type) {
    case HashType::sha1: return "sha1";
    case HashType::sha256: return "sha256";
    case HashType::sha256Truncated: return "sha256-truncated";
    case HashType::sha384: return "sha384";
    case HashType::unknown: break;
  }
  return "unknown";
}

void directoryLines(const EmbeddedSignature& signature, std::ostream& out) {
  const CodeDirectory& best = signature.best();
  out << "CodeDirectory v=" << hex32(best.version()) << " size=" << best.blob().size() << " flags=0x"
      << hex32(best.flags()) << "(" << flagNames(best.flags()) << ") hashes=" << best.codeSlots() << "+"
      << best.specialSlots() << "\n";
  std::vector<const CodeDirectory*> usable(signature.usable().begin(), signature.usable().end());
  std::stable_sort(usable.begin(), usable.end(), [](const CodeDirectory* a, const CodeDirectory* b) {
    return hashRank(a->hashType()) < hashRank(b->hashType());
  });
  for (const CodeDirectory* directory : usable) {
    out << "Hash type=" << hashName(directory->hashType()) << " size=" << storedHashSize(directory->hashType())
        << "\n";
  }
  const Bytes cdhash = fullCdhash(best);
  out << "CDHash=" << hex(std::span(cdhash).first(std::min<std::size_t>(cdhash.size(), 20))) << "\n";
}

// The number of entries of the Info.plist the best directory seals, or
// nothing when none is sealed or it does not read as a dictionary.
std::optional<std::size_t> infoPlistEntries(const EmbeddedSignature& signature) {
  const auto bytes = signature.component(slot::kInfoPlist);
  if (!signature.best().specialSlotPresent(slot::kInfoPlist) || !bytes ||
      !signature.slotMatches(slot::kInfoPlist, *bytes)) {
    return std::nullopt;
  }
  requirement::Value dictionary;
  if (requirement::readPropertyListDictionary(Bytes(bytes->bytes().begin(), bytes->bytes().end()), &dictionary))
    return std::nullopt;
  return dictionary.keys.size();
}

void requirementLines(const EmbeddedSignature& signature, std::ostream& out) {
  const ByteReader* set = signature.superBlob().find(slot::kRequirements);
  if (set == nullptr) {
    out << "Internal requirements=none\n";
    return;
  }
  InternalRequirements requirements;
  if (const OSStatus status = readInternalRequirements(*set, &requirements)) {
    out << "Internal requirements=unreadable (" << statusText(status) << ")\n";
    return;
  }
  out << "Internal requirements count=" << requirements.count << " size=" << set->size() << "\n";
  if (!requirements.designated) return;
  RequirementRef designated;
  std::string text;
  OSStatus status = Requirement::read(requirements.designated->bytes(), &designated);
  if (status == errSecSuccess) status = designated->text(&text);
  if (status == errSecSuccess) {
    out << "designated => " << text << "\n";
  } else {
    out << "# designated requirement unreadable (" << statusText(status) << ")\n";
  }
}

void signatureLines(const EmbeddedSignature& signature, std::ostream& out) {
  const CodeDirectory& best = signature.best();
  if (best.adhoc()) {
    out << "Signature=adhoc\n";
  } else if (const ByteReader* cms = signature.superBlob().find(slot::kSignature)) {
    out << "Signature size=" << cms->size() << "\n";
  }
  if (const auto entries = infoPlistEntries(signature)) {
    out << "Info.plist entries=" << *entries << "\n";
  } else {
    out << "Info.plist=not bound\n";
  }
  out << "TeamIdentifier=" << best.teamIdentifier().value_or("not set") << "\n";
  if (best.pageShift() != 0) out << "Page size=" << (std::uint64_t{1} << std::min(best.pageShift(), 63u)) << "\n";
  requirementLines(signature, out);
}

bool displaySlice(const FileSource& file, const MachOFile& layout, const MachOSlice& slice, std::ostream& out) {
  out << "Architecture=" << architectureOf(slice) << "\n";
  std::unique_ptr<EmbeddedSignature> signature;
  if (const OSStatus status = EmbeddedSignature::load(file, slice, &signature)) {
    out << "Display stopped=" << architectureOf(slice) << " signature (" << statusText(status) << ")\n";
    return false;
  }
  out << "Identifier=" << signature->best().identifier() << "\n";
  out << "Format=" << format(layout) << "\n";
  directoryLines(*signature, out);
  signatureLines(*signature, out);
  return true;
}

}  // namespace

void displaySignature(const FileSource& file, std::ostream& out) {
  MachOFile layout;
  if (const OSStatus status = parseMachO(file, &layout)) {
    out << "Display stopped=container (" << statusText(status) << ")\n";
    return;
  }
  for (const MachOSlice& slice : layout.slices) {
    if (!displaySlice(file, layout, slice, out)) return;
  }
}

}  // namespace verifier
