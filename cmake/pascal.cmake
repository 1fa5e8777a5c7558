# Free Pascal programs for Windows, built with Debian's compiler and sources by scripts/fpc_cross.sh (the Windows
# pieces it lacks are made once under ${ZV_FPC_DIR} and kept there), and registered as tests run under Wine.
#
#   zv_add_pascal_test(<name> <source> [LCL] [UNITS <folder>...] [DEPENDS <file or target>...])
#
# builds ${CMAKE_BINARY_DIR}/bin/<name>.exe with the normal build (LCL: an LCL program with LazActiveX), and adds
# the test <name>, which passes when the program exits with 0. UNITS are more folders of units and include files;
# DEPENDS are files or targets the program is built after. tests/pascal is always a folder of units. Where Free
# Pascal or its sources are missing the call does nothing (the configure step says so once).
find_program(ZV_PPCX64 ppcx64)
find_program(ZV_FPCMAKE fpcmake)
set(ZV_FPCSRC /usr/share/fpcsrc/3.2.2 CACHE PATH "Free Pascal's sources (Debian: fpc-source-3.2.2)")
set(ZV_LAZARUS /usr/lib/lazarus/2.2.6 CACHE PATH "Lazarus' sources (Debian: lazarus-src-2.2)")

set(ZV_PASCAL OFF)
set(ZV_PASCAL_LCL OFF)
if(NOT CMAKE_HOST_UNIX)
  message(STATUS "Pascal test programs skipped: they are built by scripts/fpc_cross.sh on Linux")
elseif(NOT ZV_PPCX64 OR NOT ZV_FPCMAKE)
  message(STATUS "Pascal test programs skipped: no Free Pascal compiler (ppcx64) or fpcmake "
                 "(Debian: fp-compiler-3.2.2 fp-utils-3.2.2 fp-units-base-3.2.2)")
elseif(NOT EXISTS ${ZV_FPCSRC}/rtl OR NOT EXISTS ${ZV_FPCSRC}/compiler OR NOT EXISTS ${ZV_FPCSRC}/packages)
  message(STATUS "Pascal test programs skipped: no Free Pascal sources in ${ZV_FPCSRC} (Debian: fpc-source-3.2.2)")
else()
  set(ZV_PASCAL ON)
  if(EXISTS ${ZV_LAZARUS}/lcl AND EXISTS ${ZV_LAZARUS}/components/activex)
    set(ZV_PASCAL_LCL ON)
  else()
    message(STATUS "Lazarus test programs skipped: no Lazarus sources in ${ZV_LAZARUS} (Debian: lazarus-src-2.2)")
  endif()
endif()

if(ZV_PASCAL)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZV_FPC_CPU x86_64)
  else()
    set(ZV_FPC_CPU i386)
  endif()
  set(ZV_FPC_DIR ${CMAKE_BINARY_DIR}/fpc)
  set(ZV_FPC_SCRIPT ${CMAKE_COMMAND} -E env ZV_FPCSRC=${ZV_FPCSRC} ZV_LAZARUS=${ZV_LAZARUS} ZV_PPCX64=${ZV_PPCX64}
                    ${CMAKE_SOURCE_DIR}/scripts/fpc_cross.sh)
  add_custom_command(
    OUTPUT ${ZV_FPC_DIR}/ready
    COMMAND ${ZV_FPC_SCRIPT} pieces ${ZV_FPC_CPU} ${ZV_FPC_DIR}
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/fpc_cross.sh
    COMMENT "Free Pascal: the ${ZV_FPC_CPU} Windows pieces (once per build tree)"
    VERBATIM)
  add_custom_target(zv_fpc_pieces DEPENDS ${ZV_FPC_DIR}/ready)
  # The units of tests/pascal that every program may use.
  set(ZV_PASCAL_UNITS ${CMAKE_SOURCE_DIR}/tests/pascal/zv_checks.pas)
endif()

function(zv_add_pascal_test name source)
  cmake_parse_arguments(PARSE_ARGV 2 arg "LCL" "" "UNITS;DEPENDS")
  if(NOT ZV_PASCAL OR (arg_LCL AND NOT ZV_PASCAL_LCL))
    return()
  endif()
  get_filename_component(source ${source} ABSOLUTE)
  set(program ${CMAKE_BINARY_DIR}/bin/${name}.exe)
  set(options --units ${CMAKE_SOURCE_DIR}/tests/pascal)
  foreach(folder IN LISTS arg_UNITS)
    list(APPEND options --units ${folder})
  endforeach()
  if(arg_LCL)
    list(APPEND options --lcl)
  endif()
  add_custom_command(
    OUTPUT ${program}
    COMMAND ${ZV_FPC_SCRIPT} compile ${ZV_FPC_CPU} ${ZV_FPC_DIR} ${program} ${source} ${options}
    DEPENDS ${source} ${ZV_PASCAL_UNITS} ${ZV_FPC_DIR}/ready ${arg_DEPENDS}
    COMMENT "Free Pascal: ${name}.exe"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${program})
  add_dependencies(${name} zv_fpc_pieces)
  if(ZV_CAN_RUN AND CMAKE_CROSSCOMPILING)
    # In the run's prefix, with the OCX registered and the private Xvfb.
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine_run.sh ${ZV_WINE_ARCH} ${ZV_WINE_DIR} ${program})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 60)
  endif()
endfunction()
