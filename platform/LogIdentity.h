#pragma once

// What a log line says about its writer: the program's short name and the
// thread's number in the system's own numbering. Per system:
// platform/linux/LogIdentity.cpp, platform/darwin/LogIdentity.cpp.

#include <cstdint>

namespace platform {

// The name the program was started under, without its folder.
const char* programShortName();

// The calling thread's system-wide number, as the system's tools show it.
std::uint64_t threadNumber();

}  // namespace platform
