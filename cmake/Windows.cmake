# Windows targets: the launcher, its tools and its tests (run under Wine).

# Test programs (and gtest discovery) run through Wine with the build's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ORLIX_ROOT}/tools/wine/winerun)

include(${ORLIX_ROOT}/cmake/MakerSettings.cmake)

# ---- Common flags ------------------------------------------------------------
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)
# DWARF for the symbols (cmake/Symbols.cmake); the programs are stripped after.
add_compile_options(-g)
# 32-bit code keeps its frame pointers. 32-bit RtlCaptureContext describes its
# caller's caller from the EBP chain (Wine's, as Windows' x86 one), which is
# garbage in code built without them; and a stack walker that finds no call
# frame information for a frame (system DLLs) follows EBP.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  add_compile_options(-fno-omit-frame-pointer)
endif()
set(ORLIX_WARNINGS -Wall -Wextra -Wno-missing-field-initializers -Wno-cast-function-type)
# Everything static: the launcher ships as one .exe with no runtime DLLs.
set(ORLIX_LINK_STATIC -static -static-libgcc -static-libstdc++)
find_library(ZLIB_STATIC NAMES libz.a z REQUIRED)
set(ORLIX_WIN_LIBS
    wininet shlwapi shell32 ole32 oleaut32 uuid comctl32 gdiplus msimg32
    psapi advapi32 user32 gdi32 version bcrypt)

include(${ORLIX_ROOT}/cmake/Symbols.cmake)

# ---- The launcher's code: one library per folder of src/ ------------------------
set(ORLIX_SYSTEM_LIBS ${ORLIX_WIN_LIBS})
set(ORLIX_ZLIB ${ZLIB_STATIC})
include(${ORLIX_ROOT}/cmake/Layers.cmake)
# Every layer and program builds on base, so its warnings and static link reach them all.
target_compile_options(orlix_base PUBLIC ${ORLIX_WARNINGS})
target_link_options(orlix_base INTERFACE ${ORLIX_LINK_STATIC})

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
# The entry and theApp are its own sources: nothing in a library would refer to
# theApp, so a library would leave the application object out of the program.
set(ORLIX_EXE_SOURCES ${ORLIX_ROOT}/src/core/WinMain_win.cpp ${ORLIX_ROOT}/src/core/TheApp_win.cpp)
add_executable(Tavrel_Launcher WIN32 ${ORLIX_EXE_SOURCES} ${ORLIX_RC})
target_link_libraries(Tavrel_Launcher PRIVATE orlix_core)
# wWinMain entry.
target_link_options(Tavrel_Launcher PRIVATE -municode)
if(ORLIX_GAME_PACKAGE_TARGET)
  add_dependencies(Tavrel_Launcher ${ORLIX_GAME_PACKAGE_TARGET})
endif()
# A maker's release gives its version as "a.b.c.d" (`./dev release --version`):
# the launcher then links its own copy of product/ProductVersion.cpp and
# compiles its resource script with those numbers, as Tavrel_Launcher_next of
# the tests does, so that only these two files change between releases.
set(ORLIX_RELEASE_VERSION "" CACHE STRING "Version a.b.c.d of a maker's release, empty for ProductVersion.h's")
if(ORLIX_RELEASE_VERSION)
  if(NOT ORLIX_RELEASE_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "ORLIX_RELEASE_VERSION must be four numbers a.b.c.d (it is ${ORLIX_RELEASE_VERSION})")
  endif()
  target_sources(Tavrel_Launcher PRIVATE ${ORLIX_ROOT}/src/product/ProductVersion.cpp)
  target_compile_definitions(Tavrel_Launcher PRIVATE
      ORLIX_VERSION_MAJOR=${CMAKE_MATCH_1} ORLIX_VERSION_MINOR=${CMAKE_MATCH_2}
      ORLIX_VERSION_BUILD=${CMAKE_MATCH_3} ORLIX_VERSION_REVISION=${CMAKE_MATCH_4})
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

# ---- Debug identifiers, symbols, stripping: every program of this folder ----------
# (tools/demo_game and tools/bugreport name their own programs.)
orlix_all_program_symbols(${CMAKE_CURRENT_SOURCE_DIR})
