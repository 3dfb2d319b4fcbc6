// The feedback state shared by every process of the machine that loads the
// library (one block per user and TELVARIS_ROOT here), and the per-process
// table of remote-control callbacks.
#pragma once

#include <atomic>
#include <cstdint>

namespace shared {

constexpr int kChannels = 256;

// Field order and types as the main application and other readers see them.
// Status words are read and written whole; channel values element by element.
struct SharedFeedbackBlock {
  std::atomic<int32_t> systemStatus;
  std::atomic<int32_t> feedbackStatus;
  double amplitudeValues[kChannels];
  double thresholdValues[kChannels];
  int32_t modalityValues[kChannels];
  std::atomic<int32_t> lumidropStatus;
};
static_assert(std::atomic<int32_t>::is_always_lock_free, "status words must work across processes");

// The block, mapped at first use; nullptr when the system refused it.
SharedFeedbackBlock* block();

// The callback log, "c:\telvaris\callback.txt".
constexpr const char* kCallbackLog = "c:\\telvaris\\callback.txt";
// The amplitude export, "c:\telvaris\export\datachan.txt".
constexpr const char* kAmplitudeExport = "c:\\telvaris\\export\\datachan.txt";

}  // namespace shared
