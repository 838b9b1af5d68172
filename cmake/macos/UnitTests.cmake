# The unit tests that are not Linux-only, built for macOS in each slice as
# programs to copy to a Mac and run there (they cannot run here). GoogleTest
# is built from its sources: the Debian package's in the cross build, or
# wherever HELPER_GTEST_SOURCE points on a Mac.
set(HELPER_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${HELPER_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(unit ${PROJECT_SOURCE_DIR}/tests/unit)
# What differs between the systems, said once (tests/unit/common/SystemExpectations.h).
add_library(helper_test_expectations STATIC ${unit}/common/darwin/SystemExpectations.cpp)
target_include_directories(helper_test_expectations PUBLIC ${unit})

# Left out, as Linux-only: ShellTests.cpp and RootRunTests.cpp read the
# child's signals and state from /proc.
add_executable(platform_tests
  ${unit}/platform/FileManagerTests.cpp
  ${unit}/platform/FileTreeTests.cpp
  ${unit}/platform/FormatTests.cpp
  ${unit}/platform/HardeningTests.cpp
  ${unit}/platform/PathTests.cpp
  ${unit}/platform/PropertyListTests.cpp
  ${unit}/platform/SystemPrimitiveTests.cpp)
target_compile_definitions(platform_tests PRIVATE HELPER_PYTHON3="/usr/bin/python3")
target_link_libraries(platform_tests PRIVATE helper_platform helper_test_expectations gtest gmock gtest_main)

add_executable(installer_tests
  ${unit}/installer/path_safety_test.cpp
  ${unit}/installer/permissions_test.cpp
  ${unit}/installer/primitives_test.cpp)
target_link_libraries(installer_tests PRIVATE helper_installer helper_test_expectations gtest gmock gtest_main)
