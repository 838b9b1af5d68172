#pragma once

#include <atomic>
#include <memory>
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
  std::shared_ptr<platform::PlistValue> response() const { return _response.load(); }
  void setResponse(std::shared_ptr<platform::PlistValue> response) {
    _response.store(std::move(response));
  }

 private:
  std::atomic<std::shared_ptr<platform::PlistValue>> _response;
};

extern const char* const kGeneralException;
