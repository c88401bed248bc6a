# The game package: resource ZIP 129 of the launcher. Made at build time from
# the demo game (tools/demo_game) and the crash-report uploader
# (tools/bugreport), built for the launcher's own architecture, plus generated
# runtime-like files in subfolders (tools/gamepackage/make_package.py).
#
# Sets ORLIX_GAME_PACKAGE (the archive's path) and ORLIX_GAME_PACKAGE_TARGET
# (the target that makes it) for cmake/Windows.cmake.
#
# A maker's release (`./dev release`, tools/release/orlix_release.py) packs
# the maker's own game folder first and names the archive in
# ORLIX_GAME_PACKAGE_FILE; the launcher then carries that one as it is.
set(ORLIX_GAME_PACKAGE_FILE "" CACHE FILEPATH "A ready game package to carry instead of the demo game's")
if(ORLIX_GAME_PACKAGE_FILE)
  if(NOT EXISTS "${ORLIX_GAME_PACKAGE_FILE}")
    message(FATAL_ERROR "ORLIX_GAME_PACKAGE_FILE ${ORLIX_GAME_PACKAGE_FILE} does not exist")
  endif()
  set(ORLIX_GAME_PACKAGE "${ORLIX_GAME_PACKAGE_FILE}")
  set(ORLIX_GAME_PACKAGE_TARGET "")
  return()
endif()

find_program(ORLIX_PACKAGE_PYTHON NAMES python3 REQUIRED)

set(ORLIX_GAME_PACKAGE ${CMAKE_BINARY_DIR}/package/tavrelair.zip)
set(ORLIX_GAME_PACKAGE_TARGET game_package)
set(_make_package ${ORLIX_ROOT}/tools/gamepackage/make_package.py)

# tavr_online and BugReport are defined by tools/demo_game and tools/bugreport
# (added later in Windows.cmake); target references resolve at generate time.
add_custom_command(
  OUTPUT ${ORLIX_GAME_PACKAGE}
  COMMAND ${ORLIX_PACKAGE_PYTHON} ${_make_package} --out ${ORLIX_GAME_PACKAGE}
          --game $<TARGET_FILE:tavr_online> --uploader $<TARGET_FILE:BugReport>
  DEPENDS ${_make_package} tavr_online BugReport
  COMMENT "Packing the game package"
  VERBATIM)
add_custom_target(${ORLIX_GAME_PACKAGE_TARGET} DEPENDS ${ORLIX_GAME_PACKAGE})
