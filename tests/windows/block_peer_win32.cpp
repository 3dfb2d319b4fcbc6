// One process of the shared-block test under wine: loads telvaris.dll and
//   block_peer fresh           exits 0 when the block reads all zero;
//   block_peer write N MARKER  fills the block for N, says "written", and
//                              keeps the library loaded until MARKER exists;
//   block_peer read N          exits 0 when the block holds what write N put.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/dynlib.h"
#include "telvaris.h"

namespace {

struct Block {
  decltype(&::tlAPISetSystemStatus) setSystemStatus;
  decltype(&::tlAPIGetSystemStatus) systemStatus;
  decltype(&::tlAPISetFeedbackStatus) setFeedbackStatus;
  decltype(&::tlAPIGetFeedbackStatus) feedbackStatus;
  decltype(&::tlAPISetFeedbackValues) setValues;
  decltype(&::tlAPIGetAmplitudeValues) amplitudes;
  decltype(&::tlAPIGetThresholdValues) thresholds;
  decltype(&::tlAPIGetModalityValues) modalities;
  decltype(&::tlAPISetLumiDropStatus) setLumidrop;
  decltype(&::tlAPIGetLumiDropStatus) lumidrop;
};

int fail(const std::string& what) {
  std::printf("%s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  const int n = argc > 2 ? std::atoi(argv[2]) : 0;
  platform::DynamicLibrary lib;
  if (!lib.open("telvaris.dll")) return fail(lib.error());
  Block b {lib.function<decltype(&::tlAPISetSystemStatus)>("tlAPISetSystemStatus"),
           lib.function<decltype(&::tlAPIGetSystemStatus)>("tlAPIGetSystemStatus"),
           lib.function<decltype(&::tlAPISetFeedbackStatus)>("tlAPISetFeedbackStatus"),
           lib.function<decltype(&::tlAPIGetFeedbackStatus)>("tlAPIGetFeedbackStatus"),
           lib.function<decltype(&::tlAPISetFeedbackValues)>("tlAPISetFeedbackValues"),
           lib.function<decltype(&::tlAPIGetAmplitudeValues)>("tlAPIGetAmplitudeValues"),
           lib.function<decltype(&::tlAPIGetThresholdValues)>("tlAPIGetThresholdValues"),
           lib.function<decltype(&::tlAPIGetModalityValues)>("tlAPIGetModalityValues"),
           lib.function<decltype(&::tlAPISetLumiDropStatus)>("tlAPISetLumiDropStatus"),
           lib.function<decltype(&::tlAPIGetLumiDropStatus)>("tlAPIGetLumiDropStatus")};
  if (!b.lumidrop) return fail("an export is missing");

  double amplitudes[256], thresholds[256];
  int32_t modalities[256];
  if (mode == "write") {
    for (int i = 0; i < 256; ++i) {
      amplitudes[i] = n + i + 0.25;
      thresholds[i] = -i - n;
      modalities[i] = i * 3 + n;
    }
    b.setSystemStatus(n);
    b.setFeedbackStatus(2);
    b.setValues(amplitudes, thresholds, modalities);
    b.setLumidrop(n + 1);
    std::printf("written\n");
    std::fflush(stdout);
    for (int i = 0; i < 6000 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
    return 0;
  }
  for (int i = 0; i < 256; ++i) amplitudes[i] = thresholds[i] = -1, modalities[i] = -1;
  b.amplitudes(amplitudes);
  b.thresholds(thresholds);
  b.modalities(modalities);
  const bool fresh = mode == "fresh";
  if (b.systemStatus() != (fresh ? 0 : n)) return fail("system status " + std::to_string(b.systemStatus()));
  if (b.feedbackStatus() != (fresh ? 0 : 2)) return fail("feedback status " + std::to_string(b.feedbackStatus()));
  if (b.lumidrop() != (fresh ? 0 : n + 1)) return fail("lumidrop status " + std::to_string(b.lumidrop()));
  for (int i = 1; i <= 254; ++i) {
    if (amplitudes[i] != (fresh ? 0.0 : n + i + 0.25) || thresholds[i] != (fresh ? 0.0 : -i - n) ||
        modalities[i] != (fresh ? 0 : i * 3 + n)) {
      return fail("channel " + std::to_string(i) + " differs");
    }
  }
  std::printf("%s block as expected\n", mode.c_str());
  return 0;
}
