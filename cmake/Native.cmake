# Linux targets: the local statistics and update server, and the end-to-end
# tests that drive the Windows builds under Wine.
set(CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS} -Wall -Wextra")

if(EXISTS ${ORLIX_ROOT}/server/CMakeLists.txt)
  add_subdirectory(${ORLIX_ROOT}/server ${CMAKE_BINARY_DIR}/server)
endif()

if(BUILD_TESTING)
  find_program(ORLIX_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  # The drivers start the players' i686 launcher (build/i686-test) where this
  # machine runs 32-bit Windows programs, else the x86_64 one; ./dev decides.
  set(ORLIX_E2E_ARCH i686 CACHE STRING "Windows test build the end-to-end tests run: i686 or x86_64")
  set_property(CACHE ORLIX_E2E_ARCH PROPERTY STRINGS i686 x86_64)
  # Drivers that run once more against the x86_64 build when the default is
  # i686, for code that differs between the two: the crash handler patches
  # 64-bit code in its own way.
  set(ORLIX_E2E_ALSO_X86_64 crash CACHE STRING "End-to-end scripts (NAME of test_NAME.py) also run against x86_64")
  set(_tree_i686 ${ORLIX_ROOT}/build/i686-test)
  set(_tree_x86_64 ${ORLIX_ROOT}/build/x86_64)
  # One CTest test per end-to-end script; a script holds related cases. Each
  # is labelled with the architecture of the launcher it runs.
  file(GLOB ORLIX_E2E_TESTS CONFIGURE_DEPENDS ${ORLIX_ROOT}/tests/e2e/test_*.py)
  foreach(_script ${ORLIX_E2E_TESTS})
    get_filename_component(_base ${_script} NAME_WE)
    string(REGEX REPLACE "^test_" "" _base ${_base})
    set(_runs "${ORLIX_E2E_ARCH}")
    if(ORLIX_E2E_ARCH STREQUAL "i686" AND _base IN_LIST ORLIX_E2E_ALSO_X86_64)
      list(APPEND _runs x86_64)
    endif()
    foreach(_arch ${_runs})
      set(_name e2e_${_base})
      if(NOT _arch STREQUAL ORLIX_E2E_ARCH)
        set(_name e2e_${_base}_${_arch})
      endif()
      add_test(NAME ${_name} COMMAND ${ORLIX_PYTHON} ${_script})
      set(_env "ORLIX_ROOT=${ORLIX_ROOT}" "ORLIX_BUILD_WIN=${_tree_${_arch}}" "ORLIX_TEST_PORT=${ORLIX_TEST_PORT}")
      if(TARGET orlix_server)
        list(APPEND _env "ORLIX_SERVER=$<TARGET_FILE:orlix_server>")
      endif()
      set_tests_properties(${_name} PROPERTIES ENVIRONMENT "${_env}" TIMEOUT 900 RESOURCE_LOCK wine LABELS ${_arch})
    endforeach()
  endforeach()
  # The maker's publishing tool on the launchers of the Windows test build.
  add_test(NAME publish_tool COMMAND /usr/bin/python3 ${ORLIX_ROOT}/tests/publish/test_publish.py)
  set_tests_properties(publish_tool PROPERTIES
      ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT};ORLIX_BUILD_WIN=${ORLIX_BUILD_WIN}" TIMEOUT 300)
endif()
