# The launcher's code as one static library per folder of src/: the layers.
#
# The layers are declared at the end of this file from the bottom up, and a
# layer may depend only on layers declared before it, so the folders cannot
# form a cycle. A layer's sources see the headers of its own folder and of the
# layers below that it depends on (directly or through them) and nothing
# else: every folder has an include root of its own (layers/<folder>/ in the
# build tree, holding a link named <folder> to src/<folder>), so an #include
# of a folder that is not below fails to compile.
#
# In every folder the *_win.cpp files hold the Win32 glue and every other .cpp
# is pure. The Windows trees build both kinds; the native tree builds only
# the pure files, where there is no windows.h to reach for, and runs their
# GoogleTest cases without Wine.
#
# Expects ORLIX_SYSTEM_LIBS (the Win32 import libraries, empty natively) and
# ORLIX_ZLIB. A layer's target is orlix_<folder>; ORLIX_LAYERS lists the
# folders, bottom first.

set(ORLIX_LAYERS "")

# orlix_layer(<folder> [DEPENDS <folder>...] [LIBS <library>...] [EXCLUDE <file>...])
#   LIBS     libraries outside the launcher that the folder's code calls
#   EXCLUDE  sources of the folder that the library leaves to the executable
function(orlix_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 L "" "" "DEPENDS;LIBS;EXCLUDE")
  foreach(dep IN LISTS L_DEPENDS)
    if(NOT dep IN_LIST ORLIX_LAYERS)
      string(JOIN " " below ${ORLIX_LAYERS})
      message(FATAL_ERROR "src/${folder} cannot depend on src/${dep}: a layer depends only on the layers "
                          "declared before it in cmake/Layers.cmake (${below})")
    endif()
  endforeach()

  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${ORLIX_ROOT}/src/${folder} ${root}/${folder} SYMBOLIC)

  file(GLOB sources CONFIGURE_DEPENDS ${ORLIX_ROOT}/src/${folder}/*.cpp)
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
  endif()
  foreach(file IN LISTS L_EXCLUDE)
    list(REMOVE_ITEM sources ${ORLIX_ROOT}/src/${folder}/${file})
  endforeach()

  set(target orlix_${folder})
  list(TRANSFORM L_DEPENDS PREPEND orlix_ OUTPUT_VARIABLE dep_targets)
  if(sources)
    add_library(${target} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} ${root})
  target_link_libraries(${target} ${scope} ${dep_targets} ${L_LIBS})
  set(ORLIX_LAYERS ${ORLIX_LAYERS} ${folder} PARENT_SCOPE)
endfunction()

# ---- The layers, bottom first ---------------------------------------------------
# Handle ownership, bounded text, MD5, text conversions.
orlix_layer(base LIBS ${ORLIX_SYSTEM_LIBS})
# The executable's resource identifiers.
orlix_layer(resources)
# The product's fixed facts: install layout and path functions, maker settings
# (generated into ORLIX_GENERATED/product), product texts.
orlix_layer(product DEPENDS base)
target_include_directories(orlix_product PUBLIC ${ORLIX_GENERATED})
# Application and window framework (our MFC stand-in).
orlix_layer(app DEPENDS base)
# ZIP reader.
orlix_layer(archive DEPENDS base LIBS ${ORLIX_ZLIB})
# What a published launcher release is: its version key and its signed
# values (pure; namespace update, for the update subsystem and the application
# object that carries an offered release between its steps).
orlix_layer(release DEPENDS product base)
# HTTP transfer client.
orlix_layer(http DEPENDS product base)
# Skinned windows: dialog base, button, progress bar, message box, update window.
orlix_layer(ui DEPENDS http app resources base)
# The application object the subsystems are handed (its start-up is in core).
orlix_layer(appobject DEPENDS release ui app product base)
# Game launch, crash handler, system report, process tools, diagnostic log.
orlix_layer(diagnostics DEPENDS ui product base)
# Statistics, pings, device code.
orlix_layer(telemetry DEPENDS appobject http product base)
# Update check and self-replacement, the update log, signature checks.
orlix_layer(update DEPENDS appobject release diagnostics http product base LIBS ${ORLIX_ZLIB})
# Installation, shortcuts, package deployment, uninstallation.
orlix_layer(deploy DEPENDS appobject telemetry diagnostics archive ui product resources base)
# The start-up sequence and run modes; the entry and theApp go into the
# executable itself (a static library would leave theApp out: nothing refers to it).
orlix_layer(core DEPENDS deploy update telemetry diagnostics appobject ui app product base
            EXCLUDE WinMain_win.cpp TheApp_win.cpp)
