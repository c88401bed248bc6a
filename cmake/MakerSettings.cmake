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
else()
  set(LAUNCHER_SERVER_HOST "tj.orlixgame.com" CACHE STRING "Statistics and update server host[:port]")
  set(LAUNCHER_PROBE_URL "http://www.baidu.com/" CACHE STRING "Connectivity probe URL")
  set(LAUNCHER_DOMAIN_1 "orlixgame.com" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_DOMAIN_2 "orlix.cn" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_DOMAIN_3 "orlixcdn.com" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_HELP_HOST "bbs.orlixgame.com" CACHE STRING "Host of the help page")
endif()
set(ORLIX_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(${ORLIX_ROOT}/src/product/MakerSettings.h.in ${ORLIX_GENERATED}/product/MakerSettings.h @ONLY)
