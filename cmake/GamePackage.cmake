# The game package: resource ZIP 129 of the launcher. Made at build time from
# the demo game (tools/demo_game) and the crash-report uploader
# (tools/bugreport), built for the launcher's own architecture, plus generated
# runtime-like files in subfolders (tools/gamepackage/make_package.py).
#
# Sets ORLIX_GAME_PACKAGE (the archive's path) and ORLIX_GAME_PACKAGE_TARGET
# (the target that makes it) for cmake/Windows.cmake.
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
