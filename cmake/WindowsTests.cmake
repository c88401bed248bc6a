# Unit and integration tests: GoogleTest built for Windows, run under Wine
# through CMAKE_CROSSCOMPILING_EMULATOR (tools/wine/winerun).
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# Helper programs the tests start (one .exe per source file in tests/tools).
file(GLOB ORLIX_TEST_TOOLS CONFIGURE_DEPENDS ${ORLIX_ROOT}/tests/tools/*.cpp)
set(ORLIX_TEST_TOOL_TARGETS "")
foreach(_src ${ORLIX_TEST_TOOLS})
  get_filename_component(_name ${_src} NAME_WE)
  add_executable(${_name} ${_src})
  target_link_libraries(${_name} PRIVATE launcher_lib)
  target_link_options(${_name} PRIVATE -municode)  # wmain entry
  set_target_properties(${_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testtools)
  list(APPEND ORLIX_TEST_TOOL_TARGETS ${_name})
endforeach()
# The deployment probe carries the launcher's resources, game package included,
# so a copy in the install folder deploys as the installed launcher does.
if(TARGET deploy_probe)
  target_sources(deploy_probe PRIVATE ${ORLIX_RC})
  if(ORLIX_GAME_PACKAGE_TARGET)
    add_dependencies(deploy_probe ${ORLIX_GAME_PACKAGE_TARGET})
  endif()
endif()

file(GLOB_RECURSE ORLIX_UNIT_TESTS CONFIGURE_DEPENDS ${ORLIX_ROOT}/tests/unit/*_test.cpp)
file(GLOB ORLIX_UNIT_SUPPORT CONFIGURE_DEPENDS ${ORLIX_ROOT}/tests/unit/*.cpp)
list(APPEND ORLIX_UNIT_TESTS ${ORLIX_UNIT_SUPPORT})
list(REMOVE_DUPLICATES ORLIX_UNIT_TESTS)
add_executable(launcher_tests ${ORLIX_UNIT_TESTS})
target_include_directories(launcher_tests PRIVATE ${ORLIX_ROOT}/tests/unit)
target_link_libraries(launcher_tests PRIVATE launcher_lib gtest)
# The sibling test tree of the other architecture (its test tools start
# processes of the other bitness): build/x86_64 for i686, build/i686-test for x86_64.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(_other_arch_tree x86_64)
else()
  set(_other_arch_tree i686-test)
endif()
target_compile_definitions(launcher_tests PRIVATE
    ORLIX_TEST_PORT=${ORLIX_TEST_PORT}
    ORLIX_TESTTOOLS_DIR=L"testtools"
    ORLIX_OTHER_ARCH_TREE=L"${_other_arch_tree}")
if(ORLIX_TEST_TOOL_TARGETS)
  add_dependencies(launcher_tests ${ORLIX_TEST_TOOL_TARGETS})
endif()
add_dependencies(launcher_tests Tavrel_Launcher)

# Each test case becomes one CTest test named Suite.Case; discovery runs the
# executable under Wine when ctest starts, not at build time.
gtest_discover_tests(launcher_tests
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300)

# The suite runs in the players' locale (tools/wine/wine-env.sh: code page
# 936). The cases whose outcome hangs on the system's code pages run once
# more in the C locale (ANSI 1252, OEM 437), which a Western system has.
set(ORLIX_C_LOCALE_CASES
    "SystemLocale.*:SelfDeleteText.*:ZipReader.NamesInUtf8AndTheAnsiCodePage:DeviceCodeTest.*:SystemReport.*")
add_test(NAME c_locale_cases COMMAND launcher_tests --gtest_filter=${ORLIX_C_LOCALE_CASES})
set_tests_properties(c_locale_cases PROPERTIES
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR} ENVIRONMENT "ORLIX_WINE_LANG=C.UTF-8" TIMEOUT 600)
