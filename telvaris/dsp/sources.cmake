# Signal processing: filter design, band filters, the notch block buffer,
# coherence with the library's own FFT, statistics and RR intervals.
target_sources(telvaris_objects PRIVATE
  dsp/band_filters.cpp
  dsp/coherence.cpp
  dsp/fft.cpp
  dsp/filter_gen.cpp
  dsp/notch_block.cpp
  dsp/rr_interval.cpp
  dsp/statistics.cpp)
