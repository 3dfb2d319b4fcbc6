# Shared part of the mingw-w64 toolchain files: TELVARIS_MINGW_TRIPLET names
# the target (x86_64-w64-mingw32 or i686-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${TELVARIS_MINGW_TRIPLET})
set(CMAKE_C_COMPILER ${TELVARIS_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TELVARIS_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TELVARIS_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TELVARIS_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# Programs built here run under wine64 when it is there (64-bit only: this
# machine runs no 32-bit code); tests and test discovery go through it.
if(TELVARIS_MINGW_TRIPLET STREQUAL "x86_64-w64-mingw32")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine.sh)
endif()
