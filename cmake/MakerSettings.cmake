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
  set(LAUNCHER_UPDATE_BACKUP_KEYS "" CACHE STRING "" FORCE)
else()
  set(LAUNCHER_SERVER_HOST "tj.orlixgame.com" CACHE STRING "Statistics and update server host[:port]")
  set(LAUNCHER_PROBE_URL "http://www.baidu.com/" CACHE STRING "Connectivity probe URL")
  set(LAUNCHER_DOMAIN_1 "orlixgame.com" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_DOMAIN_2 "orlix.cn" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_DOMAIN_3 "orlixcdn.com" CACHE STRING "Allow-listed download domain")
  set(LAUNCHER_HELP_HOST "bbs.orlixgame.com" CACHE STRING "Host of the help page")
  # What `./dev keygen` prints. The release tree refuses to configure without
  # it (below) unless the maker turns signing off by name.
  set(LAUNCHER_UPDATE_PUBLIC_KEY "" CACHE STRING
      "ECDSA P-256 public key of signed update configurations (04 + X + Y in hex)")
  set(LAUNCHER_UPDATE_BACKUP_KEYS "" CACHE STRING
      "Offline backup update keys, comma-separated: each may sign a configuration that retires a key")
  option(LAUNCHER_UPDATES_UNSIGNED_ACCEPT_ANY_PROGRAM
         "Build without an update key: the launcher then runs, as administrator, any program whoever answers its update server offers" OFF)
endif()
# The channel a signed configuration must name ("Channel"), and how many days
# without a valid configuration make the launcher report a frozen channel.
set(LAUNCHER_UPDATE_CHANNEL "release" CACHE STRING "Update channel of this build (letters, digits, '-')")
set(LAUNCHER_UPDATE_FREEZE_DAYS 14 CACHE STRING "Days without a valid update configuration before the launcher reports it")
if(NOT LAUNCHER_UPDATE_CHANNEL MATCHES "^[A-Za-z0-9-]+$")
  message(FATAL_ERROR "LAUNCHER_UPDATE_CHANNEL must be letters, digits and '-'")
endif()
if(NOT LAUNCHER_UPDATE_FREEZE_DAYS MATCHES "^[1-9][0-9]?[0-9]?$")
  message(FATAL_ERROR "LAUNCHER_UPDATE_FREEZE_DAYS must be a number of days from 1 to 999")
endif()
if(CMAKE_SYSTEM_NAME STREQUAL "Windows" AND NOT ORLIX_TEST_SETTINGS AND LAUNCHER_UPDATE_PUBLIC_KEY STREQUAL ""
   AND NOT LAUNCHER_UPDATES_UNSIGNED_ACCEPT_ANY_PROGRAM)
  message(FATAL_ERROR "The release launcher needs an update key: LAUNCHER_UPDATE_PUBLIC_KEY=04... "
                      "(./dev keygen prints it). Without one, anyone on a player's network path can make the "
                      "launcher run a program of his own as administrator; to build such a launcher all the "
                      "same, set -DLAUNCHER_UPDATES_UNSIGNED_ACCEPT_ANY_PROGRAM=ON.")
endif()
foreach(_key ${LAUNCHER_UPDATE_PUBLIC_KEY} ${LAUNCHER_UPDATE_BACKUP_KEYS})
  string(REPLACE "," ";" _keys "${_key}")
  foreach(_one ${_keys})
    string(LENGTH "${_one}" _key_length)
    if(NOT _one MATCHES "^04[0-9a-fA-F]+$" OR NOT _key_length EQUAL 130)
      message(FATAL_ERROR "update keys must be the 130-character key text ./dev keygen prints: ${_one}")
    endif()
  endforeach()
endforeach()
# The keys as the launcher carries them, in one text that the maker's tool
# also finds in a built launcher: "orlix-update-keys", then " current=KEY"
# and " backup=KEY" for each backup key, lowercase.
set(ORLIX_UPDATE_KEYS_RECORD "orlix-update-keys")
if(NOT LAUNCHER_UPDATE_PUBLIC_KEY STREQUAL "")
  string(TOLOWER "${LAUNCHER_UPDATE_PUBLIC_KEY}" _lower)
  string(APPEND ORLIX_UPDATE_KEYS_RECORD " current=${_lower}")
endif()
string(REPLACE "," ";" _backups "${LAUNCHER_UPDATE_BACKUP_KEYS}")
foreach(_one ${_backups})
  string(TOLOWER "${_one}" _lower)
  string(APPEND ORLIX_UPDATE_KEYS_RECORD " backup=${_lower}")
endforeach()
set(ORLIX_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(${ORLIX_ROOT}/src/product/MakerSettings.h.in ${ORLIX_GENERATED}/product/MakerSettings.h @ONLY)
