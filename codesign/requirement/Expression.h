#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "codesign/RequirementSubject.h"
#include "codesign/requirement/Match.h"

namespace codesign::requirement {

struct Expression;
using ExpressionPtr = std::unique_ptr<Expression>;

// The deepest expression tree accepted, counting every operator level. It
// bounds every recursion over the tree: parsing, evaluation and destruction.
inline constexpr unsigned kMaxExpressionDepth = 1000;

// A certificate position: 0 the leaf, N the N-th issuer above it, -1 the
// anchor, -N the N-th certificate counting down from the anchor.
using Slot = std::int32_t;
inline constexpr Slot kLeafSlot = 0;
inline constexpr Slot kAnchorSlot = -1;

struct Constant { bool value; };
struct Not { ExpressionPtr operand; };
struct And { ExpressionPtr left, right; };
struct Or { ExpressionPtr left, right; };
struct Identifier { std::string identifier; };
struct CodeDirectoryHash { Bytes hash; };  // 20 bytes
struct Platform { std::int32_t platform; };
struct AppleAnchor {};          // anchor apple
struct AppleGenericAnchor {};   // anchor apple generic
struct CertificateHash { Slot slot; Bytes sha1; };  // certificate N = H"…"

// certificate N [field.OID], [extension.OID], [policy.OID], [subject.K],
// [timestamp.OID] followed by a match.
struct CertificateField {
  enum class Kind { Extension, Policy, Subject, Timestamp };
  Slot slot;
  Kind kind;
  std::string key;  // the dotted OID, or the subject attribute name
  Match match;
};

// info [key] or entitlement [key] followed by a match.
struct PropertyListField {
  enum class Source { InfoPlist, Entitlements };
  Source source;
  std::string key;
  Match match;
};

// Constructs that ask what no file can prove here (trust settings,
// notarization tickets, the legacy cut-off dates, named anchors and named
// requirements built into the platform): they are never satisfied.
struct Unprovable { const char* construct; };

using Node = std::variant<Constant, Not, And, Or, Identifier, CodeDirectoryHash, Platform,
                          AppleAnchor, AppleGenericAnchor, CertificateHash, CertificateField,
                          PropertyListField, Unprovable>;

struct Expression {
  Node node;
  unsigned depth = 1;  // 1 for a leaf node, one more than its deepest operand otherwise
};

}  // namespace codesign::requirement
