# One slice of the macOS tool. Included by the per-architecture toolchain
# files, which set HELPER_MACOS_ARCH (arm64 or x86_64) first.
#
# On a Mac, Xcode's compilers build against the real SDK. Elsewhere zig's
# clang cross-compiles with its own libc++ and macOS's libc headers and
# stubs, and the frameworks come from the declaration headers and text stubs
# in cmake/macos/sdk.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${HELPER_MACOS_ARCH})
set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0 CACHE STRING "The oldest macOS the tool runs on")

if(CMAKE_HOST_APPLE)
  set(CMAKE_OSX_ARCHITECTURES ${HELPER_MACOS_ARCH} CACHE STRING "The slice's architecture")
  return()
endif()

if(HELPER_MACOS_ARCH STREQUAL "arm64")
  set(_helper_zig_target aarch64-macos)
else()
  set(_helper_zig_target ${HELPER_MACOS_ARCH}-macos)
endif()
set(_helper_zig ${CMAKE_CURRENT_LIST_DIR}/zig)
set(CMAKE_C_COMPILER ${_helper_zig}/${_helper_zig_target}-cc)
set(CMAKE_CXX_COMPILER ${_helper_zig}/${_helper_zig_target}-c++)
set(CMAKE_AR ${_helper_zig}/zig-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${_helper_zig}/zig-ranlib CACHE FILEPATH "Archive indexer")
# No Apple SDK here: keep CMake from asking xcrun for one.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "No SDK in the cross build")
set(HELPER_MACOS_CROSS_SDK ${CMAKE_CURRENT_LIST_DIR}/sdk)
# Nothing of this machine's own libraries belongs in a macOS build: look
# for headers, libraries and packages in the stand-in SDK only.
set(CMAKE_FIND_ROOT_PATH ${HELPER_MACOS_CROSS_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
