# Debug identifiers and symbols for every Windows program of the tree.
#
# Each program is linked with a CodeView debug directory entry (RSDS): ld's
# --pdb names the record after the program (NAME.pdb) and fills its GUID from
# the build id, a hash of the linked image, so it is the same for one build
# and changes with every change of the code. A crash dump carries that record
# for each module, and a symbol store files symbols under it.
#
# The compiler writes DWARF (-g) into the linked program; after the link the
# program's Breakpad symbols go to symbols/NAME.pdb/DEBUGID/NAME.sym in the
# build tree (tools/symbols/dump_pe_syms.py), and the program is stripped:
# players get no debug information.
find_program(ORLIX_SYMBOLS_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
find_program(ORLIX_STRIP NAMES ${MINGW_TRIPLE}-strip REQUIRED)
set(ORLIX_SYMBOL_STORE ${CMAKE_BINARY_DIR}/symbols)
set(ORLIX_DUMP_SYMS ${ORLIX_ROOT}/tools/symbols/dump_pe_syms.py)

# orlix_program_symbols(<target>...): the debug record, the symbols and the
# strip for each program.
function(orlix_program_symbols)
  foreach(target IN LISTS ARGN)
    get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
    if(NOT dir)
      set(dir ${CMAKE_BINARY_DIR})
    endif()
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
      set(name ${target})
    endif()
    # ld writes the (empty) PDB it names beside the program and only the
    # file's base name into the record.
    target_link_options(${target} PRIVATE -Wl,--pdb=${dir}/${name}.pdb)
    if(EXISTS ${ORLIX_DUMP_SYMS})
      # Stripping rewrites the image (a new time stamp, a smaller size), so
      # the symbols are read from an unstripped copy and take the shipped
      # file's identity; the CodeView record is the same in both.
      set(unstripped ${dir}/${name}.unstripped)
      add_custom_command(TARGET ${target} POST_BUILD
          COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${unstripped}
          COMMAND ${ORLIX_STRIP} --strip-all $<TARGET_FILE:${target}>
          COMMAND ${ORLIX_SYMBOLS_PYTHON} ${ORLIX_DUMP_SYMS} --store ${ORLIX_SYMBOL_STORE}
                  --code-file $<TARGET_FILE:${target}> ${unstripped}
          COMMAND ${CMAKE_COMMAND} -E rm -f ${unstripped} ${dir}/${name}.pdb
          VERBATIM)
    endif()
  endforeach()
endfunction()

# Every program defined so far in the given source directories. A program's
# post-build step must be added in the folder that defines it.
function(orlix_all_program_symbols)
  foreach(dir IN LISTS ARGN)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "EXECUTABLE")
        orlix_program_symbols(${target})
      endif()
    endforeach()
  endforeach()
endfunction()
