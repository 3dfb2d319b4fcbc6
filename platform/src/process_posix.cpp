#include <signal.h>

#include <atomic>

#include "platform/process.h"

namespace platform {

OsVersion osVersion(bool olderSystem) {
  OsVersion v;
  v.queried = true;
  v.platformId = 2;
  v.major = olderSystem ? 5 : 6;
  v.minor = 1;
  return v;
}

namespace {

// Touched by the signal handler, so a lock-free word made before any signal
// can come rather than a function-local static made at first use.
std::atomic<int> pendingRequests{0};

extern "C" void onTerminationSignal(int) { pendingRequests.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

void catchTerminationRequests() {
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool takeTerminationRequest() {
  int pending = pendingRequests.load(std::memory_order_relaxed);
  while (pending > 0) {
    if (pendingRequests.compare_exchange_weak(pending, pending - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

}  // namespace platform
