# DSU acquisition: the debug log and version, and the data roads.
target_sources(telvaris_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/debug_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transfer_mode.cpp)
