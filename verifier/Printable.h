#pragma once

// Text taken from the file, made safe for one line of a terminal.

#include <string>

namespace verifier {

// Valid UTF-8 (bytes that are not become U+FFFD), with control characters
// other than tab written as \xNN: no text in a file can start a line of its
// own, pass for one of ours, or drive the terminal.
std::string printable(const std::string& text);

}  // namespace verifier
