#pragma once

// macOS only: the owner of one CoreFoundation or Security framework object,
// released when the owner goes. Create calls write into out().

#include <CoreFoundation/CoreFoundation.h>

namespace codesign {

template <typename Ref>
class CFRef {
 public:
  CFRef() = default;
  explicit CFRef(Ref ref) : _ref(ref) {}
  CFRef(const CFRef&) = delete;
  CFRef& operator=(const CFRef&) = delete;
  CFRef(CFRef&& other) noexcept : _ref(other._ref) { other._ref = nullptr; }
  CFRef& operator=(CFRef&& other) noexcept {
    if (this != &other) {
      reset();
      _ref = other._ref;
      other._ref = nullptr;
    }
    return *this;
  }
  ~CFRef() { reset(); }

  Ref get() const { return _ref; }
  explicit operator bool() const { return _ref != nullptr; }
  // For a create call's result argument: whatever was held is released first.
  Ref* out() {
    reset();
    return &_ref;
  }
  void reset() {
    if (_ref != nullptr) CFRelease(_ref);
    _ref = nullptr;
  }

 private:
  Ref _ref = nullptr;
};

}  // namespace codesign
