#pragma once

// The command line of signature-check.

#include <optional>
#include <string>
#include <vector>

namespace verifier {

inline constexpr const char* kUsage =
    "usage: signature-check [--json] [--display | --entitlements] [--requirement TEXT] [--anchor CERTFILE]... FILE";

struct Arguments {
  bool help = false;
  bool json = false;
  bool display = false;
  bool entitlements = false;  // implies display
  std::optional<std::string> requirement;
  std::vector<std::string> anchorFiles;
  std::string file;
};

// The arguments after the program's name, or nothing and what is wrong.
std::optional<Arguments> parseArguments(const std::vector<std::string>& args, std::string* problem);

}  // namespace verifier
