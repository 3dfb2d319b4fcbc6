# Signal processing: filter design, band filters, the notch block buffer,
# coherence with the library's own FFT, statistics and RR intervals.
target_sources(telvaris_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/band_filters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/coherence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fft.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filter_gen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/notch_block.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rr_interval.cpp
  ${CMAKE_CURRENT_LIST_DIR}/statistics.cpp)
