# The type library, header and GUIDs compiled from the IDL; the table of functions laid out afterwards.
set(ZV_IDL ${CMAKE_SOURCE_DIR}/src/resources/zorvane.idl)
set(ZV_GENERATED ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${ZV_GENERATED})

# The names the code and the manifest take from the IDL, and the header that hands them to the code.
include(${CMAKE_CURRENT_LIST_DIR}/idl_names.cmake)
zv_read_idl(${ZV_IDL})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZV_IDL})
configure_file(${CMAKE_SOURCE_DIR}/src/resources/zorvane_names.h.in ${ZV_GENERATED}/zorvane_names.h @ONLY)

# The version, from project(... VERSION ...) alone, for the version resource, the type library's description and
# the tests. The version resource's strings have always shown major.minor with the minor in two digits ("1.05").
if(PROJECT_VERSION_MINOR GREATER 99)
  message(FATAL_ERROR "the version resource shows the minor version in two digits: ${PROJECT_VERSION} does not fit")
endif()
string(LENGTH "${PROJECT_VERSION_MINOR}" minor_digits)
if(minor_digits EQUAL 1)
  set(ZV_VERSION_SHORT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(ZV_VERSION_SHORT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
configure_file(${CMAKE_SOURCE_DIR}/src/resources/zorvane_version.h.in ${ZV_GENERATED}/zorvane_version.h @ONLY)

if(CMAKE_CROSSCOMPILING OR NOT MSVC)
  if(NOT ZV_WIDL)
    find_program(ZV_WIDL NAMES widl REQUIRED)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZV_WINE_DLLS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
    set(ZV_WIDL_FLAGS --win64)
  else()
    set(ZV_WINE_DLLS /usr/lib/i386-linux-gnu/wine/i386-windows)
    set(ZV_WIDL_FLAGS --win32)
  endif()
  set(ZV_WIDL_COMMAND ${ZV_WIDL} ${ZV_WIDL_FLAGS} -I${ZV_GENERATED} -I/usr/include/wine/wine/windows -L${ZV_WINE_DLLS})
  # Run beside the IDL and given its bare name, which the generated files repeat: not the build's folder.
  get_filename_component(idl_name ${ZV_IDL} NAME)
  get_filename_component(idl_folder ${ZV_IDL} DIRECTORY)
  add_custom_command(
    OUTPUT ${ZV_GENERATED}/zorvane_idl.h ${ZV_GENERATED}/zorvane_idl_i.c ${ZV_GENERATED}/widl.tlb
    COMMAND ${ZV_WIDL_COMMAND} -h -o ${ZV_GENERATED}/zorvane_idl.h ${idl_name}
    COMMAND ${ZV_WIDL_COMMAND} -u -o ${ZV_GENERATED}/zorvane_idl_i.c ${idl_name}
    COMMAND ${ZV_WIDL_COMMAND} -t -o ${ZV_GENERATED}/widl.tlb ${idl_name}
    DEPENDS ${ZV_IDL} ${ZV_GENERATED}/zorvane_version.h
    WORKING_DIRECTORY ${idl_folder}
    COMMENT "Compiling the IDL with widl")
else()
  # Native Windows build: MIDL from the Windows SDK.
  add_custom_command(
    OUTPUT ${ZV_GENERATED}/zorvane_idl.h ${ZV_GENERATED}/zorvane_idl_i.c ${ZV_GENERATED}/widl.tlb
    COMMAND midl /nologo /I ${ZV_GENERATED} /h zorvane_idl.h /iid zorvane_idl_i.c /tlb widl.tlb /out ${ZV_GENERATED}
            ${ZV_IDL}
    DEPENDS ${ZV_IDL} ${ZV_GENERATED}/zorvane_version.h
    COMMENT "Compiling the IDL with midl")
endif()

# The header for early-bound clients, with _Zorvane's reserved entries declared.
add_custom_command(
  OUTPUT ${ZV_GENERATED}/ZorvaneLib.h
  COMMAND ${CMAKE_COMMAND} -DIN=${ZV_GENERATED}/zorvane_idl.h -DOUT=${ZV_GENERATED}/ZorvaneLib.h
          -P ${CMAKE_SOURCE_DIR}/cmake/early_bound_header.cmake
  DEPENDS ${ZV_GENERATED}/zorvane_idl.h ${CMAKE_SOURCE_DIR}/cmake/early_bound_header.cmake
  COMMENT "Generating ZorvaneLib.h for early-bound clients")

add_custom_target(zorvane_idl DEPENDS ${ZV_GENERATED}/zorvane_idl.h ${ZV_GENERATED}/zorvane_idl_i.c
                                      ${ZV_GENERATED}/ZorvaneLib.h)

# GUIDs and the generated header, for the DLL and for tests.
add_library(zorvane_guids STATIC ${ZV_GENERATED}/zorvane_idl_i.c)
add_dependencies(zorvane_guids zorvane_idl)
target_include_directories(zorvane_guids PUBLIC ${ZV_GENERATED})
