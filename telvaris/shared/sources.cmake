# The feedback block shared by every process that loads the library.
target_sources(telvaris_objects PRIVATE ${CMAKE_CURRENT_LIST_DIR}/feedback_block.cpp)
