# Windows targets: the launcher, its tools and its tests (run under Wine).

# Test programs (and gtest discovery) run through Wine with the build's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ORLIX_ROOT}/tools/wine/winerun)

# ---- Maker settings --------------------------------------------------------
# Release values are the maker's own; ORLIX_TEST_SETTINGS points every host at
# the project's local server on loopback (tools/server, port ORLIX_TEST_PORT).
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
configure_file(${ORLIX_ROOT}/src/core/MakerSettings.h.in ${ORLIX_GENERATED}/core/MakerSettings.h @ONLY)

# ---- Common flags ------------------------------------------------------------
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)
set(ORLIX_WARNINGS -Wall -Wextra -Wno-missing-field-initializers -Wno-cast-function-type)
# Everything static: the launcher ships as one .exe with no runtime DLLs.
set(ORLIX_LINK_STATIC -static -static-libgcc -static-libstdc++)
find_library(ZLIB_STATIC NAMES libz.a z REQUIRED)
set(ORLIX_WIN_LIBS
    ${ZLIB_STATIC} wininet shlwapi shell32 ole32 oleaut32 uuid comctl32 gdiplus msimg32
    psapi advapi32 user32 gdi32 version bcrypt)

# ---- The launcher's code as a library (linked by the launcher and the tests)
file(GLOB_RECURSE ORLIX_LIB_SOURCES CONFIGURE_DEPENDS
     ${ORLIX_ROOT}/src/base/*.cpp ${ORLIX_ROOT}/src/app/*.cpp ${ORLIX_ROOT}/src/core/*.cpp
     ${ORLIX_ROOT}/src/deploy/*.cpp ${ORLIX_ROOT}/src/update/*.cpp ${ORLIX_ROOT}/src/telemetry/*.cpp
     ${ORLIX_ROOT}/src/diagnostics/*.cpp ${ORLIX_ROOT}/src/ui/*.cpp ${ORLIX_ROOT}/src/archive/*.cpp)
# Sources that belong to the launcher executable alone (entry, app object).
set(ORLIX_EXE_SOURCES ${ORLIX_ROOT}/src/app/WinMain.cpp ${ORLIX_ROOT}/src/core/TheApp.cpp)
list(REMOVE_ITEM ORLIX_LIB_SOURCES ${ORLIX_EXE_SOURCES})

add_library(launcher_lib STATIC ${ORLIX_LIB_SOURCES})
target_include_directories(launcher_lib PUBLIC ${ORLIX_ROOT}/src ${ORLIX_GENERATED})
target_compile_options(launcher_lib PUBLIC ${ORLIX_WARNINGS})
target_link_libraries(launcher_lib PUBLIC ${ORLIX_WIN_LIBS})
target_link_options(launcher_lib INTERFACE ${ORLIX_LINK_STATIC})

# ---- Resources ---------------------------------------------------------------
# The game package (resource ZIP 129) is made at build time from the demo game
# and the uploader; cmake/GamePackage.cmake sets ORLIX_GAME_PACKAGE when it can.
include(${ORLIX_ROOT}/cmake/GamePackage.cmake OPTIONAL)
set(ORLIX_RC_DEFINES "")
if(ORLIX_GAME_PACKAGE)
  # The quotes must reach windres's own preprocessor run, which goes through
  # a shell once more: \\\" in the build command becomes " for cpp.
  set(ORLIX_RC_DEFINES "-DORLIX_GAME_PACKAGE=\\\\\\\"${ORLIX_GAME_PACKAGE}\\\\\\\"")
endif()
file(GLOB ORLIX_SKIN_IMAGES CONFIGURE_DEPENDS ${ORLIX_ROOT}/src/resources/skin/*.png)
set(ORLIX_RC ${ORLIX_ROOT}/src/resources/launcher.rc)
set_source_files_properties(${ORLIX_RC} PROPERTIES
    OBJECT_DEPENDS "${ORLIX_SKIN_IMAGES};${ORLIX_ROOT}/src/resources/launcher.manifest;${ORLIX_GAME_PACKAGE}")
# windres reads the templates as UTF-8 (their captions are Chinese).
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001 -I${ORLIX_ROOT}/src/resources -I${ORLIX_ROOT}/src ${ORLIX_RC_DEFINES}")

# ---- The launcher --------------------------------------------------------------
add_executable(Tavrel_Launcher WIN32 ${ORLIX_EXE_SOURCES} ${ORLIX_RC})
target_link_libraries(Tavrel_Launcher PRIVATE launcher_lib)
# wWinMain entry.
target_link_options(Tavrel_Launcher PRIVATE -municode)
if(ORLIX_GAME_PACKAGE_TARGET)
  add_dependencies(Tavrel_Launcher ${ORLIX_GAME_PACKAGE_TARGET})
endif()

# ---- Programs outside the launcher: demo game, uploader, tools ----------------
foreach(_dir demo_game bugreport)
  if(EXISTS ${ORLIX_ROOT}/tools/${_dir}/CMakeLists.txt)
    add_subdirectory(${ORLIX_ROOT}/tools/${_dir} ${CMAKE_BINARY_DIR}/tools/${_dir})
  endif()
endforeach()

# ---- Tests -----------------------------------------------------------------------
if(BUILD_TESTING)
  include(${ORLIX_ROOT}/cmake/WindowsTests.cmake)
endif()
