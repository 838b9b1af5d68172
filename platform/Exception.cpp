#include "platform/Exception.h"

#include <utility>

namespace platform {

Exception::Exception(std::string name, std::string reason)
    : _name(std::move(name)), _reason(std::move(reason)) {}

void raise(std::string name, std::string reason) {
  throw Exception(std::move(name), std::move(reason));
}

}  // namespace platform
