# The tests' code signer and certificate authority, the trusted-anchor object
# library of test builds, and the signed fixtures built with them.

include(${CMAKE_CURRENT_LIST_DIR}/signer-tool.cmake)

# Test builds trust the tests' root in addition to Apple's.
add_library(helper_anchor_test OBJECT signer/TestAnchor.cpp)
target_include_directories(helper_anchor_test PUBLIC ${PROJECT_SOURCE_DIR} PRIVATE ${HELPER_TEST_CA_DIR})
add_dependencies(helper_anchor_test helper_test_ca)

include(${PROJECT_SOURCE_DIR}/tests/fixtures/fixtures.cmake)

helper_unit_test(helper_signer_test
  SOURCES
    signer/tests/SignedImage.cpp
    signer/tests/FixtureClaimsTest.cpp
    signer/Bytes.cpp
    signer/OpenSSLSupport.cpp
  LIBRARIES OpenSSL::Crypto)
target_compile_definitions(helper_signer_test PRIVATE
  HELPER_FIXTURE_DIR="${HELPER_FIXTURE_DIR}"
  HELPER_TEST_CA_DIR="${HELPER_TEST_CA_DIR}")
add_dependencies(helper_signer_test helper_signed_fixtures)
