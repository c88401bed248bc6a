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
  target_link_libraries(${_name} PRIVATE orlix_core)
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
# The cases themselves, and GoogleTest, are compiled without optimisation and
# with line tables only (what a failure's file and line and the symbol store
# need): at the tree's -O3 -g their GoogleTest macros took three times as
# long to compile, half of a test tree's build. The code under test, the
# layers, is compiled as it ships.
target_compile_options(launcher_tests PRIVATE -O0 -g1)
target_compile_options(gtest PRIVATE -O0 -g1)
# Every case file parses GoogleTest's header first: parsed once, as a
# precompiled header.
target_precompile_headers(launcher_tests PRIVATE <gtest/gtest.h> <string> <vector>)
# dbghelp: the minidump tests read dumps and images back with it.
target_link_libraries(launcher_tests PRIVATE orlix_core gtest dbghelp)
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

# The cases run in ORLIX_GTEST_SHARDS shares (GoogleTest's own split of the
# list), each a CTest test that runs its cases in one test program under Wine
# (tools/wine/gtest-batch): a Wine start per case made the suite's time mostly
# Wine starts. The shares run side by side, each in tools/wine/isolated (its
# own network namespace and display) with its own copy of the prepared prefix
# (build/wineprefix), and each reports its cases by name into test-results/,
# which ./dev test counts. What one case leaves in the prefix every later case
# would inherit: each case puts back what it changes (TestMain_win.cpp), and
# each share ends by checking that its prefix is as tools/wine/prefix-setup
# left it ("wineprefix_unchanged").
find_program(ORLIX_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(ORLIX_GTEST_SHARDS 4 CACHE STRING "Shares the GoogleTest cases of a Windows test tree run in")
set(_gtest_batch ${ORLIX_ROOT}/tools/wine/isolated ${ORLIX_SYSTEM_PYTHON} ${ORLIX_ROOT}/tools/wine/gtest-batch
    --tree ${CMAKE_BINARY_DIR} --exe $<TARGET_FILE:launcher_tests>)
foreach(_shard RANGE 1 ${ORLIX_GTEST_SHARDS})
  set(_name launcher_tests_${_shard}of${ORLIX_GTEST_SHARDS})
  add_test(NAME ${_name} COMMAND ${_gtest_batch} --name ${_name} --shard ${_shard} --shards ${ORLIX_GTEST_SHARDS})
  # Each case is bounded (300 s) inside; this bounds the share as a whole.
  set_tests_properties(${_name} PROPERTIES TIMEOUT 3000 LABELS gtest)
endforeach()

# A launcher of a later version with five version digits, 3.0.1.10, which the
# update tests publish: the same code and resources, linked with its own copy
# of product/ProductVersion.cpp (the library's copy is then never taken) and its
# resource script compiled with the same numbers.
add_executable(Tavrel_Launcher_next WIN32 ${ORLIX_EXE_SOURCES} ${ORLIX_ROOT}/src/product/ProductVersion.cpp ${ORLIX_RC})
target_compile_definitions(Tavrel_Launcher_next PRIVATE
    ORLIX_VERSION_MAJOR=3 ORLIX_VERSION_MINOR=0 ORLIX_VERSION_BUILD=1 ORLIX_VERSION_REVISION=10)
target_link_libraries(Tavrel_Launcher_next PRIVATE orlix_core)
target_link_options(Tavrel_Launcher_next PRIVATE -municode)
set_target_properties(Tavrel_Launcher_next PROPERTIES
    OUTPUT_NAME Tavrel_Launcher RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/next)
if(ORLIX_GAME_PACKAGE_TARGET)
  add_dependencies(Tavrel_Launcher_next ${ORLIX_GAME_PACKAGE_TARGET})
endif()

# Launchers that ask for signed update configurations. The build makes three
# update key pairs (never kept in the sources): the current key, an offline
# backup key, and the key a key roll makes current. Their private keys sign
# test releases through tools/publish; the launchers carry the public keys,
# linked as their own definition of update::UpdateKeysText ahead of the
# library's (keyless) one: signed/ at this version and signed_next/ at
# 3.0.1.10 with the current and the backup key, signed_rolled/ at 3.0.1.11
# with the rolled key as current and the same backup key.
set(_keydir ${CMAKE_BINARY_DIR}/testkey)
set(ORLIX_TEST_UPDATE_KEY ${_keydir}/update_test_key.pem)
set(_backup_key ${_keydir}/update_backup_key.pem)
set(_rolled_key ${_keydir}/update_rolled_key.pem)
set(_key_source ${_keydir}/UpdateKeys_test.cpp)
set(_rolled_source ${_keydir}/UpdateKeys_rolled.cpp)
set(_publish ${ORLIX_ROOT}/tools/publish/orlix_publish.py)
add_custom_command(
  OUTPUT ${ORLIX_TEST_UPDATE_KEY} ${_backup_key} ${_rolled_key} ${_key_source} ${_rolled_source}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_keydir}
  COMMAND ${ORLIX_SYSTEM_PYTHON} ${_publish} keygen --no-passphrase --replace ${ORLIX_TEST_UPDATE_KEY}
  COMMAND ${ORLIX_SYSTEM_PYTHON} ${_publish} keygen --no-passphrase --replace ${_backup_key}
  COMMAND ${ORLIX_SYSTEM_PYTHON} ${_publish} keygen --no-passphrase --replace ${_rolled_key}
  COMMAND ${ORLIX_SYSTEM_PYTHON} ${_publish} keysource ${_key_source} --current ${ORLIX_TEST_UPDATE_KEY}
          --backup ${_backup_key}
  COMMAND ${ORLIX_SYSTEM_PYTHON} ${_publish} keysource ${_rolled_source} --current ${_rolled_key}
          --backup ${_backup_key}
  DEPENDS ${_publish}
  COMMENT "Making the test update key pairs"
  VERBATIM)
foreach(_variant signed signed_next signed_rolled)
  set(_target Tavrel_Launcher_${_variant})
  if(_variant STREQUAL "signed_rolled")
    set(_sources ${ORLIX_EXE_SOURCES} ${ORLIX_RC} ${_rolled_source})
  else()
    set(_sources ${ORLIX_EXE_SOURCES} ${ORLIX_RC} ${_key_source})
  endif()
  if(NOT _variant STREQUAL "signed")
    list(APPEND _sources ${ORLIX_ROOT}/src/product/ProductVersion.cpp)
  endif()
  add_executable(${_target} WIN32 ${_sources})
  if(_variant STREQUAL "signed_next")
    target_compile_definitions(${_target} PRIVATE
        ORLIX_VERSION_MAJOR=3 ORLIX_VERSION_MINOR=0 ORLIX_VERSION_BUILD=1 ORLIX_VERSION_REVISION=10)
  elseif(_variant STREQUAL "signed_rolled")
    target_compile_definitions(${_target} PRIVATE
        ORLIX_VERSION_MAJOR=3 ORLIX_VERSION_MINOR=0 ORLIX_VERSION_BUILD=1 ORLIX_VERSION_REVISION=11)
  endif()
  target_link_libraries(${_target} PRIVATE orlix_core)
  target_link_options(${_target} PRIVATE -municode)
  set_target_properties(${_target} PROPERTIES
      OUTPUT_NAME Tavrel_Launcher RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${_variant})
  if(ORLIX_GAME_PACKAGE_TARGET)
    add_dependencies(${_target} ${ORLIX_GAME_PACKAGE_TARGET})
  endif()
endforeach()

# The suite runs in the players' locale (tools/wine/wine-env.sh: code page
# 936). The cases whose outcome hangs on the system's code pages run once
# more in the C locale (ANSI 1252, OEM 437), which a Western system has.
set(ORLIX_C_LOCALE_CASES
    "SystemLocale.*:SelfDeleteText.*:ZipReader.NamesInUtf8AndTheAnsiCodePage:DeviceCodeTest.*:SystemReport.*:Md5HexOfText.*")
add_test(NAME c_locale_cases COMMAND ${_gtest_batch} --name c_locale_cases --filter ${ORLIX_C_LOCALE_CASES})
set_tests_properties(c_locale_cases PROPERTIES ENVIRONMENT "ORLIX_WINE_LANG=C.UTF-8" TIMEOUT 1200 LABELS gtest)
