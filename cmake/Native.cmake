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
  set(ORLIX_BUILD_WIN ${ORLIX_ROOT}/build/x86_64 CACHE PATH "x86_64 Windows build tree the end-to-end tests run")
  # One CTest test per end-to-end script; a script holds related cases.
  file(GLOB ORLIX_E2E_TESTS CONFIGURE_DEPENDS ${ORLIX_ROOT}/tests/e2e/test_*.py)
  foreach(_script ${ORLIX_E2E_TESTS})
    get_filename_component(_name ${_script} NAME_WE)
    string(REGEX REPLACE "^test_" "e2e_" _name ${_name})
    add_test(NAME ${_name} COMMAND ${ORLIX_PYTHON} ${_script})
    set(_env "ORLIX_ROOT=${ORLIX_ROOT}" "ORLIX_BUILD_WIN=${ORLIX_BUILD_WIN}"
             "ORLIX_TEST_PORT=${ORLIX_TEST_PORT}")
    if(TARGET orlix_server)
      list(APPEND _env "ORLIX_SERVER=$<TARGET_FILE:orlix_server>")
    endif()
    set_tests_properties(${_name} PROPERTIES ENVIRONMENT "${_env}" TIMEOUT 900 RESOURCE_LOCK wine)
  endforeach()
endif()
