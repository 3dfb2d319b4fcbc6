# One sanitizer set per build tree: the test command builds a tree for each.
if(TELVARIS_SANITIZE STREQUAL "address")
  # gcc 12 misreads libstdc++ internals under ASan as maybe-uninitialized.
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
                      -Wno-maybe-uninitialized)
  add_link_options(-fsanitize=address,undefined)
elseif(TELVARIS_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TELVARIS_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TELVARIS_SANITIZE must be empty, 'address' or 'thread'")
endif()

# The fuzz tree (TELVARIS_FUZZ): every object carries libFuzzer's coverage
# instrumentation with AddressSanitizer and UndefinedBehaviorSanitizer, so a
# fault deep in the library shows as a crash of the fuzz target; the targets
# themselves link libFuzzer (tests/fuzz/targets.cmake). Clang only.
if(TELVARIS_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TELVARIS_FUZZ needs clang: -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(NOT TELVARIS_SANITIZE STREQUAL "")
    message(FATAL_ERROR "TELVARIS_FUZZ brings its own sanitizers: leave TELVARIS_SANITIZE empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
