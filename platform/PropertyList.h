#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// A property-list value: boolean, integer, string, array or dictionary.
// Dictionaries keep one value per key; the writer orders keys by name.
class PlistValue {
 public:
  enum class Kind { Boolean, Integer, String, Array, Dictionary };

  static PlistValue boolean(bool value);
  static PlistValue integer(std::int64_t value);
  static PlistValue string(std::string value);
  static PlistValue array(std::vector<PlistValue> items = {});
  static PlistValue dictionary();

  Kind kind() const noexcept { return _kind; }
  bool booleanValue() const noexcept { return _boolean; }
  std::int64_t integerValue() const noexcept { return _integer; }
  const std::string& stringValue() const noexcept { return _string; }
  const std::vector<PlistValue>& items() const noexcept { return _items; }
  // The keys of a dictionary, in the order of items().
  const std::vector<std::string>& keys() const noexcept { return _keys; }

  // Dictionary access: set replaces an existing value of the same key.
  void set(const std::string& key, PlistValue value);
  const PlistValue* find(const std::string& key) const;

 private:
  explicit PlistValue(Kind kind) : _kind(kind) {}

  Kind _kind;
  bool _boolean = false;
  std::int64_t _integer = 0;
  std::string _string;
  std::vector<PlistValue> _items;
  std::vector<std::string> _keys;
};

// Serialises a value as an XML property list, version 1.0, in UTF-8: the
// standard header and document type, tab indentation, and "&", "<", ">" and
// carriage returns escaped in texts and keys. Invalid UTF-8 and characters
// XML 1.0 cannot hold (C0 controls other than tab, newline and carriage
// return, U+FFFE, U+FFFF) are written as U+FFFD.
std::string xmlPropertyListData(const PlistValue& value);

}  // namespace platform
