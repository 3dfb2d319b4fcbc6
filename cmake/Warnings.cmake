add_library(tl_warnings INTERFACE)
if(MSVC)
  target_compile_options(tl_warnings INTERFACE /W4)
else()
  target_compile_options(tl_warnings INTERFACE -Wall -Wextra -Wshadow -Wno-unused-parameter)
endif()
# gcc 12 at -O3 reports overlapping copies inside std::string's own
# operator+ (a known false positive of that compiler in char_traits::copy).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(tl_warnings INTERFACE -Wno-restrict)
endif()
