// The DSU session's state: one session per process, shared by the session
// operations (session.cpp), the packet read-out (p3_decoder.cpp) and
// recording (recording.cpp).
//
// Two threads touch it: the caller's (every export, one call at a time)
// and the session's read thread. Words both use are atomic. Main storage,
// the monitor storage and the positions into them are changed by the read
// thread only under storageMutex, which it holds while it appends and
// decodes (never while it waits for data or sleeps); MonitorMode takes the
// same lock, so a switch falls between two reads. Storage is allocated by
// the read thread (or LoadSession) and released only on the caller's thread
// while no read thread runs.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "dsu/p3_decoder.h"
#include "platform/module_thread.h"

namespace dsu {

enum Instruction : int32_t { kRun = 0, kTerminate = 1, kPause = 2 };

enum Status : int32_t {
  kSystemOk = 0,
  kWaitingForDsu = 1,
  kEndOfMemory = 2,
  kAllocationFailure = 3,
  kSerialPortFailure = 4,
  kCloseDownComplete = 5,
  kAllocatingMemory = 6,
  kInitialisingDsu = 7,
  kDsuPaused = 8,
  kWaitingForData = 9,
};

// Each read lands here first; also the receive queue asked of the serial layer.
constexpr int32_t kReceiveBufferSize = 430080;
constexpr int32_t kMonitorStorageSize = 12902400;
// Recording length: bytes and packets a minute (256 packets a second of 14 bytes).
constexpr int32_t kBytesPerMinute = 215040;
constexpr int32_t kPacketsPerMinute = 15360;
constexpr int32_t kDefaultMemorySize = 77414400;
constexpr int32_t kDefaultNumberOfElements = 1382400;

// Where the received bytes go: offsets from `base`.
struct StoragePositions {
  uint8_t* base = nullptr;
  size_t writeEnd = 0;
  size_t parse = 0;
  size_t limit = 0;
};

// The statuses a session went through, in order (a change each).
constexpr size_t kStatusTrailLength = 64;

struct SessionState {
  std::atomic<int32_t> dsuStatus {kSystemOk};
  std::atomic<int32_t> memoryStatus {1};  // 1: no main storage
  std::atomic<int32_t> outOfMemoryFlag {0};
  std::atomic<int32_t> instruction {kRun};
  std::atomic<int32_t> batteryStatus {1};
  std::atomic<int32_t> wineHack {0};
  std::atomic<int32_t> totalBytesRead {0};
  std::atomic<int32_t> reads {0};
  std::atomic<int32_t> lastReadLength {0};
  std::atomic<int32_t> elapsedTicks {0};
  std::atomic<int32_t> memorySize {kDefaultMemorySize};
  std::atomic<int32_t> numberOfElements {kDefaultNumberOfElements};
  std::atomic<int32_t> monitorMode {0};
  std::atomic<int32_t> buttonRequest {0};
  DecodeTally tally;  // packetsDecoded, positioningErrors
  DecodedStore store;

  std::mutex storageMutex;
  uint8_t* mainStorage = nullptr;
  size_t mainSize = 0;
  uint8_t* monitorStorage = nullptr;
  StoragePositions positions;       // where bytes go now
  StoragePositions savedPositions;  // main storage's, while monitor mode is on

  // The read thread: started by InitialiseDSU; joined by TerminateDSU, the
  // next InitialiseDSU or LoadSession, or the state's end. It holds the
  // library while it runs (see module_thread.h): on Windows an unload
  // cannot wait for it.
  platform::ModuleThread thread;
  std::atomic<bool> threadRunning {false};
  std::mutex endMutex;
  std::condition_variable threadEnded;

  std::array<std::atomic<int8_t>, kStatusTrailLength> trail {};
  std::atomic<uint32_t> trailLength {0};

  // The read thread's landing place for each read (its own).
  std::array<uint8_t, kReceiveBufferSize> receiveBuffer {};

  SessionState();
  ~SessionState();
  SessionState(const SessionState&) = delete;
  SessionState& operator=(const SessionState&) = delete;
};

SessionState& sessionState();

// Writes dsuStatus and notes a change in the trail.
void setStatus(int32_t status);

// A read thread exists and has not finished.
bool readThreadRunning();
// Joins a read thread that has finished; true when none is left running.
bool joinFinishedThread();

// Gives up main storage and the decoded packet store (monitor mode ends
// first); memoryStatus becomes 1. Only while no read thread runs.
void releaseSessionStorage();

}  // namespace dsu
