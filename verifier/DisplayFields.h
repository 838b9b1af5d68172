#pragma once

// What --display shows of one architecture: its signature's fields, in the
// order they are printed. Display.cpp reads them; DisplayText.cpp writes
// them as Name=value lines and DisplayJson.cpp as JSON.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "codesign/CodeSigning.h"

namespace verifier {

// A part of the signature that is there but cannot be read, and why.
struct Unreadable {
  codesign::OSStatus status;
};

struct DirectoryFields {
  std::uint32_t version = 0;
  std::size_t size = 0;
  std::uint32_t flags = 0;
  std::uint32_t codeSlots = 0;
  std::uint32_t specialSlots = 0;
};

struct HashTypeField {
  std::string name;
  std::size_t size = 0;
};

struct RequirementSetFields {
  std::uint32_t count = 0;
  std::size_t size = 0;
};

struct DesignatedField {
  std::string text;
  bool implicit = false;  // derived, the signature states none
};

struct EntitlementsField {
  enum class State { none, notBound, present } state = State::none;
  std::string xml;  // present: the property list as the signature carries it
};

// Where reading stopped: "container", or the architecture's "signature".
struct Stopped {
  std::string where;
  codesign::OSStatus status = 0;
};

struct SliceFields {
  std::optional<std::string> architecture;  // none when the container could not be read
  std::optional<Stopped> stopped;           // set: nothing but the architecture was read
  std::string identifier;
  std::string format;
  DirectoryFields codeDirectory;
  std::vector<HashTypeField> hashTypes;  // one per usable directory, strongest last
  std::string cdhash;
  bool adhoc = false;
  std::optional<std::size_t> signatureSize;
  std::variant<std::vector<std::string>, Unreadable> authorities;  // common names, leaf to root
  std::optional<std::time_t> timestamp;   // the secure timestamp
  std::optional<std::time_t> signedTime;  // the signer's claimed time, shown without a timestamp
  std::optional<std::variant<std::size_t, Unreadable>> infoPlistEntries;  // none: not bound
  std::optional<std::string> teamIdentifier;
  std::optional<std::uint32_t> runtimeVersion;  // 0xMMMMmmpp
  std::optional<std::uint64_t> pageSize;
  std::optional<std::variant<RequirementSetFields, Unreadable>> internalRequirements;  // none: no set
  std::optional<std::variant<DesignatedField, Unreadable>> designated;
  std::optional<EntitlementsField> entitlements;  // only when asked for
};

}  // namespace verifier
