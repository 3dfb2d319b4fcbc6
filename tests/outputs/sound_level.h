// What a private sound server's sink plays, heard through its monitor with
// parec (the outside peer): the level of a short stretch in dBFS.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/pulse_server.h"

namespace outputs_test {

constexpr double kSilentDb = -200;  // digital silence

// Records `ms` milliseconds of `sink`'s monitor (mono, 16 bits, 44.1 kHz)
// and returns their RMS level in dBFS; kSilentDb for pure zeros, and for a
// recording that failed (the caller's check for sound then fails too).
inline double monitorDb(const fixtures::PulseServer& pulse, const std::string& sink, int ms) {
  const long bytes = 44100L * ms / 1000 * 2;
  const std::string command = "PULSE_SERVER='" + pulse.address() + "' parec -d " + sink +
                              ".monitor --raw --format=s16le --rate=44100 --channels=1 --latency-msec=20 2>/dev/null"
                              " | head -c " +
                              std::to_string(bytes);
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return kSilentDb;
  std::vector<int16_t> samples(static_cast<size_t>(bytes / 2));
  const size_t got = std::fread(samples.data(), 2, samples.size(), pipe);
  pclose(pipe);
  double sum = 0;
  for (size_t i = 0; i < got; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  if (got == 0 || sum == 0) return kSilentDb;
  return 20 * std::log10(std::sqrt(sum / static_cast<double>(got)) / 32768.0);
}

}  // namespace outputs_test
