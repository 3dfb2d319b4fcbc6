// The DSU link's settings: the serial port and its line, the port scan's
// waits, the command framing, and the unit's options. Set by the caller
// before a session; read by the read thread, so every word is atomic.
#pragma once

#include <atomic>
#include <cstdint>

namespace dsu {

// Queue sizes asked of the serial layer; the receive queue holds what the
// read thread takes in one read.
constexpr int32_t kReceiveQueueSize = 430080;
constexpr int32_t kTransmitQueueSize = 1024;

struct LinkSettings {
  std::atomic<int32_t> hintPort {0};           // port index tried first; 0: no hint
  std::atomic<int32_t> scanOverride {0};       // 1: take hintPort without testing
  std::atomic<int32_t> baudCode {9};           // serial layer baud code (9: 115200) or a literal rate
  std::atomic<int32_t> packetLength {14};      // P3 packet length; also the port test's threshold
  std::atomic<int32_t> scanDelayMs {200};      // first-byte wait and the pause before collecting
  std::atomic<int32_t> scanPortWaitMs {2000};  // settling time before the start signal
  std::atomic<int32_t> sendingMode {1};        // 0 burst, other single-step
  std::atomic<int32_t> earlyV3 {0};            // 1: signals begin with a line feed
  std::atomic<int32_t> rate512Requested {0};
  std::atomic<int32_t> firstPort {1};      // stored only
  std::atomic<int32_t> lastPort {50};      // stored only
  std::atomic<int32_t> readDelayMs {100};  // the read thread's pause after each stored read
  std::atomic<int32_t> activeComPort {0};  // set by the port scan
};

LinkSettings& linkSettings();

// The exports' work (telvaris.h, "DSU acquisition", for results and logs).
int32_t setComPorts(int32_t firstPort, int32_t lastPort, int32_t hintPort);
int32_t overrideComPortScan(int32_t flag);
int32_t setScanWaitTime(int32_t ms);
int32_t setScanPortWaitTime(int32_t ms);
int32_t setReadDelay(int32_t ms);
int32_t setBaudRate(int32_t baud);
int32_t setPacketLength(int32_t length);
int32_t setSendingMode(int32_t mode);
int32_t setEarlyV3Support();
int32_t requestSampleRate512Hz();

}  // namespace dsu
