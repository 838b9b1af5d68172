#include "codesign/requirement/PropertyListReader.h"

#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "codesign/Status.h"
#include "codesign/requirement/Date.h"

namespace codesign::requirement {
namespace {

constexpr OSStatus kMalformed = errSecCSBadDictionaryFormat;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isNameChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

struct Tag {
  std::string name;
  bool closing = false;  // </name>
  bool empty = false;    // <name/>
};

void appendUTF8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// A character reference's code point (the text between "&#" and ";"), or 0.
std::uint32_t characterReference(std::string_view digits) {
  const bool hex = !digits.empty() && digits[0] == 'x';
  if (hex) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 8) return 0;
  std::uint32_t code = 0;
  for (const char c : digits) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
    else return 0;
    code = code * (hex ? 16 : 10) + digit;
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code > 0x10FFFF || surrogate ? 0 : code;
}

// An XML property list reader over the bytes of one document. Every read
// goes through peek() or startsWith(), which check the position.
class Reader {
 public:
  explicit Reader(std::string_view text) : _text(text) {}

  OSStatus document(Value* value) {
    if (startsWith("\xEF\xBB\xBF")) _pos += 3;
    if (const OSStatus status = skipMisc(); status != errSecSuccess) return status;
    const bool wrapped = startsWith("<plist") && !isNameChar(peek(6));
    if (wrapped) {
      if (const OSStatus status = plistOpenTag(); status != errSecSuccess) return status;
    }
    if (const OSStatus status = element(value, 0); status != errSecSuccess) return status;
    if (wrapped) {
      if (const OSStatus status = closingTag("plist"); status != errSecSuccess) return status;
    }
    if (const OSStatus status = skipMisc(); status != errSecSuccess) return status;
    return atEnd() ? errSecSuccess : kMalformed;
  }

 private:
  bool atEnd() const { return _pos >= _text.size(); }
  char peek(std::size_t ahead = 0) const {
    return ahead < _text.size() - _pos ? _text[_pos + ahead] : '\0';
  }
  bool startsWith(std::string_view prefix) const {
    return _text.substr(_pos, prefix.size()) == prefix;
  }
  void skipSpace() {
    while (!atEnd() && isSpace(peek())) ++_pos;
  }

  // Moves past the next occurrence of the terminator; malformed if none.
  OSStatus skipPast(std::string_view terminator) {
    const std::size_t found = _text.find(terminator, _pos);
    if (found == std::string_view::npos) return kMalformed;
    _pos = found + terminator.size();
    return errSecSuccess;
  }

  // White space, the XML declaration, processing instructions, comments and
  // a document type without an internal subset.
  OSStatus skipMisc() {
    for (;;) {
      skipSpace();
      OSStatus status = errSecSuccess;
      if (startsWith("<?")) status = skipPast("?>");
      else if (startsWith("<!--")) status = skipPast("-->");
      else if (startsWith("<!DOCTYPE")) status = doctype();
      else return errSecSuccess;
      if (status != errSecSuccess) return status;
    }
  }

  OSStatus doctype() {
    const std::size_t end = _text.find('>', _pos);
    if (end == std::string_view::npos) return kMalformed;
    if (_text.substr(_pos, end - _pos).find('[') != std::string_view::npos) return kMalformed;
    _pos = end + 1;
    return errSecSuccess;
  }

  // <plist …>: its attributes (the version) are not needed.
  OSStatus plistOpenTag() {
    const std::size_t end = _text.find('>', _pos);
    if (end == std::string_view::npos || _text[end - 1] == '/') return kMalformed;
    _pos = end + 1;
    return errSecSuccess;
  }

  // <name>, </name> or <name/>, with optional white space before the end;
  // attributes are not allowed on value elements.
  OSStatus tag(Tag* out) {
    if (const OSStatus status = skipMisc(); status != errSecSuccess) return status;
    if (peek() != '<') return kMalformed;
    ++_pos;
    out->closing = peek() == '/';
    if (out->closing) ++_pos;
    const std::size_t start = _pos;
    while (!atEnd() && isNameChar(peek())) ++_pos;
    out->name = _text.substr(start, _pos - start);
    skipSpace();
    out->empty = !out->closing && peek() == '/';
    if (out->empty) ++_pos;
    if (out->name.empty() || peek() != '>') return kMalformed;
    ++_pos;
    return errSecSuccess;
  }

  OSStatus closingTag(std::string_view name) {
    Tag end;
    if (const OSStatus status = tag(&end); status != errSecSuccess) return status;
    return end.closing && end.name == name ? errSecSuccess : kMalformed;
  }

  OSStatus element(Value* value, unsigned depth) {
    if (depth > kMaxPropertyListDepth) return kMalformed;
    Tag open;
    if (const OSStatus status = tag(&open); status != errSecSuccess) return status;
    if (open.closing) return kMalformed;
    if (open.name == "dict") return dictionary(open, value, depth);
    if (open.name == "array") return array(open, value, depth);
    if (open.name == "true" || open.name == "false") return boolean(open, value);
    return scalar(open, value);
  }

  OSStatus dictionary(const Tag& open, Value* value, unsigned depth) {
    value->type = Value::Type::Dictionary;
    std::set<std::string> seen;
    while (!open.empty) {
      std::string key;
      Tag next;
      if (const OSStatus status = tag(&next); status != errSecSuccess) return status;
      if (next.closing) return next.name == "dict" ? errSecSuccess : kMalformed;
      if (next.name != "key") return kMalformed;
      if (const OSStatus status = textContent(next, &key); status != errSecSuccess) return status;
      if (!seen.insert(key).second) return kMalformed;  // one value per key
      Value item;
      if (const OSStatus status = element(&item, depth + 1); status != errSecSuccess) return status;
      value->keys.push_back(std::move(key));
      value->items.push_back(std::move(item));
    }
    return errSecSuccess;
  }

  OSStatus array(const Tag& open, Value* value, unsigned depth) {
    value->type = Value::Type::Array;
    while (!open.empty) {
      if (const OSStatus status = skipMisc(); status != errSecSuccess) return status;
      if (startsWith("</")) return closingTag("array");
      Value item;
      if (const OSStatus status = element(&item, depth + 1); status != errSecSuccess) return status;
      value->items.push_back(std::move(item));
    }
    return errSecSuccess;
  }

  OSStatus boolean(const Tag& open, Value* value) {
    *value = Value::ofBoolean(open.name == "true");
    return open.empty ? errSecSuccess : closingTag(open.name);
  }

  // string, integer, real, data and date: text content, then the closing tag.
  OSStatus scalar(const Tag& open, Value* value) {
    std::string text;
    if (const OSStatus status = textContent(open, &text); status != errSecSuccess) return status;
    if (open.name == "string") {
      *value = Value::ofString(std::move(text));
    } else if (open.name == "date") {
      const std::optional<std::int64_t> date = parsePropertyListDate(text);
      if (!date) return kMalformed;
      value->type = Value::Type::Date;
      value->date = *date;
    } else if (open.name == "integer" || open.name == "real" || open.name == "data") {
      value->type = open.name == "data" ? Value::Type::Data : Value::Type::Number;
      value->text = std::move(text);
    } else {
      return kMalformed;
    }
    return errSecSuccess;
  }

  // The decoded text of an element up to its closing tag (none for <name/>).
  OSStatus textContent(const Tag& open, std::string* text) {
    if (open.empty) return errSecSuccess;
    while (!atEnd() && !startsWith("</")) {
      OSStatus status = errSecSuccess;
      if (startsWith("<![CDATA[")) status = cdata(text);
      else if (peek() == '<' || peek() == '\0') status = kMalformed;
      else if (peek() == '&') status = entity(text);
      else text->push_back(_text[_pos++]);
      if (status != errSecSuccess) return status;
    }
    return closingTag(open.name);
  }

  OSStatus cdata(std::string* text) {
    _pos += 9;
    const std::size_t end = _text.find("]]>", _pos);
    if (end == std::string_view::npos) return kMalformed;
    const std::string_view content = _text.substr(_pos, end - _pos);
    if (content.find('\0') != std::string_view::npos) return kMalformed;
    text->append(content);
    _pos = end + 3;
    return errSecSuccess;
  }

  OSStatus entity(std::string* text) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (const auto& [name, character] : kNamed) {
      if (startsWith(name)) {
        text->push_back(character);
        _pos += name.size();
        return errSecSuccess;
      }
    }
    const std::size_t end = _text.find(';', _pos);
    if (!startsWith("&#") || end == std::string_view::npos) return kMalformed;
    const std::uint32_t code = characterReference(_text.substr(_pos + 2, end - _pos - 2));
    if (code == 0) return kMalformed;
    appendUTF8(code, text);
    _pos = end + 1;
    return errSecSuccess;
  }

  std::string_view _text;
  std::size_t _pos = 0;
};

}  // namespace

OSStatus readPropertyListDictionary(const Bytes& data, Value* dictionary) {
  *dictionary = Value::null();
  if (data.size() > kMaxPropertyListSize) return kMalformed;
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (text.substr(0, 6) == "bplist") return errSecCSUnimplemented;
  Value value;
  if (const OSStatus status = Reader(text).document(&value); status != errSecSuccess) return status;
  if (value.type != Value::Type::Dictionary) return kMalformed;
  *dictionary = std::move(value);
  return errSecSuccess;
}

}  // namespace codesign::requirement
