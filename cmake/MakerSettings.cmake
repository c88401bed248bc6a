# The maker's settings, fixed at build time: src/product/MakerSettings.h.in
# becomes ORLIX_GENERATED/product/MakerSettings.h. Release values are the
# maker's own; ORLIX_TEST_SETTINGS points every host at the project's local
# server on loopback (server/, port ORLIX_TEST_PORT).
option(ORLIX_TEST_SETTINGS "Point the maker's hosts at the local test server" OFF)
if(ORLIX_TEST_SETTINGS)
  set(_host "127.0.0.1:${ORLIX_TEST_PORT}")
  set(LAUNCHER_SERVER_HOST "${_host}" CACHE STRING "" FORCE)
  set(LAUNCHER_PROBE_URL "http://${_host}/" CACHE STRING "" FORCE)
  set(LAUNCHER_DOMAIN_1 "127.0.0.1" CACHE STRING "" FORCE)
  set(LAUNCHER_DOMAIN_2 "localhost" CACHE STRING "" FORCE)
  set(LAUNCHER_DOMAIN_3 "orlixgame.test" CACHE STRING "" FORCE)
  set(LAUNCHER_HELP_HOST "${_host}" CACHE STRING "" FORCE)
  # The test build's own launcher asks for no signature, as a build without a
  # key does; the test launchers of cmake/WindowsTests.cmake carry a test key.
  set(LAUNCHER_UPDATE_PUBLIC_KEY "" CACHE STRING "" FORCE)
else()
  set(LAUNCHER_SERVER_HOST "tj.orlixgame.com" CACHE STRING "Statistics and update server host[:port]")
  set(LAUNCHER_PROBE_URL "http://www.baidu.com/" CACHE STRING "Connectivity probe URL")
  set(LAUNCHER_DOMAIN_1 "orlixgame.com" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_DOMAIN_2 "orlix.cn" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_DOMAIN_3 "orlixcdn.com" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_HELP_HOST "bbs.orlixgame.com" CACHE STRING "Host of the help page")
  # What `./dev keygen` prints. Empty: update configurations are not signed.
  set(LAUNCHER_UPDATE_PUBLIC_KEY "" CACHE STRING
      "ECDSA P-256 public key of signed update configurations (04 + X + Y in hex), empty for none")
endif()
if(NOT LAUNCHER_UPDATE_PUBLIC_KEY STREQUAL "" AND NOT LAUNCHER_UPDATE_PUBLIC_KEY MATCHES "^04[0-9a-fA-F]+$")
  message(FATAL_ERROR "LAUNCHER_UPDATE_PUBLIC_KEY must be empty or the key text ./dev keygen prints")
endif()
string(LENGTH "${LAUNCHER_UPDATE_PUBLIC_KEY}" _key_length)
if(NOT _key_length EQUAL 0 AND NOT _key_length EQUAL 130)
  message(FATAL_ERROR "LAUNCHER_UPDATE_PUBLIC_KEY must be 130 characters long (it is ${_key_length})")
endif()
set(ORLIX_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(${ORLIX_ROOT}/src/product/MakerSettings.h.in ${ORLIX_GENERATED}/product/MakerSettings.h @ONLY)
