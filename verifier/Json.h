#pragma once

// JSON text for what signature-check prints with --json.

#include <string>

namespace verifier {

// A JSON string: valid UTF-8 (bytes that are not become U+FFFD), with quote,
// backslash and control characters escaped.
std::string jsonString(const std::string& bytes);

}  // namespace verifier
