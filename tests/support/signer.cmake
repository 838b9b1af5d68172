# The tests' code signer and certificate authority, the trusted-anchor object
# library of test builds, and the signed fixtures built with them.

add_executable(helper-test-signer
  signer/main.cpp
  signer/Bytes.cpp
  signer/CertificateAuthority.cpp
  signer/CertificateBuilder.cpp
  signer/CmsSignature.cpp
  signer/CodeDirectory.cpp
  signer/CommandLine.cpp
  signer/Digest.cpp
  signer/MachO.cpp
  signer/OpenSSLSupport.cpp
  signer/Requirements.cpp
  signer/Signer.cpp
  signer/Timestamp.cpp
  signer/Universal.cpp
)
target_link_libraries(helper-test-signer PRIVATE OpenSSL::Crypto)

# The certificate authority is made afresh whenever the signer changes; every
# fixture is then signed again with it.
set(HELPER_TEST_CA_DIR ${CMAKE_BINARY_DIR}/tests/ca CACHE INTERNAL "The tests' certificate authority")
set(_helper_ca_names
  root devid-ca store-ca timestamp-ca devid-app devid-app-otherteam devid-app-expired
  devid-app-no-eku appstore-app tsa foreign-root foreign-devid-ca foreign-devid-app)
set(_helper_ca_outputs ${HELPER_TEST_CA_DIR}/root.sha256 ${HELPER_TEST_CA_DIR}/TestRootFingerprint.h)
foreach(_name IN LISTS _helper_ca_names)
  list(APPEND _helper_ca_outputs ${HELPER_TEST_CA_DIR}/${_name}.pem ${HELPER_TEST_CA_DIR}/${_name}.key)
endforeach()
# Made as the last step of building the signer, so that exactly one rule
# writes it: fixtures and the anchor library depend on the signer itself.
add_custom_command(TARGET helper-test-signer POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${HELPER_TEST_CA_DIR}
  COMMAND helper-test-signer make-ca ${HELPER_TEST_CA_DIR}
  BYPRODUCTS ${_helper_ca_outputs}
  COMMENT "Making the tests' certificate authority"
  VERBATIM)
add_custom_target(helper_test_ca DEPENDS helper-test-signer)

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
