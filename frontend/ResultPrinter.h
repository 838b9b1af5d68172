#pragma once

#include "platform/PropertyList.h"

// Writes the response to standard output, as a line of text or, in XML mode,
// as a whole XML property list, and ends the process: status 0 when
// "success" is true, 1 otherwise. A run prints one result: when the
// watchdog has begun to print its own, this waits for it to end the process.
[[noreturn]] void printResponseAndExit(const platform::PlistValue& response, bool xmlOutput);

// The same from the watchdog's thread, while the command may still run: the
// process ends at once, without the program's exit handlers. Returns when
// the run has already begun to print its result.
void printResponseFromWatchdog(const platform::PlistValue& response, bool xmlOutput);
