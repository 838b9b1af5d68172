#include "Requirements.h"

#include <openssl/objects.h>

#include "OpenSSLSupport.h"

namespace signer {

namespace {

constexpr std::uint32_t kRequirementSetMagic = 0xfade0c01;
constexpr std::uint32_t kRequirementMagic = 0xfade0c00;
constexpr std::uint32_t kExpressionForm = 1;
constexpr std::uint32_t kDesignatedType = 3;
constexpr std::int32_t kLeaf = 0;

enum Op : std::uint32_t { opIdent = 2, opAnd = 6, opCertField = 11, opCertGeneric = 14, opAppleGenericAnchor = 15 };
enum Match : std::uint32_t { matchExists = 0, matchEqual = 1 };

// A compiled requirement expression, written in prefix order.
class Expression {
 public:
  Expression& op(Op code) { _out.be32(code); return *this; }
  Expression& slot(std::int32_t index) { _out.be32(static_cast<std::uint32_t>(index)); return *this; }
  Expression& match(Match code) { _out.be32(code); return *this; }
  Expression& data(std::span<const std::uint8_t> bytes) {
    _out.be32(checkedU32(bytes.size(), "requirement operand"));
    _out.append(bytes);
    _out.zeros((4 - bytes.size() % 4) % 4);
    return *this;
  }
  Expression& text(const std::string& value) {
    return data({reinterpret_cast<const std::uint8_t*>(value.data()), value.size()});
  }
  // An OID operand: the content octets of its DER encoding.
  Expression& oid(const char* dotted) {
    ASN1ObjectPtr object(must(OBJ_txt2obj(dotted, 1), std::string("parsing OID ") + dotted));
    return data({OBJ_get0_data(object.get()), OBJ_length(object.get())});
  }
  Bytes take() { return _out.take(); }

 private:
  BlobWriter _out;
};

// certificate SLOT[field.OID] exists
void certificateHas(Expression& e, std::int32_t slot, const char* oid) {
  e.op(opCertGeneric).slot(slot).oid(oid).match(matchExists);
}

// Right-nested conjunctions, the shape Apple's signer writes:
// identifier and (anchor and (...)).
Bytes designatedExpression(const std::string& identifier, DesignatedKind kind, const std::optional<std::string>& team) {
  Expression e;
  e.op(opAnd).op(opIdent).text(identifier);
  if (kind == DesignatedKind::anchorOnly) {
    e.op(opAppleGenericAnchor);
  } else if (kind == DesignatedKind::appStore) {
    e.op(opAnd).op(opAppleGenericAnchor);
    certificateHas(e, kLeaf, "1.2.840.113635.100.6.1.9");
  } else {
    if (!team) throw SignerError("a Developer ID designated requirement needs --team");
    e.op(opAnd).op(opAppleGenericAnchor).op(opAnd);
    certificateHas(e, 1, "1.2.840.113635.100.6.2.6");
    e.op(opAnd);
    certificateHas(e, kLeaf, "1.2.840.113635.100.6.1.13");
    e.op(opCertField).slot(kLeaf).text("subject.OU").match(matchEqual).text(*team);
  }
  return e.take();
}

}  // namespace

Bytes emptyRequirementSet() {
  BlobWriter out;
  out.be32(kRequirementSetMagic);
  out.be32(12);
  out.be32(0);
  return out.take();
}

Bytes designatedRequirementSet(const std::string& identifier, DesignatedKind kind,
                               const std::optional<std::string>& team) {
  const Bytes expression = designatedExpression(identifier, kind, team);
  const std::uint32_t requirementLength = checkedU32(12 + expression.size(), "requirement");
  BlobWriter out;
  out.be32(kRequirementSetMagic);
  out.be32(20 + requirementLength);
  out.be32(1);
  out.be32(kDesignatedType);
  out.be32(20);
  out.be32(kRequirementMagic);
  out.be32(requirementLength);
  out.be32(kExpressionForm);
  out.append(expression);
  return out.take();
}

}  // namespace signer
