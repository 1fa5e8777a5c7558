# Shared part of the mingw-w64 toolchain files: compilers, widl and the Wine emulator.
set(CMAKE_C_COMPILER ${ZV_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_TRIPLET}-windres)
set(ZV_WIDL ${ZV_TRIPLET}-widl CACHE STRING "IDL compiler")
set(CMAKE_FIND_ROOT_PATH /usr/${ZV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every Windows program the build or ctest starts goes through Wine in the build's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine_run.sh)
