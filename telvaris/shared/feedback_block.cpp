#include "shared/feedback_block.h"

#include <array>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dsu/transfer_mode.h"
#include "platform/bstr.h"
#include "platform/paths.h"
#include "platform/shared_memory.h"
#include "telvaris.h"

namespace shared {
namespace {

// Channel values are copied element by element with relaxed atomic access:
// a reader may see some channels old and some new, never a torn value.
template <typename T>
void storeValue(T& slot, T value) {
  std::atomic_ref<T>(slot).store(value, std::memory_order_relaxed);
}
template <typename T>
T loadValue(T& slot) {
  return std::atomic_ref<T>(slot).load(std::memory_order_relaxed);
}

struct Mapping {
  platform::SharedMemory memory;
  SharedFeedbackBlock* block = nullptr;
};

Mapping& mapping() {
  static Mapping m;
  static std::once_flag once;
  std::call_once(once, [] {
    // One block per user and root: a root stands for one machine's drive C:.
    const std::string root = platform::telvarisRoot();
    const std::string name = "telvaris-feedback-" + std::to_string(std::hash<std::string> {}(root) & 0xFFFFFFFFu);
    if (m.memory.open(name, sizeof(SharedFeedbackBlock))) m.block = static_cast<SharedFeedbackBlock*>(m.memory.data());
  });
  return m;
}

// The callback table is the process's own.
using Callback = void(TLV_CALL*)(uint16_t*);
std::mutex g_callbackMutex;
std::array<Callback, 7> g_callbacks {};

// Strings handed to callbacks stay valid for the life of the process (a
// callback may keep one); they are released when the library unloads.
struct HandedStrings {
  std::vector<platform::Bstr> strings;
  ~HandedStrings() {
    for (auto s : strings) platform::freeBstr(s);
  }
};
HandedStrings g_handed;

void appendToCallbackLog(const char* text) {
  FILE* f = std::fopen(platform::mapPath(kCallbackLog).c_str(), "a");
  if (!f) return;  // no folder for the log: the callback still works
  std::fputs(text, f);
  std::fclose(f);
}

int32_t invoke(size_t slot) {
  Callback callback;
  {
    std::lock_guard lock(g_callbackMutex);
    callback = g_callbacks[slot];
  }
  if (!callback) return -1;
  appendToCallbackLog("CALLBACK!\n");
  platform::Bstr text = platform::allocBstr(u"Callback from DLL");
  if (!text) return -1;
  {
    std::lock_guard lock(g_callbackMutex);
    g_handed.strings.push_back(text);
  }
  callback(text);
  return 0;
}

}  // namespace

SharedFeedbackBlock* block() { return mapping().block; }

}  // namespace shared

// ---- exports ------------------------------------------------------------

extern "C" {

using shared::block;
using shared::kChannels;

TLV_API int32_t TLV_CALL tlAPISetSystemStatus(int32_t status) {
  if (auto* b = block()) b->systemStatus = status;
  return 0;
}

TLV_API int32_t TLV_CALL tlAPIGetSystemStatus(void) {
  auto* b = block();
  return b ? b->systemStatus.load() : 0;
}

TLV_API int32_t TLV_CALL tlAPISetFeedbackStatus(int32_t status) {
  const dsu::TransferSettings road = dsu::transferSettings();
  if (road.mode == dsu::kMqtt) {
    // The decision goes to the relay service instead of the block.
    if (status == 1) publishToMQTTConnectionWithLength(road.publishTopic.c_str(), "inhibit", 7);
    if (status == 2) publishToMQTTConnectionWithLength(road.publishTopic.c_str(), "reward", 6);
    return 0;
  }
  if (auto* b = block()) b->feedbackStatus = status;
  return 0;
}

TLV_API int32_t TLV_CALL tlAPIGetFeedbackStatus(void) {
  auto* b = block();
  return b ? b->feedbackStatus.load() : 0;
}

TLV_API int32_t TLV_CALL tlAPISetFeedbackValues(const double* amplitudes, const double* thresholds,
                                                const int32_t* modalities) {
  auto* b = block();
  if (!b) return 0;
  for (int i = 0; i < kChannels; ++i) {
    if (amplitudes) shared::storeValue(b->amplitudeValues[i], amplitudes[i]);
    if (thresholds) shared::storeValue(b->thresholdValues[i], thresholds[i]);
    if (modalities) shared::storeValue(b->modalityValues[i], modalities[i]);
  }
  return 0;
}

TLV_API int32_t TLV_CALL tlAPIGetAmplitudeValues(double* amplitudes) {
  auto* b = block();
  if (!b || !amplitudes) return 0;
  for (int i = 1; i <= 255; ++i) amplitudes[i] = shared::loadValue(b->amplitudeValues[i]);
  return 0;
}

TLV_API int32_t TLV_CALL tlAPIGetThresholdValues(double* thresholds) {
  auto* b = block();
  if (!b || !thresholds) return 0;
  for (int i = 1; i <= 254; ++i) thresholds[i] = shared::loadValue(b->thresholdValues[i]);
  return 0;
}

TLV_API int32_t TLV_CALL tlAPIGetModalityValues(int32_t* modalities) {
  auto* b = block();
  if (!b || !modalities) return 0;
  for (int i = 1; i <= 254; ++i) modalities[i] = shared::loadValue(b->modalityValues[i]);
  return 0;
}

TLV_API int32_t TLV_CALL tlAPISetLumiDropStatus(int32_t status) {
  if (auto* b = block()) b->lumidropStatus = status;
  return 0;
}

TLV_API int32_t TLV_CALL tlAPIGetLumiDropStatus(void) {
  auto* b = block();
  return b ? b->lumidropStatus.load() : 0;
}

TLV_API int32_t TLV_CALL tlAPIWriteValues(int32_t count) {
  FILE* f = std::fopen(platform::mapPath(shared::kAmplitudeExport).c_str(), "w");
  if (!f) return -1;
  // The block holds channels up to 255: a larger count stops there.
  const int32_t end = count > kChannels ? kChannels : count;
  auto* b = block();
  for (int32_t i = 1; i < end; ++i) std::fprintf(f, "%10.4f", b ? shared::loadValue(b->amplitudeValues[i]) : 0.0);
  std::fclose(f);
  return 0;
}

TLV_API int32_t TLV_CALL tlAPISetupCallback(uint32_t slot, void(TLV_CALL* callback)(uint16_t*)) {
  shared::appendToCallbackLog("TlAPISetupCallBack\n");
  if (slot < shared::g_callbacks.size()) {
    std::lock_guard lock(shared::g_callbackMutex);
    shared::g_callbacks[slot] = callback;
  }
  return 0;
}

TLV_API int32_t TLV_CALL tlAPIStartRecording(void) { return shared::invoke(0); }
TLV_API int32_t TLV_CALL tlAPIStopRecording(void) { return shared::invoke(1); }
TLV_API int32_t TLV_CALL tlAPIPauseDataTransfer(void) { return shared::invoke(2); }
TLV_API int32_t TLV_CALL tlAPIResumeDataTransfer(void) { return shared::invoke(3); }
TLV_API int32_t TLV_CALL tlAPIStartPlayback(void) { return shared::invoke(4); }
TLV_API int32_t TLV_CALL tlAPIStopPlayback(void) { return shared::invoke(5); }

}  // extern "C"
