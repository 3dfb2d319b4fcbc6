# Feedback outputs: the Procyon AVE device over the serial layer.
target_sources(telvaris_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/procyon.cpp)
