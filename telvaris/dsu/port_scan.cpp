#include "dsu/port_scan.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <new>
#include <vector>

#include "boundary.h"
#include "dsu/debug_log.h"
#include "dsu/dsu_commands.h"
#include "dsu/link_settings.h"
#include "dsu/serial_wire.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace dsu {
namespace {

// Appended by the read thread's scan, emptied by ListActiveCOMPorts on the
// caller's thread.
struct Candidates {
  std::mutex mutex;
  std::array<int32_t, kMaxCandidates> numbers {};
  int32_t count = 0;
};

Candidates& candidateList() {
  static Candidates c;
  return c;
}

constexpr uint32_t kForever = 0xFFFFFFFFu;
constexpr uint32_t kWriteTimeoutMs = 50;

// The port test's set-up steps, each logged with its result; 0, or the
// failing step's code (reported).
int32_t setUpForTest(int32_t port) {
  int32_t result = wire::open(port);
  if (result < 0) {
    log("PortOpen failed\n");
    return reportError(result);
  }
  result = wire::setTimeOuts(port, kForever, 0, 0, 0, kWriteTimeoutMs);
  log("PortSetTimeOuts Code=%d\n", result);
  if (result < 0) return reportError(result);
  result = wire::parms(port, 0, 0, 8);
  log("PortParms Code=%d\n", result);
  if (result < 0) return reportError(result);
  result = wire::baud(port, linkSettings().baudCode);
  log("PortBaud Code=%d\n", result);
  if (result < 0) return reportError(result);
  result = wire::dtr(port, 'S');
  log("PortDTR Code=%d\n", result);
  if (result < 0) return reportError(result);
  result = wire::rts(port, 'S');
  log("PortRTS Code=%d\n", result);
  if (result < 0) return reportError(result);
  return 0;
}

// Waits up to `ms` for the first byte of an answer, looking every
// millisecond. The byte, or a negative value: time-out, a device error, or
// the session ending.
int32_t waitForByte(int32_t port, int32_t ms, StopToken& stop) {
  const uint32_t start = platform::tickMs();
  for (;;) {
    const int32_t byte = wire::readByte(port);
    if (byte != comports::kBusy) return byte;
    if (ms <= 0 || platform::tickMs() - start >= static_cast<uint32_t>(ms)) return comports::kTimedOut;
    if (!stop.sleepFor(1)) return comports::kAborted;
  }
}

// Takes everything queued (at most one receive queue's worth); the count.
int32_t drainCount(int32_t port) {
  uint8_t chunk[4096];
  int32_t total = 0;
  while (total < kReceiveQueueSize) {
    const int32_t want = std::min<int32_t>(static_cast<int32_t>(sizeof chunk), kReceiveQueueSize - total);
    const int32_t got = wire::gets(port, chunk, want);
    if (got < 0) reportError(got);
    if (got <= 0) break;
    total += got;
  }
  return total;
}

int32_t notFound(int32_t port) {
  wire::close(port);
  return -1;
}

int32_t overridePath(int32_t hint) {
  log("Overriding COM Port Scan. Returning COM%d\n", hint + 1);
  log("Setting up serial communucations for COM%d\n", hint + 1);
  linkSettings().activeComPort = hint;
  const int32_t result = openAndSetUp(hint);
  if (result < 0) return result;
  wire::hold(hint);
  return hint;
}

int32_t take(int32_t port) {
  linkSettings().activeComPort = port;
  wire::hold(port);
  return port;
}

}  // namespace

int32_t enumerateCandidates() {
  const std::vector<int> listed = platform::listComPorts();
  Candidates& c = candidateList();
  int32_t count;
  {
    std::lock_guard lock(c.mutex);
    // A list filled by many earlier scans would keep today's ports out.
    if (static_cast<size_t>(kMaxCandidates - c.count) < listed.size()) c.count = 0;
    for (int number : listed) {
      if (c.count == kMaxCandidates) break;
      c.numbers[static_cast<size_t>(c.count++)] = number;
    }
    std::sort(c.numbers.begin(), c.numbers.begin() + c.count);
    count = c.count;
  }
  log("%d candidate COM ports identified\n", count);
  return count;
}

int32_t candidates(int32_t* out) {
  Candidates& c = candidateList();
  std::lock_guard lock(c.mutex);
  std::copy(c.numbers.begin(), c.numbers.begin() + c.count, out);
  return c.count;
}

void clearCandidates() {
  Candidates& c = candidateList();
  std::lock_guard lock(c.mutex);
  c.count = 0;
}

int32_t listActiveComPorts(int32_t* out) {
  if (!out) return TLV_DSU_BAD_ARGUMENT;
  clearCandidates();
  enumerateCandidates();
  const int32_t count = candidates(out);
  return count == 0 ? 0 : count + 1;
}

int32_t testPort(int32_t port, StopToken& stop) {
  log("Testing COM%d\n", port + 1);
  if (setUpForTest(port) < 0) {
    log("Failed to initialise COM%d\n", port + 1);
    return notFound(port);
  }
  const LinkSettings& s = linkSettings();
  if (!stop.sleepFor(static_cast<uint32_t>(std::max<int32_t>(s.scanPortWaitMs, 0)))) return notFound(port);
  sendSerialStopSignal(port, stop);
  sendSerialStartSignal(port, stop);
  if (stop.requested()) return notFound(port);

  const int32_t delay = s.scanDelayMs;
  const int32_t first = waitForByte(port, delay, stop);
  if (first == comports::kAborted) return notFound(port);
  if (first < 0) {
    if (first != comports::kTimedOut) reportError(first);
    log("Time out waiting for serial device\n");
    log("Telvaris not found on COM%d\n", port + 1);
    return notFound(port);
  }
  if (!stop.sleepFor(static_cast<uint32_t>(delay))) return notFound(port);
  // The byte the wait took is part of the answer.
  const int32_t answered = 1 + drainCount(port);
  if (answered > s.packetLength) {
    sendSerialStopSignal(port, stop);
    log("Telvaris identified on COM%d\n", port + 1);
    return port;
  }
  wire::close(port);
  log("Serial Device found. %d bytes returned\n", answered);
  log("Telvaris not found on COM%d\n", port + 1);
  return -1;
}

int32_t scanPorts(StopToken& stop) {
  const LinkSettings& s = linkSettings();
  const int32_t hint = s.hintPort;
  if (s.scanOverride == 1) return overridePath(hint);

  if (hint > 0) {
    log("Testing hint COM%d\n", hint + 1);
    // Port index 0 (COM1) is a DSU found like any other.
    if (testPort(hint, stop) >= 0) return take(hint);
  } else {
    log("Bypassing hint port\n");
  }
  if (stop.requested()) return -1;

  try {
    enumerateCandidates();
  } catch (const std::bad_alloc&) {
    log("0 candidate COM ports identified\n");
  }
  std::array<int32_t, kMaxCandidates> numbers;
  const int32_t count = candidates(numbers.data());
  int32_t previous = 0;
  for (int32_t i = 0; i < count && !stop.requested(); ++i) {
    const int32_t number = numbers[static_cast<size_t>(i)];
    if (number == previous) continue;
    previous = number;
    if (testPort(number - 1, stop) >= 0) return take(number - 1);
  }
  return -1;
}

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL ListActiveCOMPorts(int32_t* ports) {
  return telvaris::atBoundary(int32_t {TLV_DSU_NO_MEMORY}, [&] { return dsu::listActiveComPorts(ports); });
}

}  // extern "C"
