# The tests' code signer and the certificate authority it makes: used by the
# tests' fixtures and by the benchmarks, which sign a large file with it.

add_executable(helper-test-signer
  ${CMAKE_CURRENT_LIST_DIR}/signer/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/Bytes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/CertificateAuthority.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/CertificateBuilder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/CmsSignature.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/CodeDirectory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/CommandLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/Digest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/MachO.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/OpenSSLSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/Requirements.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/Signer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/Timestamp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signer/Universal.cpp
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
