#include "codesign/requirement/DerEntitlements.h"

#include <set>
#include <string>

#include "codesign/ByteReader.h"
#include "codesign/Status.h"
#include "codesign/requirement/PropertyListReader.h"

namespace codesign::requirement {
namespace {

constexpr OSStatus kMalformed = errSecCSBadDictionaryFormat;
constexpr std::uint8_t kBoolean = 0x01, kInteger = 0x02, kUtf8 = 0x0c, kSequence = 0x30;
constexpr std::uint8_t kEntitlements = 0x70, kDictionary = 0xb0;  // [APPLICATION 16], [CONTEXT 16]

// One DER element: its tag and its contents.
struct Element {
  std::uint8_t tag = 0;
  ByteReader contents;
};

// Reads the element at *offset and moves past it. Only single-byte tags and
// definite lengths of up to four bytes occur here.
bool element(const ByteReader& bytes, std::uint64_t* offset, Element* out) {
  std::uint8_t first = 0;
  if (!bytes.u8(*offset, &out->tag) || !bytes.u8(*offset + 1, &first)) return false;
  std::uint64_t at = *offset + 2, length = first;
  if (first & 0x80) {
    const unsigned count = first & 0x7f;
    if (count == 0 || count > 4) return false;
    length = 0;
    for (unsigned i = 0; i < count; ++i) {
      std::uint8_t byte = 0;
      if (!bytes.u8(at++, &byte)) return false;
      length = length << 8 | byte;
    }
  }
  if (!bytes.sub(at, length, &out->contents)) return false;
  *offset = at + length;
  return true;
}

// The elements a constructed value holds, all of it.
bool children(const ByteReader& contents, std::vector<Element>* out) {
  for (std::uint64_t offset = 0; offset < contents.size();) {
    Element child;
    if (!element(contents, &offset, &child)) return false;
    out->push_back(child);
  }
  return true;
}

// A two's-complement INTEGER of up to eight bytes, as decimal text.
bool integerText(const ByteReader& contents, std::string* out) {
  const std::uint64_t size = contents.size();
  if (size == 0 || size > 8) return false;
  std::uint8_t byte = 0;
  contents.u8(0, &byte);
  std::uint64_t bits = byte & 0x80 ? ~std::uint64_t{0} : 0;
  for (std::uint64_t i = 0; i < size; ++i) {
    contents.u8(i, &byte);
    bits = bits << 8 | byte;
  }
  *out = std::to_string(static_cast<std::int64_t>(bits));
  return true;
}

std::string text(const ByteReader& contents) {
  const auto bytes = contents.bytes();
  return std::string(bytes.begin(), bytes.end());
}

OSStatus value(const Element& in, unsigned depth, Value* out);

OSStatus dictionary(const ByteReader& contents, unsigned depth, Value* out) {
  std::vector<Element> entries;
  if (!children(contents, &entries)) return kMalformed;
  out->type = Value::Type::Dictionary;
  std::set<std::string> seen;
  for (const Element& entry : entries) {
    std::vector<Element> pair;
    if (entry.tag != kSequence || !children(entry.contents, &pair) || pair.size() != 2 || pair[0].tag != kUtf8)
      return kMalformed;
    std::string key = text(pair[0].contents);
    if (!seen.insert(key).second) return kMalformed;  // one value per key
    Value item;
    if (const OSStatus status = value(pair[1], depth + 1, &item)) return status;
    out->keys.push_back(std::move(key));
    out->items.push_back(std::move(item));
  }
  return errSecSuccess;
}

OSStatus array(const ByteReader& contents, unsigned depth, Value* out) {
  std::vector<Element> items;
  if (!children(contents, &items)) return kMalformed;
  out->type = Value::Type::Array;
  for (const Element& item : items) {
    Value converted;
    if (const OSStatus status = value(item, depth + 1, &converted)) return status;
    out->items.push_back(std::move(converted));
  }
  return errSecSuccess;
}

OSStatus value(const Element& in, unsigned depth, Value* out) {
  if (depth > kMaxPropertyListDepth) return kMalformed;
  std::uint8_t flag = 0;
  switch (in.tag) {
    case kBoolean:
      if (in.contents.size() != 1 || !in.contents.u8(0, &flag)) return kMalformed;
      *out = Value::ofBoolean(flag != 0);
      return errSecSuccess;
    case kInteger:
      out->type = Value::Type::Number;
      return integerText(in.contents, &out->text) ? errSecSuccess : kMalformed;
    case kUtf8: *out = Value::ofString(text(in.contents)); return errSecSuccess;
    case kSequence: return array(in.contents, depth, out);
    case kDictionary: return dictionary(in.contents, depth, out);
    default: return kMalformed;
  }
}

}  // namespace

OSStatus readDerEntitlements(const Bytes& der, Value* out) {
  *out = Value::null();
  if (der.size() > kMaxPropertyListSize) return kMalformed;
  const ByteReader bytes(der);
  std::uint64_t offset = 0;
  Element outer;
  std::vector<Element> parts;
  std::string version;
  if (!element(bytes, &offset, &outer) || offset != bytes.size() || outer.tag != kEntitlements ||
      !children(outer.contents, &parts) || parts.size() != 2 || parts[0].tag != kInteger ||
      !integerText(parts[0].contents, &version) || version != "1" || parts[1].tag != kDictionary)
    return kMalformed;
  Value dictionaryValue;
  if (const OSStatus status = dictionary(parts[1].contents, 0, &dictionaryValue)) return status;
  *out = std::move(dictionaryValue);
  return errSecSuccess;
}

}  // namespace codesign::requirement
