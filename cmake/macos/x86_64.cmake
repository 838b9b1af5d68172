# The x86_64 slice of the macOS tool.
set(HELPER_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/Toolchain.cmake)
