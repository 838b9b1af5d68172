# The arm64 slice of the macOS tool.
set(HELPER_MACOS_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/Toolchain.cmake)
