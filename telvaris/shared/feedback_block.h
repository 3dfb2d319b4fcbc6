// The feedback state shared by every process of the machine that loads the
// library (one block per user and TELVARIS_ROOT here), and the per-process
// table of remote-control callbacks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "telvaris.h"

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
SharedFeedbackBlock* block() noexcept;

// The tlAPI operations (telvaris.h, "Shared feedback block"). Getters give 0
// and setters change nothing when there is no block.
void setSystemStatus(int32_t status);
int32_t systemStatus();
// In the MQTT road the decision is published instead of stored. May throw
// std::bad_alloc (the road's settings are copied). TLV_BLOCK_OK.
int32_t setFeedbackStatus(int32_t status);
int32_t feedbackStatus();
void setFeedbackValues(const double* amplitudes, const double* thresholds, const int32_t* modalities);
void amplitudeValues(double* out);   // elements 1..255
void thresholdValues(double* out);   // elements 1..254
void modalityValues(int32_t* out);   // elements 1..254
void setLumidropStatus(int32_t status);
int32_t lumidropStatus();
// The amplitude export; may throw std::bad_alloc.
int32_t writeAmplitudes(int32_t count);

// Remote-control callbacks: slots 0..6 can be set, 0..5 invoked.
using Callback = void(TLV_CALL*)(uint16_t*);
constexpr size_t kCallbackSlots = 7;
void setupCallback(uint32_t slot, Callback callback) noexcept;
int32_t invoke(uint32_t slot) noexcept;

// The callback log, "c:\telvaris\callback.txt".
constexpr const char* kCallbackLog = "c:\\telvaris\\callback.txt";
// The amplitude export, "c:\telvaris\export\datachan.txt".
constexpr const char* kAmplitudeExport = "c:\\telvaris\\export\\datachan.txt";

}  // namespace shared
