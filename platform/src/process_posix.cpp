#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"

namespace platform {

OsVersion osVersion() {
  OsVersion v;
  v.queried = true;
  v.platformId = 2;
  v.major = 6;
  v.minor = 1;
  if (const char* legacy = std::getenv("LUMIDROP_LEGACY_AUDIO"); legacy && std::strcmp(legacy, "1") == 0) {
    v.major = 5;
  }
  return v;
}

namespace {

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
