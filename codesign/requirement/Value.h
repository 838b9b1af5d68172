#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace codesign::requirement {

// A candidate that a match operation is applied to: a value read from a
// sealed property list or from a certificate, or Null when there is none.
struct Value {
  enum class Type { Null, Boolean, String, Number, Data, Date, Array, Dictionary };

  Type type = Type::Null;
  bool boolean = false;       // Boolean
  std::string text;           // String; the literal text of Number and Data
  std::int64_t date = 0;      // Date: seconds since 1970-01-01 00:00:00 UTC
  std::vector<Value> items;   // Array elements; Dictionary values
  std::vector<std::string> keys;  // Dictionary keys, in the order of items

  static Value null() { return Value{}; }
  static Value ofBoolean(bool value) {
    Value v;
    v.type = Type::Boolean;
    v.boolean = value;
    return v;
  }
  static Value ofString(std::string value) {
    Value v;
    v.type = Type::String;
    v.text = std::move(value);
    return v;
  }

  // The value of a dictionary's key, or nullptr.
  const Value* find(const std::string& key) const {
    for (std::size_t i = 0; i < keys.size() && i < items.size(); ++i) {
      if (keys[i] == key) return &items[i];
    }
    return nullptr;
  }
};

}  // namespace codesign::requirement
