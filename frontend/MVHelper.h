#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PropertyList.h"

// The command dispatcher: makes the process fully root, runs the one
// installer command that the command word names, and records success. It
// catches nothing; every failure leaves it as a platform::Exception.
class MVHelper {
 public:
  MVHelper();

  void command(const std::string& command, const std::vector<std::string>& args);

  // The response dictionary, read and replaced as a whole.
  // (A lock rather than std::atomic<std::shared_ptr>, which not every
  // standard library has.)
  std::shared_ptr<platform::PlistValue> response() const {
    std::lock_guard lock(_responseMutex);
    return _response;
  }
  void setResponse(std::shared_ptr<platform::PlistValue> response) {
    std::lock_guard lock(_responseMutex);
    _response = std::move(response);
  }

 private:
  mutable std::mutex _responseMutex;
  std::shared_ptr<platform::PlistValue> _response;
};

extern const char* const kGeneralException;
