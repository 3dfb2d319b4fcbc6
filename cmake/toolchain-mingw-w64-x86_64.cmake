# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# which gives std::thread and std::mutex).
set(TELVARIS_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
