# The macOS tool as one universal file: each slice is a build of this
# project of its own (cmake/macos/<arch>.cmake), and lipo merges them into
# ${CMAKE_BINARY_DIR}/helper. Each slice also builds the unit tests that run
# on a Mac (cmake/macos/UnitTests.cmake): <arch>/platform_tests and
# <arch>/installer_tests.
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
               -DHELPER_MACOS_UNIT_TESTS=ON
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target helper platform_tests installer_tests
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

# The sample bundle with the real tool: the universal file signed, as a
# product's Developer ID would sign it, by the tests' signer with the tests'
# certificate authority, beside the tests' signed server, and checked by
# signature-check against the tests' root. The signer, the authority, the
# server and signature-check come from a build of this project for this
# machine (${CMAKE_BINARY_DIR}/host), as does the test build of the tool that
# trusts that authority, with which an end-to-end test bootstraps the bundle
# (tests/e2e/test_lifecycle.py). On a Mac a product signs with its own
# identity instead (README.md).
if(NOT CMAKE_HOST_APPLE)
  set(host ${CMAKE_BINARY_DIR}/host)
  ExternalProject_Add(helper-host
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${host}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target helper-test-signer signature-check
                                                                 helper_signed_fixtures helper-test-anchor
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)

  set(ca ${host}/tests/ca)
  # The requirement the tool enforces on its own helper (suite/CodeSignatureCheck.cpp).
  set(requirement "anchor apple generic and identifier \"com.quennard.brenlow-helper\" and \
(certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate 1[field.1.2.840.113635.100.6.2.6] and \
certificate leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] = \"Q7MK2RX5VN\")")
  set(sample ${host}/tests/fixtures/bundles/Brenlow.app/Contents)
  set(bundle ${CMAKE_BINARY_DIR}/Brenlow.app/Contents)
  add_custom_target(helper-sample-bundle ALL
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/Brenlow.app
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle}/MacOS
    COMMAND ${CMAKE_COMMAND} -E copy ${sample}/Info.plist ${bundle}/Info.plist
    COMMAND ${CMAKE_COMMAND} -E copy ${sample}/MacOS/brenlowd ${bundle}/MacOS/brenlowd
    COMMAND ${host}/tests/support/helper-test-signer sign ${CMAKE_BINARY_DIR}/helper ${bundle}/MacOS/helper
            --identifier com.quennard.brenlow-helper --team Q7MK2RX5VN
            --cert ${ca}/devid-app.pem --key ${ca}/devid-app.key --chain ${ca}/devid-ca.pem --chain ${ca}/root.pem
            --timestamp-with ${ca}/tsa.pem --timestamp-key ${ca}/tsa.key
            --timestamp-chain ${ca}/timestamp-ca.pem --timestamp-chain ${ca}/root.pem
    COMMAND ${host}/verifier/signature-check --anchor ${ca}/root.pem
            --requirement ${requirement}
            ${bundle}/MacOS/helper
    COMMENT "Signing the universal tool into ${CMAKE_BINARY_DIR}/Brenlow.app and checking its signature"
    VERBATIM)
  add_dependencies(helper-sample-bundle helper-universal helper-host)
endif()
