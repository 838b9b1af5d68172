#include "platform/TemporaryName.h"

#include <array>

#include "platform/RandomBytes.h"

namespace platform {

std::optional<std::string> temporaryName(const std::string& name) {
  std::array<unsigned char, 6> random{};
  if (!fillRandom(random)) return std::nullopt;
  std::string out(1, '.');
  out.append(name, 0, 200).push_back('.');
  for (unsigned char byte : random) {
    out += "0123456789abcdef"[byte >> 4];
    out += "0123456789abcdef"[byte & 15];
  }
  return out;
}

}  // namespace platform
