// A second process on the shared feedback block, for the tests:
//   block_peer write         sets a known pattern of values and statuses
//   block_peer check         exits 0 when the block holds that pattern
//   block_peer zero          exits 0 when the block is all zero
//   block_peer hold SECONDS  keeps the block mapped for a while
//   block_peer churn         writes two patterns in turn until killed
//   block_peer torn          exits 0 when every value and status is one
//                            of the two patterns' (a write cut short mixes
//                            them element by element, nothing else)
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

// The two patterns of `churn`: element i of pattern p.
double churnAmplitude(int p, int i) { return p == 0 ? i * 2.0 : -i - 0.75; }
double churnThreshold(int p, int i) { return p == 0 ? 1e6 + i : i / 8.0; }
int32_t churnModality(int p, int i) { return p == 0 ? i : -7 * i - 1; }
int32_t churnStatus(int p) { return p == 0 ? 6 : 8; }

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
  if (command == "churn") {
    double a[2][256], t[2][256];
    int32_t m[2][256];
    for (int p = 0; p < 2; ++p) {
      for (int i = 0; i < 256; ++i) {
        a[p][i] = churnAmplitude(p, i);
        t[p][i] = churnThreshold(p, i);
        m[p][i] = churnModality(p, i);
      }
    }
    for (unsigned long round = 0;; ++round) {
      const int p = static_cast<int>(round % 2);
      tlAPISetSystemStatus(churnStatus(p));
      tlAPISetFeedbackValues(a[p], t[p], m[p]);
      tlAPISetLumiDropStatus(churnStatus(p));
      if (round == 1) {
        std::printf("churning\n");
        std::fflush(stdout);
      }
    }
  }
  if (command == "torn") {
    tlAPIGetAmplitudeValues(amplitudes);
    tlAPIGetThresholdValues(thresholds);
    tlAPIGetModalityValues(modalities);
    for (int i = 1; i < 255; ++i) {
      if (amplitudes[i] != churnAmplitude(0, i) && amplitudes[i] != churnAmplitude(1, i)) return fail("amplitude", i);
      if (thresholds[i] != churnThreshold(0, i) && thresholds[i] != churnThreshold(1, i)) return fail("threshold", i);
      if (modalities[i] != churnModality(0, i) && modalities[i] != churnModality(1, i)) return fail("modality", i);
    }
    const int32_t status = tlAPIGetSystemStatus(), lumidrop = tlAPIGetLumiDropStatus();
    if (status != churnStatus(0) && status != churnStatus(1)) return fail("system status", 0);
    if (lumidrop != churnStatus(0) && lumidrop != churnStatus(1)) return fail("lumidrop status", 0);
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
