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
