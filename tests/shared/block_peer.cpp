// A second process on the shared feedback block, for the tests:
//   block_peer write         sets a known pattern of values and statuses
//   block_peer check         exits 0 when the block holds that pattern
//   block_peer zero          exits 0 when the block is all zero
//   block_peer hold SECONDS  keeps the block mapped for a while
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "telvaris.h"

namespace {

int fail(const char* what, int index) {
  std::fprintf(stderr, "block_peer: %s differs at %d\n", what, index);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  double amplitudes[256], thresholds[256];
  int32_t modalities[256];
  if (command == "write") {
    for (int i = 0; i < 256; ++i) {
      amplitudes[i] = i * 1.5;
      thresholds[i] = 1000.0 - i;
      modalities[i] = i * 3;
    }
    tlAPISetFeedbackValues(amplitudes, thresholds, modalities);
    tlAPISetSystemStatus(7);
    tlAPISetFeedbackStatus(2);
    tlAPISetLumiDropStatus(-12345);
    return 0;
  }
  if (command == "check" || command == "zero") {
    const bool zero = command == "zero";
    std::memset(amplitudes, 0, sizeof amplitudes);
    std::memset(thresholds, 0, sizeof thresholds);
    std::memset(modalities, 0, sizeof modalities);
    tlAPIGetAmplitudeValues(amplitudes);
    tlAPIGetThresholdValues(thresholds);
    tlAPIGetModalityValues(modalities);
    for (int i = 1; i < 255; ++i) {
      if (amplitudes[i] != (zero ? 0.0 : i * 1.5)) return fail("amplitude", i);
      if (thresholds[i] != (zero ? 0.0 : 1000.0 - i)) return fail("threshold", i);
      if (modalities[i] != (zero ? 0 : i * 3)) return fail("modality", i);
    }
    if (tlAPIGetSystemStatus() != (zero ? 0 : 7)) return fail("system status", 0);
    if (tlAPIGetFeedbackStatus() != (zero ? 0 : 2)) return fail("feedback status", 0);
    if (tlAPIGetLumiDropStatus() != (zero ? 0 : -12345)) return fail("lumidrop status", 0);
    return 0;
  }
  if (command == "hold" && argc > 2) {
    tlAPIGetSystemStatus();
    std::printf("holding\n");
    std::fflush(stdout);
    sleep(static_cast<unsigned>(std::atoi(argv[2])));
    return 0;
  }
  return 2;
}
