# libFuzzer targets, one per parser of bytes that come from outside (a
# file, a message, a caller's text, a serial line). Built in a tree of their
# own with TELVARIS_FUZZ (cmake/Sanitizers.cmake); scripts/fuzz.sh builds
# and runs them. Seed inputs are in tests/fuzz/<target>/seeds, inputs that
# once crashed a target in tests/fuzz/<target>/regressions.
add_custom_target(fuzzers)

# tl_add_fuzzer(NAME LIBS ...): fuzz_NAME from tests/fuzz/fuzz_NAME.cpp.
function(tl_add_fuzzer name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(fuzz_${name} ${CMAKE_CURRENT_LIST_DIR}/fuzz_${name}.cpp)
  target_link_libraries(fuzz_${name} PRIVATE tl_warnings ${F_LIBS})
  target_include_directories(fuzz_${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_dependencies(fuzzers fuzz_${name})
endfunction()

tl_add_fuzzer(settings_file LIBS lumidrop_settings)
tl_add_fuzzer(feedback_decision LIBS telvaris_static)
tl_add_fuzzer(filter_gen LIBS telvaris_static)
tl_add_fuzzer(session_file LIBS telvaris_static)
tl_add_fuzzer(transfer_mode LIBS telvaris_static)
tl_add_fuzzer(mci_command LIBS tlplatform)
tl_add_fuzzer(dsu_sim_commands LIBS tl_dsusim)
