#include "platform/PropertyList.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "platform/Text.h"

namespace platform {

namespace {

// XML 1.0 has no way to write these, not even as references.
bool isForbiddenInXML(char32_t codePoint) {
  const bool control = codePoint < 0x20 && codePoint != '\t' && codePoint != '\n' && codePoint != '\r';
  return control || codePoint == 0xFFFE || codePoint == 0xFFFF;
}

// Markup characters become references and characters XML cannot hold become
// U+FFFD, so that any text makes a well-formed document. A carriage return
// is written as a reference, since a reader turns a raw one into a newline.
std::string escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t codePoint : codePoints(text)) {
    switch (codePoint) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      default: appendUTF8(out, isForbiddenInXML(codePoint) ? kReplacementCharacter : codePoint);
    }
  }
  return out;
}

void writeLine(std::string& out, std::size_t depth, const std::string& text) {
  out.append(depth, '\t');
  out += text;
  out += '\n';
}

void writeValue(std::string& out, const PlistValue& value, std::size_t depth);

void writeArray(std::string& out, const PlistValue& value, std::size_t depth) {
  if (value.items().empty()) return writeLine(out, depth, "<array/>");
  writeLine(out, depth, "<array>");
  for (const PlistValue& item : value.items()) writeValue(out, item, depth + 1);
  writeLine(out, depth, "</array>");
}

// Keys go out in byte order of their names, whatever order they were set in.
void writeDictionary(std::string& out, const PlistValue& value, std::size_t depth) {
  const std::vector<std::string>& keys = value.keys();
  if (keys.empty()) return writeLine(out, depth, "<dict/>");
  std::vector<std::size_t> order(keys.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  writeLine(out, depth, "<dict>");
  for (std::size_t index : order) {
    writeLine(out, depth + 1, "<key>" + escaped(keys[index]) + "</key>");
    writeValue(out, value.items()[index], depth + 1);
  }
  writeLine(out, depth, "</dict>");
}

void writeValue(std::string& out, const PlistValue& value, std::size_t depth) {
  switch (value.kind()) {
    case PlistValue::Kind::Boolean:
      return writeLine(out, depth, value.booleanValue() ? "<true/>" : "<false/>");
    case PlistValue::Kind::Integer:
      return writeLine(out, depth, "<integer>" + std::to_string(value.integerValue()) + "</integer>");
    case PlistValue::Kind::String:
      return writeLine(out, depth, "<string>" + escaped(value.stringValue()) + "</string>");
    case PlistValue::Kind::Array:
      return writeArray(out, value, depth);
    case PlistValue::Kind::Dictionary:
      return writeDictionary(out, value, depth);
  }
}

}  // namespace

PlistValue PlistValue::boolean(bool value) {
  PlistValue result(Kind::Boolean);
  result._boolean = value;
  return result;
}

PlistValue PlistValue::integer(std::int64_t value) {
  PlistValue result(Kind::Integer);
  result._integer = value;
  return result;
}

PlistValue PlistValue::string(std::string value) {
  PlistValue result(Kind::String);
  result._string = std::move(value);
  return result;
}

PlistValue PlistValue::array(std::vector<PlistValue> items) {
  PlistValue result(Kind::Array);
  result._items = std::move(items);
  return result;
}

PlistValue PlistValue::dictionary() { return PlistValue(Kind::Dictionary); }

// Only a dictionary has keys; setting one on any other kind changes nothing.
void PlistValue::set(const std::string& key, PlistValue value) {
  if (_kind != Kind::Dictionary) return;
  auto found = std::find(_keys.begin(), _keys.end(), key);
  if (found != _keys.end()) {
    _items[static_cast<std::size_t>(found - _keys.begin())] = std::move(value);
    return;
  }
  _keys.push_back(key);
  _items.push_back(std::move(value));
}

const PlistValue* PlistValue::find(const std::string& key) const {
  if (_kind != Kind::Dictionary) return nullptr;
  auto found = std::find(_keys.begin(), _keys.end(), key);
  if (found == _keys.end()) return nullptr;
  return &_items[static_cast<std::size_t>(found - _keys.begin())];
}

std::string xmlPropertyListData(const PlistValue& value) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";
  writeValue(out, value, 0);
  out += "</plist>\n";
  return out;
}

}  // namespace platform
