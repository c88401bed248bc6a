# Linux targets: the local statistics and update server, and the end-to-end
# tests that drive the Windows builds under Wine.
set(CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS} -Wall -Wextra")

if(EXISTS ${ORLIX_ROOT}/server/CMakeLists.txt)
  add_subdirectory(${ORLIX_ROOT}/server ${CMAKE_BINARY_DIR}/server)
endif()

if(BUILD_TESTING)
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
  # The maker's publishing tool on the launchers of the Windows test build.
  add_test(NAME publish_tool COMMAND /usr/bin/python3 ${ORLIX_ROOT}/tests/publish/test_publish.py)
  set_tests_properties(publish_tool PROPERTIES
      ENVIRONMENT "ORLIX_ROOT=${ORLIX_ROOT};ORLIX_BUILD_WIN=${ORLIX_BUILD_WIN}" TIMEOUT 300)
endif()
