#pragma once

#include "platform/PropertyList.h"

// Writes the response to standard output, as a line of text or, in XML mode,
// as a whole XML property list, and ends the process: status 0 when
// "success" is true, 1 otherwise.
[[noreturn]] void printResponseAndExit(const platform::PlistValue& response, bool xmlOutput);
