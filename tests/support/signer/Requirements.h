#pragma once

#include <optional>
#include <string>

#include "Bytes.h"

namespace signer {

// Which designated requirement a signature states for itself, after the
// kind of its signing certificate.
enum class DesignatedKind {
  appStore,     // the leaf is a Mac App Store application certificate
  developerID,  // a Developer ID Application leaf under a Developer ID CA
  anchorOnly,   // any other certificate: identifier and Apple anchor only
};

// The 12-byte requirement set with no entries: what ad-hoc signatures carry.
Bytes emptyRequirementSet();

// A requirement set holding one designated requirement, compiled to the
// binary form. The Developer ID form names the team and needs one.
Bytes designatedRequirementSet(const std::string& identifier, DesignatedKind kind,
                               const std::optional<std::string>& team);

}  // namespace signer
