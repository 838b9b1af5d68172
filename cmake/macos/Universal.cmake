# The macOS tool as one universal file: each slice is a build of this
# project of its own (cmake/macos/<arch>.cmake), and lipo merges them into
# ${CMAKE_BINARY_DIR}/helper.
include(ExternalProject)

set(HELPER_MACOS_ARCHS arm64 x86_64)
set(slices "")
foreach(arch IN LISTS HELPER_MACOS_ARCHS)
  ExternalProject_Add(helper-${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/macos/${arch}.cmake
               -DCMAKE_BUILD_TYPE=Release
               -DHELPER_BUILD_TESTS=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target helper
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
  list(APPEND slices ${CMAKE_BINARY_DIR}/${arch}/frontend/helper)
endforeach()

# Xcode's lipo on a Mac, LLVM's elsewhere.
find_program(HELPER_LIPO NAMES lipo llvm-lipo-14 llvm-lipo REQUIRED)
add_custom_target(helper-universal ALL
  COMMAND ${HELPER_LIPO} -create -output ${CMAKE_BINARY_DIR}/helper ${slices}
  COMMENT "Merging the slices into ${CMAKE_BINARY_DIR}/helper"
  VERBATIM)
foreach(arch IN LISTS HELPER_MACOS_ARCHS)
  add_dependencies(helper-universal helper-${arch})
endforeach()
