#include "shared/feedback_block.h"

#include <array>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "boundary.h"
#include "dsu/transfer_mode.h"
#include "net/mqtt_link.h"
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

// The remote-control callbacks are the process's own.
struct Callbacks {
  std::mutex mutex;
  std::array<Callback, kCallbackSlots> slots {};
  // Strings handed to callbacks stay valid for the life of the process (a
  // callback may keep one); they are released when the library unloads.
  std::vector<platform::Bstr> handed;
  ~Callbacks() {
    for (auto text : handed) platform::freeBstr(text);
  }
};

Callbacks& callbacks() {
  static Callbacks c;
  return c;
}

// Best effort: without a folder for the log, or memory for its path, the
// callback still works.
void appendToCallbackLog(const char* text) noexcept {
  FILE* f = nullptr;
  try {
    f = std::fopen(platform::mapPath(kCallbackLog).c_str(), "a");
  } catch (...) {
  }
  if (!f) return;
  std::fputs(text, f);
  std::fclose(f);
}

}  // namespace

SharedFeedbackBlock* block() noexcept {
  try {
    return mapping().block;
  } catch (...) {
    return nullptr;  // no memory to name the block: the next call tries again
  }
}

void setSystemStatus(int32_t status) {
  if (auto* b = block()) b->systemStatus = status;
}

int32_t systemStatus() {
  auto* b = block();
  return b ? b->systemStatus.load() : 0;
}

int32_t setFeedbackStatus(int32_t status) {
  if (dsu::transferMode() == dsu::kMqtt) {
    // The decision goes to the relay service instead of the block.
    const std::string topic = dsu::transferSettings().publishTopic;
    if (status == 1) net::mqtt::publishBytes(topic.c_str(), "inhibit", 7);
    if (status == 2) net::mqtt::publishBytes(topic.c_str(), "reward", 6);
    return TLV_BLOCK_OK;
  }
  if (auto* b = block()) b->feedbackStatus = status;
  return TLV_BLOCK_OK;
}

int32_t feedbackStatus() {
  auto* b = block();
  return b ? b->feedbackStatus.load() : 0;
}

void setFeedbackValues(const double* amplitudes, const double* thresholds, const int32_t* modalities) {
  auto* b = block();
  if (!b) return;
  for (int i = 0; i < kChannels; ++i) {
    if (amplitudes) storeValue(b->amplitudeValues[i], amplitudes[i]);
    if (thresholds) storeValue(b->thresholdValues[i], thresholds[i]);
    if (modalities) storeValue(b->modalityValues[i], modalities[i]);
  }
}

void amplitudeValues(double* out) {
  auto* b = block();
  if (!b || !out) return;
  for (int i = 1; i <= 255; ++i) out[i] = loadValue(b->amplitudeValues[i]);
}

void thresholdValues(double* out) {
  auto* b = block();
  if (!b || !out) return;
  for (int i = 1; i <= 254; ++i) out[i] = loadValue(b->thresholdValues[i]);
}

void modalityValues(int32_t* out) {
  auto* b = block();
  if (!b || !out) return;
  for (int i = 1; i <= 254; ++i) out[i] = loadValue(b->modalityValues[i]);
}

void setLumidropStatus(int32_t status) {
  if (auto* b = block()) b->lumidropStatus = status;
}

int32_t lumidropStatus() {
  auto* b = block();
  return b ? b->lumidropStatus.load() : 0;
}

int32_t writeAmplitudes(int32_t count) {
  FILE* f = std::fopen(platform::mapPath(kAmplitudeExport).c_str(), "w");
  if (!f) return TLV_BLOCK_CANNOT_WRITE;
  // The block holds channels up to 255: a larger count stops there.
  const int32_t end = count > kChannels ? kChannels : count;
  auto* b = block();
  for (int32_t i = 1; i < end; ++i) std::fprintf(f, "%10.4f", b ? loadValue(b->amplitudeValues[i]) : 0.0);
  std::fclose(f);
  return TLV_BLOCK_OK;
}

void setupCallback(uint32_t slot, Callback callback) noexcept {
  appendToCallbackLog("TlAPISetupCallBack\n");
  Callbacks& c = callbacks();
  if (slot >= c.slots.size()) return;
  std::lock_guard lock(c.mutex);
  c.slots[slot] = callback;
}

int32_t invoke(uint32_t slot) noexcept {
  Callbacks& c = callbacks();
  Callback callback;
  {
    std::lock_guard lock(c.mutex);
    callback = c.slots[slot];
  }
  if (!callback) return TLV_BLOCK_NO_CALLBACK;
  appendToCallbackLog("CALLBACK!\n");
  platform::Bstr text = platform::allocBstr(u"Callback from DLL");
  if (!text) return TLV_BLOCK_NO_CALLBACK;
  try {
    std::lock_guard lock(c.mutex);
    c.handed.push_back(text);
  } catch (...) {
    platform::freeBstr(text);  // no room to keep it valid: the callback is not called
    return TLV_BLOCK_NO_CALLBACK;
  }
  callback(text);
  return TLV_BLOCK_OK;
}

}  // namespace shared

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL tlAPISetSystemStatus(int32_t status) {
  shared::setSystemStatus(status);
  return TLV_BLOCK_OK;
}

TLV_API int32_t TLV_CALL tlAPIGetSystemStatus(void) { return shared::systemStatus(); }

TLV_API int32_t TLV_CALL tlAPISetFeedbackStatus(int32_t status) {
  // Under memory exhaustion the decision is lost; the host goes on.
  return telvaris::atBoundary(int32_t {TLV_BLOCK_OK}, [&] { return shared::setFeedbackStatus(status); });
}

TLV_API int32_t TLV_CALL tlAPIGetFeedbackStatus(void) { return shared::feedbackStatus(); }

TLV_API int32_t TLV_CALL tlAPISetFeedbackValues(const double* amplitudes, const double* thresholds,
                                                const int32_t* modalities) {
  shared::setFeedbackValues(amplitudes, thresholds, modalities);
  return TLV_BLOCK_OK;
}

TLV_API int32_t TLV_CALL tlAPIGetAmplitudeValues(double* amplitudes) {
  shared::amplitudeValues(amplitudes);
  return TLV_BLOCK_OK;
}

TLV_API int32_t TLV_CALL tlAPIGetThresholdValues(double* thresholds) {
  shared::thresholdValues(thresholds);
  return TLV_BLOCK_OK;
}

TLV_API int32_t TLV_CALL tlAPIGetModalityValues(int32_t* modalities) {
  shared::modalityValues(modalities);
  return TLV_BLOCK_OK;
}

TLV_API int32_t TLV_CALL tlAPISetLumiDropStatus(int32_t status) {
  shared::setLumidropStatus(status);
  return TLV_BLOCK_OK;
}

TLV_API int32_t TLV_CALL tlAPIGetLumiDropStatus(void) { return shared::lumidropStatus(); }

TLV_API int32_t TLV_CALL tlAPIWriteValues(int32_t count) {
  return telvaris::atBoundary(int32_t {TLV_BLOCK_CANNOT_WRITE}, [&] { return shared::writeAmplitudes(count); });
}

TLV_API int32_t TLV_CALL tlAPISetupCallback(uint32_t slot, void(TLV_CALL* callback)(uint16_t* text)) {
  shared::setupCallback(slot, callback);
  return TLV_BLOCK_OK;
}

TLV_API int32_t TLV_CALL tlAPIStartRecording(void) { return shared::invoke(0); }
TLV_API int32_t TLV_CALL tlAPIStopRecording(void) { return shared::invoke(1); }
TLV_API int32_t TLV_CALL tlAPIPauseDataTransfer(void) { return shared::invoke(2); }
TLV_API int32_t TLV_CALL tlAPIResumeDataTransfer(void) { return shared::invoke(3); }
TLV_API int32_t TLV_CALL tlAPIStartPlayback(void) { return shared::invoke(4); }
TLV_API int32_t TLV_CALL tlAPIStopPlayback(void) { return shared::invoke(5); }

}  // extern "C"
