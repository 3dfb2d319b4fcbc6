# Numbered serial ports over the platform's serial devices, with result
# codes and texts, and the checksums the serial protocols use.
target_sources(telvaris_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/comports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/checksums.cpp)
