// One serial device, opened by its COM number.
//
// This is the least layer over the operating system that the serial port
// module needs: the Windows communications functions on Windows, termios,
// poll and the modem-line ioctls here. Every operation returns 0 on success
// or the operating-system error number, so the caller can keep it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// Framing and flow control, in the Windows encodings the serial module uses.
struct SerialLineSettings {
  uint32_t baud = 19200;
  uint8_t dataBits = 8;   // 5..8
  uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t stopBits = 0;   // 0 one, 1 one and a half, 2 two
  bool rtsCtsFlow = false;     // hardware flow control
  bool xonXoffOutput = false;  // stop sending on XOFF
  bool xonXoffInput = false;   // send XOFF when the receive queue fills
  uint8_t xonChar = 0x11;
  uint8_t xoffChar = 0x13;
  uint16_t xonLimit = 128;
  uint16_t xoffLimit = 128;
  bool dtrOn = false;  // line raised while the port is set up
  bool rtsOn = false;
};

// Read and write time-outs in milliseconds, with the Windows meaning:
// interval 0xFFFFFFFF and everything else 0 makes reads return at once with
// what is queued; a total time-out is multiplier * bytes + constant; 0 means
// none.
struct SerialTimeouts {
  uint32_t readInterval = 0;
  uint32_t readMultiplier = 0;
  uint32_t readConstant = 0;
  uint32_t writeMultiplier = 0;
  uint32_t writeConstant = 0;
};

// Modem-status bits (the Windows MS_*_ON values).
enum : uint32_t {
  kModemCts = 0x0010,
  kModemDsr = 0x0020,
  kModemRing = 0x0040,
  kModemDcd = 0x0080,
};

// Line-error bits (the Windows CE_* values).
enum : uint32_t {
  kLineOverrun = 0x0002,  // receive overrun in the hardware
  kLineParity = 0x0004,
  kLineFrame = 0x0008,
  kLineBreak = 0x0010,
  kLineQueueOverflow = 0x0001,
};

// Communication events (the Windows EV_* values) for waitEvent.
enum : uint32_t {
  kEventRxChar = 0x0001,
  kEventTxEmpty = 0x0004,
  kEventCts = 0x0008,
  kEventDsr = 0x0010,
  kEventDcd = 0x0020,
  kEventBreak = 0x0040,
  kEventError = 0x0080,
  kEventRing = 0x0100,
};

class SerialDevice {
 public:
  // Opens COM `comNumber` (1-based) for reading and writing, exclusively.
  // On failure returns nullptr and sets `error`.
  static std::unique_ptr<SerialDevice> open(int comNumber, int& error);
  ~SerialDevice();
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  int getLineSettings(SerialLineSettings& out);
  int setLineSettings(const SerialLineSettings& settings);
  int setQueueSizes(uint32_t receive, uint32_t transmit);
  int getTimeouts(SerialTimeouts& out) const;
  int setTimeouts(const SerialTimeouts& timeouts);

  // Reads up to `size` bytes under the time-outs; `count` gets the number
  // read (possibly 0).
  int read(void* buffer, size_t size, size_t& count);
  // Writes under the time-outs; `count` gets the number written.
  int write(const void* buffer, size_t size, size_t& count);

  // Clears and reports pending line errors (kLine* bits) and queue counts.
  int clearErrors(uint32_t& errors, uint32_t& receiveQueued, uint32_t& transmitQueued);
  int purge(bool receive, bool transmit);

  int setDtr(bool raised);
  int setRts(bool raised);
  int setBreak(bool asserted);
  int modemStatus(uint32_t& bits);

  // Waits until one of the kEvent* bits in `mask` happens, `cancelWait` is
  // called from another thread (fired = 0), or `timeoutMs` passes (-1: no
  // limit; fired = 0).
  int waitEvent(uint32_t mask, uint32_t& fired, int timeoutMs);
  void cancelWait();
  // Forgets a cancelWait that found no wait to end (an event ended the wait
  // first). Only while no wait runs: before a new waiter starts.
  void clearCancel();

  // Closes the device; returns 0 or the error of the close.
  int close();

 private:
  struct Impl;
  explicit SerialDevice(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The COM numbers (1-based, ascending) whose device exists on this machine.
std::vector<int> listComPorts();

}  // namespace platform
