#include "dsu/stop_token.h"

#include <chrono>

namespace dsu {

void StopToken::request() {
  {
    // Under the lock, so a waiter between its check and its wait cannot miss it.
    std::lock_guard lock(mutex_);
    requested_ = true;
  }
  wake_.notify_all();
}

void StopToken::reset() {
  std::lock_guard lock(mutex_);
  requested_ = false;
}

bool StopToken::sleepFor(uint32_t ms) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return requested_.load(); });
}

StopToken& StopToken::never() {
  static StopToken token;
  return token;
}

StopToken& sessionStop() {
  static StopToken token;
  return token;
}

}  // namespace dsu
