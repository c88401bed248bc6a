# Linux targets: the local statistics and update server, the launcher's pure
# code with its GoogleTest cases (run here, without Wine), and the end-to-end
# tests that drive the Windows builds under Wine.
set(CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS} -Wall -Wextra")

if(EXISTS ${ORLIX_ROOT}/server/CMakeLists.txt)
  add_subdirectory(${ORLIX_ROOT}/server ${CMAKE_BINARY_DIR}/server)
endif()

# ---- The launcher's pure code: each folder's files without _win ----------------
# This tree only tests, so the maker's hosts are the local server's.
set(ORLIX_TEST_SETTINGS ON)
include(${ORLIX_ROOT}/cmake/MakerSettings.cmake)
find_package(ZLIB REQUIRED)
set(ORLIX_SYSTEM_LIBS "")
set(ORLIX_ZLIB ZLIB::ZLIB)
include(${ORLIX_ROOT}/cmake/Layers.cmake)

# The maker's patch tool (./dev publish --previous, bench update): suffix
# sorting by Debian's libdivsufsort, the applier of the launcher itself.
find_path(ORLIX_DIVSUFSORT_INCLUDE divsufsort.h REQUIRED)
find_library(ORLIX_DIVSUFSORT_LIB divsufsort REQUIRED)
add_executable(orlix_makepatch ${ORLIX_ROOT}/tools/makepatch/orlix_makepatch.cpp)
target_include_directories(orlix_makepatch PRIVATE ${ORLIX_DIVSUFSORT_INCLUDE})
target_link_libraries(orlix_makepatch PRIVATE orlix_update ${ORLIX_DIVSUFSORT_LIB} ZLIB::ZLIB)
set_target_properties(orlix_makepatch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

if(BUILD_TESTING)
  # The pure cases: tests/unit/<folder>/*_test.cpp without _win. The Windows
  # test build runs the same cases again under Wine.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  include(GoogleTest)
  file(GLOB ORLIX_PURE_TESTS CONFIGURE_DEPENDS ${ORLIX_ROOT}/tests/unit/*/*_test.cpp)
  list(FILTER ORLIX_PURE_TESTS EXCLUDE REGEX "_win_test\\.cpp$")
  add_executable(launcher_pure_tests ${ORLIX_PURE_TESTS})
  target_include_directories(launcher_pure_tests PRIVATE ${ORLIX_ROOT}/tests/unit)
  target_link_libraries(launcher_pure_tests PRIVATE orlix_core gtest_main)
  target_compile_definitions(launcher_pure_tests PRIVATE ORLIX_TEST_PORT=${ORLIX_TEST_PORT})
  # CTest names native.Suite.Case, beside the Suite.Case of the Wine run.
  gtest_discover_tests(launcher_pure_tests TEST_PREFIX "native." PROPERTIES TIMEOUT 60)

  find_program(ORLIX_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  # The drivers start the players' i686 launcher (build/i686-test) where this
  # machine runs 32-bit Windows programs, else the x86_64 one; ./dev decides.
  set(ORLIX_E2E_ARCH i686 CACHE STRING "Windows test build the end-to-end tests run: i686 or x86_64")
  set_property(CACHE ORLIX_E2E_ARCH PROPERTY STRINGS i686 x86_64)
  # Drivers that run once more against the other architecture: where i686 runs
  # here, the crash driver against x86_64 (the crash handler patches 64-bit
  # code in its own way); where the i686 tests run in the emulated guest, the
  # drivers it has time for against i686 (./dev sets both).
  set(ORLIX_E2E_ALSO crash CACHE STRING "End-to-end scripts (NAME of test_NAME.py) also run against the other architecture")
  set(_tree_i686 ${ORLIX_ROOT}/build/i686-test)
  set(_tree_x86_64 ${ORLIX_ROOT}/build/x86_64)
  # One CTest test per end-to-end script; a script holds related cases. Each
  # is labelled with the architecture of the launcher it runs.
  file(GLOB ORLIX_E2E_TESTS CONFIGURE_DEPENDS ${ORLIX_ROOT}/tests/e2e/test_*.py)
  foreach(_script ${ORLIX_E2E_TESTS})
    get_filename_component(_base ${_script} NAME_WE)
    string(REGEX REPLACE "^test_" "" _base ${_base})
    set(_runs "${ORLIX_E2E_ARCH}")
    if(_base IN_LIST ORLIX_E2E_ALSO)
      if(ORLIX_E2E_ARCH STREQUAL "i686")
        list(APPEND _runs x86_64)
      else()
        list(APPEND _runs i686)
      endif()
    endif()
    foreach(_arch ${_runs})
      set(_name e2e_${_base})
      if(NOT _arch STREQUAL ORLIX_E2E_ARCH)
        set(_name e2e_${_base}_${_arch})
      endif()
      # Drivers run side by side: each in its own network namespace (its
      # local server takes the test port on its own loopback) and X display
      # (tools/wine/isolated), with its own scratch folder and prefix copies.
      add_test(NAME ${_name} COMMAND ${ORLIX_ROOT}/tools/wine/isolated ${ORLIX_PYTHON} ${_script})
      set(_env "ORLIX_ROOT=${ORLIX_ROOT}" "ORLIX_BUILD_WIN=${_tree_${_arch}}" "ORLIX_TEST_PORT=${ORLIX_TEST_PORT}"
               "ORLIX_E2E_DIR=${ORLIX_ROOT}/build/e2e/${_name}")
      if(TARGET orlix_server)
        list(APPEND _env "ORLIX_SERVER=$<TARGET_FILE:orlix_server>")
      endif()
      set_tests_properties(${_name} PROPERTIES ENVIRONMENT "${_env}" TIMEOUT 900 LABELS ${_arch})
    endforeach()
  endforeach()
  # ./dev release builds a launcher of its own before the player's story.
  if(TEST e2e_release)
    set_tests_properties(e2e_release PROPERTIES TIMEOUT 3600)
  endif()
  # The host's side of the i686 guest (tools/guest/run-guest), with a stand-in for qemu.
  add_test(NAME guest_runner COMMAND ${ORLIX_PYTHON} ${ORLIX_ROOT}/tests/guest/test_run_guest.py)
  set_tests_properties(guest_runner PROPERTIES ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT}" TIMEOUT 300)
  # The runner of the Windows trees' GoogleTest shares, with a stand-in test program.
  add_test(NAME gtest_batch COMMAND ${ORLIX_PYTHON} ${ORLIX_ROOT}/tests/ci/test_gtest_batch.py)
  set_tests_properties(gtest_batch PROPERTIES ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT}" TIMEOUT 300)
  # The maker's publishing tool on the launchers of the Windows test build.
  add_test(NAME publish_tool COMMAND /usr/bin/python3 ${ORLIX_ROOT}/tests/publish/test_publish.py)
  set_tests_properties(publish_tool PROPERTIES
      ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT};ORLIX_BUILD_WIN=${ORLIX_BUILD_WIN}" TIMEOUT 300)
  # The Windows runners' workflow, as far as it can be checked here.
  add_test(NAME ci_workflow COMMAND /usr/bin/python3 ${ORLIX_ROOT}/tests/ci/test_workflow.py)
  set_tests_properties(ci_workflow PROPERTIES ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT}" TIMEOUT 60)
  # ./dev release with the inputs it must refuse, and its package's bytes.
  add_test(NAME release_inputs COMMAND /usr/bin/python3 ${ORLIX_ROOT}/tests/release/test_release_inputs.py)
  set_tests_properties(release_inputs PROPERTIES
      ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT};ORLIX_BUILD_WIN=${_tree_${ORLIX_E2E_ARCH}}" TIMEOUT 900)
  # The README's maker steps, as written.
  add_test(NAME publish_maker_steps COMMAND /usr/bin/python3 ${ORLIX_ROOT}/tests/publish/test_maker_steps.py)
  set_tests_properties(publish_maker_steps PROPERTIES
      ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT};ORLIX_BUILD_WIN=${ORLIX_BUILD_WIN}" TIMEOUT 600)
  # Debug identifiers and symbol files of the Windows trees.
  add_test(NAME symbols_tool COMMAND /usr/bin/python3 ${ORLIX_ROOT}/tests/symbols/test_symbols.py)
  set_tests_properties(symbols_tool PROPERTIES ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT}" TIMEOUT 300)
endif()
