# Cross build for 32-bit Windows, the platform of the library's callers, with
# Debian's mingw-w64 (posix thread model).
set(TELVARIS_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
# SSE2 arithmetic, as the 64-bit build has (the same results, not x87's
# extended precision), and a stack realigned on entry: 32-bit callers only
# promise four-byte alignment.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
