#include <windows.h>

#include <atomic>

#include "platform/process.h"

namespace platform {

OsVersion osVersion(bool) {
  OsVersion v;
  OSVERSIONINFOA info {};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return v;
  v.queried = true;
  v.platformId = static_cast<int>(info.dwPlatformId);
  v.major = static_cast<int>(info.dwMajorVersion);
  v.minor = static_cast<int>(info.dwMinorVersion);
  return v;
}

namespace {

// Touched by the console's handler thread: a lock-free word made before any
// request can come.
std::atomic<int> pendingRequests {0};

BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      pendingRequests.fetch_add(1, std::memory_order_relaxed);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void catchTerminationRequests() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool takeTerminationRequest() {
  int pending = pendingRequests.load(std::memory_order_relaxed);
  while (pending > 0) {
    if (pendingRequests.compare_exchange_weak(pending, pending - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

}  // namespace platform
