#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>

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

// Touched by the console's handler thread: lock-free words and plain
// storage made before any request can come.
std::atomic<int> pendingRequests {0};
std::atomic<bool> endAtOnce {false};
char endRemovePath[MAX_PATH * 4];
int endExitCode = 1;

BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (endAtOnce.load(std::memory_order_acquire)) {
        if (endRemovePath[0] != '\0') DeleteFileA(endRemovePath);
        ExitProcess(static_cast<UINT>(endExitCode));
      }
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

EndAtOnceOnTermination::EndAtOnceOnTermination(const std::string& removeFirst, int exitCode) {
  // A path too long for the buffer is not cut short: a shortened name could
  // be another file.
  endRemovePath[0] = '\0';
  if (removeFirst.size() < sizeof endRemovePath) std::memcpy(endRemovePath, removeFirst.c_str(), removeFirst.size() + 1);
  endExitCode = exitCode;
  endAtOnce.store(true, std::memory_order_release);
  if (pendingRequests.load(std::memory_order_relaxed) > 0) {
    if (endRemovePath[0] != '\0') DeleteFileA(endRemovePath);
    ExitProcess(static_cast<UINT>(endExitCode));
  }
}

EndAtOnceOnTermination::~EndAtOnceOnTermination() { endAtOnce.store(false, std::memory_order_release); }

bool readLineUnlessTerminated(std::string& line) {
  line.clear();
  if (takeTerminationRequest() || !std::getline(std::cin, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// No helper process here: a Windows process cannot hand a copy of itself a
// function to run, so start() says none was started and the instructions
// go nowhere.
bool Guardian::start(Orphaned) { return false; }

void Guardian::instruct(const std::string&) {}

void Guardian::release() {}

Guardian::~Guardian() = default;

void setEnvironment(const char* name, const std::string& value) {
  // The process's environment block, and the C runtime's copy of it that
  // getenv reads in every module sharing the runtime.
  SetEnvironmentVariableA(name, value.c_str());
  _putenv_s(name, value.c_str());
}

}  // namespace platform
