#include "serial/comports.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/module_thread.h"
#include "platform/serial_device.h"
#include "platform/system_error.h"

namespace comports {
namespace {

constexpr uint32_t kForever = 0xFFFFFFFFu;
constexpr uint8_t kDtrBit = 1;
constexpr uint8_t kRtsBit = 2;

struct Watcher {
  platform::ModuleThread thread;     // joined by whoever stops the watcher
  std::atomic<bool> running {false};  // waiting for an event, so a stop must wake it
};

struct Port {
  std::unique_ptr<platform::SerialDevice> device;
  std::atomic<bool> open {false};
  platform::SerialLineSettings line;
  platform::SerialTimeouts savedTimeouts;  // as found at open, restored at close
  uint8_t lineState = 0;                   // kDtrBit, kRtsBit
  uint8_t dataMask = 0xFF;
  std::atomic<int32_t> lastReadCount {0};
  std::atomic<int32_t> lastWriteCount {0};
  Watcher watcher;
};

struct Defaults {
  uint32_t baud = 19200;
  uint8_t dataBits = 8;
  uint8_t parity = 0;
  uint8_t stopBits = 0;
  bool dtr = false;
  bool rts = false;
};

// The port whose watcher runs on this thread, if any. The watcher never
// touches its own thread object, which its starter may still be assigning.
thread_local const Port* t_watcherOf = nullptr;

// Wakes the port's watcher and waits for its thread to end. On the
// watcher's own thread (its notify stopping it) the wait is already over:
// the thread ends once notify returns, and the next start or stop, or the
// module's end, joins it.
void stopWatcher(Port& p) {
  if (t_watcherOf == &p) return;
  platform::ModuleThread& thread = p.watcher.thread;
  if (!thread.joinable()) return;
  if (p.watcher.running) p.device->cancelWait();
  thread.join();
}

// The module's state, one set per process; all ports start closed. It goes
// with the library, at unload or exit, and need not outlive it: its one
// thread, the watcher, is stopped first, so no thread is left running code
// that is gone. On Windows a running watcher holds the library, so the
// state goes only once no watcher runs its code (platform/serial_device.h).
// The ports close with it.
struct State {
  std::array<Port, kPortCount> ports;
  Defaults defaults;
  std::atomic<int> lastSystemError {0};
  std::atomic<uint32_t> closeFailures {0};
  std::atomic<bool> messageBoxes {true};

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    for (Port& p : ports) {
      stopWatcher(p);
      // Left joinable only when a notify ends the process: that thread is this one.
      if (p.watcher.thread.joinable()) p.watcher.thread.detach();
    }
  }
};

State& state() {
  static State s;
  return s;
}

constexpr uint32_t kBaudTable[] = {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct CodeText {
  int32_t code;
  const char* text;
};
constexpr CodeText kTexts[] = {
    {kInvalidPort, "Invalid COM port"},
    {kAlreadyOpen, "COM port already open"},
    {kCannotOpen, "Cannot open COM port"},
    {kNoMemory, "Cannot allocate memory"},
    {kBadDefaults, "Error in default parameters"},
    {kNoHardware, "COM port hardware not present"},
    {kBadByteSize, "Unsupported byte size"},
    {kBadBaud, "Unsupported baud rate"},
    {kEventIo, "Event I/O error (virtual port not ready?)"},
    {kBusy, "Port is busy (try again later)"},
    {kOutOfRange, "Parameter out of range "},
    {kAborted, "Aborted"},
    {kNoBufferMemory, "Cannot allocate memory for buffers"},
    {kNoThread, "Cannot start thread"},
    {kTimedOut, "Operation timed out"},
    {kBadBuffer, "Parameter (buffer address) out of range "},
    {kBadLength, "Parameter (buffer length) out of range "},
    {kNoSuchCommand, "No such command"},
    {kBadParity, "Bad parity parameters"},
    {kBadStopBits, "Bad stop bit parameter"},
    {kBadWordLength, "Bad word length parameter"},
};

// Every failed device call ends here: the error is kept for
// PortSystemErrorText and the operation's result comes back.
int32_t keepSystemError(int error, int32_t result = kSystemError) {
  state().lastSystemError = error;
  return result;
}

// The index, then that the port is open: the check every operation starts with.
int32_t checkPort(int32_t port) {
  if (port < 0 || port >= kPortCount) return kInvalidPort;
  if (!state().ports[static_cast<size_t>(port)].open) return kCannotOpen;
  return 0;
}

Port& portAt(int32_t port) { return state().ports[static_cast<size_t>(port)]; }

// Copies text into a caller's buffer: at most size - 1 characters and a
// terminator. Returns the characters copied.
int32_t copyText(const std::string& text, char* buffer, int32_t size) {
  if (!buffer || size <= 0) return 0;
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int32_t>(n);
}

struct LineStatus {
  uint32_t errors = 0;  // platform::kLine* bits
  uint32_t receiveQueued = 0;
  uint32_t transmitQueued = 0;
};

// Clears pending line errors and reports them with the queue counts.
LineStatus clearLineErrors(platform::SerialDevice& device) {
  LineStatus status;
  device.clearErrors(status.errors, status.receiveQueued, status.transmitQueued);
  return status;
}

// Clears line errors, then reads what the time-outs allow. The count, or -13.
int32_t readBytes(Port& p, void* buffer, size_t size) {
  clearLineErrors(*p.device);
  size_t count = 0;
  if (int error = p.device->read(buffer, size, count)) return keepSystemError(error, kEventIo);
  p.lastReadCount = static_cast<int32_t>(count);
  return static_cast<int32_t>(count);
}

// 1 when the device did it, 0 (the error kept) when it refused.
int32_t deviceAnswer(int error) { return error == 0 ? 1 : keepSystemError(error, 0); }

// Re-applies the recorded DTR and RTS lines after a line-settings change.
void applyLineState(Port& p) {
  p.device->setDtr((p.lineState & kDtrBit) != 0);
  p.device->setRts((p.lineState & kRtsBit) != 0);
}

// Applies changed line settings and re-applies the lines: 1, or 0 when the
// device refused (the old settings stay).
int32_t applyLine(Port& p, const platform::SerialLineSettings& line) {
  if (int error = p.device->setLineSettings(line)) return keepSystemError(error, 0);
  p.line = line;
  applyLineState(p);
  return 1;
}

int32_t lineCommand(int32_t port, int32_t command, uint8_t bit) {
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  switch (command) {
    case 'S':
    case 'C': {
      const bool raise = command == 'S';
      p.lineState = raise ? (p.lineState | bit) : (p.lineState & ~bit);
      // A port without modem lines answers 0, not a failure code.
      return deviceAnswer(bit == kDtrBit ? p.device->setDtr(raise) : p.device->setRts(raise));
    }
    case 'R':
      return (p.lineState & bit) ? bit : 0;
    default:
      return kNoSuchCommand;
  }
}

int32_t modemLine(int32_t port, uint32_t bit) {
  if (int32_t e = checkPort(port)) return e;
  uint32_t bits = 0;
  if (int error = portAt(port).device->modemStatus(bits)) return keepSystemError(error);
  return (bits & bit) ? 1 : 0;
}

}  // namespace

uint32_t baudFromCode(int32_t code) {
  if (code >= 0 && code <= 9) return kBaudTable[code];
  return static_cast<uint32_t>(code);
}

uint32_t closeFailures() { return state().closeFailures; }

int32_t PortOpen(int32_t port, int32_t receiveSize, int32_t transmitSize) {
  Defaults& defaults = state().defaults;
  if (port == -1) {
    defaults.dtr = (receiveSize & 1) != 0;
    defaults.rts = (transmitSize & 1) != 0;
    return 0;
  }
  if (port < 0 || port >= kPortCount) return kInvalidPort;
  // Reopening an open slot would drop its device under a running watcher.
  if (portAt(port).open) return kAlreadyOpen;

  int error = 0;
  auto device = platform::SerialDevice::open(port + 1, error);
  if (!device) return keepSystemError(error);

  Port& p = portAt(port);
  device->getTimeouts(p.savedTimeouts);
  platform::SerialLineSettings line;
  device->getLineSettings(line);
  line.baud = defaults.baud;
  line.dataBits = defaults.dataBits;
  line.parity = defaults.parity;
  line.stopBits = defaults.stopBits;
  line.rtsCtsFlow = false;
  line.xonXoffOutput = false;
  line.xonXoffInput = false;
  line.dtrOn = defaults.dtr;
  line.rtsOn = defaults.rts;
  line.xonChar = 0x11;
  line.xoffChar = 0x13;
  const uint32_t rx = static_cast<uint32_t>(receiveSize);
  line.xonLimit = line.xoffLimit = static_cast<uint16_t>(rx > 512 ? 128 : rx / 4);
  if ((error = device->setLineSettings(line)) != 0) return keepSystemError(error);
  if (device->setQueueSizes(rx, static_cast<uint32_t>(transmitSize)) != 0) return kNoBufferMemory;

  clearLineErrors(*device);
  const platform::SerialTimeouts immediate {kForever, 0, 0, 0, 0};
  if ((error = device->setTimeouts(immediate)) != 0) return keepSystemError(error);

  p.device = std::move(device);
  p.line = line;
  p.lineState = static_cast<uint8_t>((defaults.dtr ? kDtrBit : 0) | (defaults.rts ? kRtsBit : 0));
  p.dataMask = static_cast<uint8_t>((1u << line.dataBits) - 1);
  p.lastReadCount = 0;
  p.lastWriteCount = 0;
  p.open = true;
  return 0;
}

int32_t PortClose(int32_t port) {
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  stopWatcher(p);
  p.device->setTimeouts(p.savedTimeouts);
  p.open = false;
  const int error = p.device->close();
  p.device.reset();
  if (error != 0) {
    ++state().closeFailures;
    return keepSystemError(error, 0);
  }
  return 1;
}

int32_t PortParms(int32_t port, int32_t parity, int32_t stopBits, int32_t dataBits) {
  if (parity < 0 || parity > 4) return kBadParity;
  if (stopBits < 0 || stopBits > 2) return kBadStopBits;
  if (dataBits < 5 || dataBits > 8) return kBadWordLength;
  if (port == -1) {
    Defaults& defaults = state().defaults;
    defaults.parity = static_cast<uint8_t>(parity);
    defaults.stopBits = static_cast<uint8_t>(stopBits);
    defaults.dataBits = static_cast<uint8_t>(dataBits);
    return 0;
  }
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  platform::SerialLineSettings line = p.line;
  line.parity = static_cast<uint8_t>(parity);
  line.stopBits = static_cast<uint8_t>(stopBits);
  line.dataBits = static_cast<uint8_t>(dataBits);
  // The result is 0 whatever the device says; the mask follows the request.
  if (p.device->setLineSettings(line) == 0) p.line = line;
  p.dataMask = static_cast<uint8_t>((1u << dataBits) - 1);
  applyLineState(p);
  return 0;
}

int32_t PortBaud(int32_t port, int32_t baud) {
  if (baud < 0) return kBadBaud;
  const uint32_t rate = baudFromCode(baud);
  if (port == -1) {
    state().defaults.baud = rate;
    return 0;
  }
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  platform::SerialLineSettings line = p.line;
  line.baud = rate;
  return applyLine(p, line);
}

int32_t PortDTR(int32_t port, int32_t command) { return lineCommand(port, command, kDtrBit); }
int32_t PortRTS(int32_t port, int32_t command) { return lineCommand(port, command, kRtsBit); }

int32_t PortSetTimeOuts(int32_t port, uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                        uint32_t writeMultiplier, uint32_t writeConstant) {
  if (int32_t e = checkPort(port)) return e;
  const platform::SerialTimeouts t {readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant};
  if (int error = portAt(port).device->setTimeouts(t)) return keepSystemError(error);
  return 1;
}

int32_t PortGets(int32_t port, void* buffer, int32_t size) {
  if (int32_t e = checkPort(port)) return e;
  if (!buffer) return kBadBuffer;
  if (size < 0) return kBadLength;
  return readBytes(portAt(port), buffer, static_cast<size_t>(size));
}

int32_t PortReadByte(int32_t port) {
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  uint8_t byte = 0;
  const int32_t count = readBytes(p, &byte, 1);
  if (count < 0) return count;
  if (count == 0) return kBusy;
  return byte & p.dataMask;
}

int32_t PortWaitByte(int32_t port, int32_t milliseconds) {
  if (int32_t e = checkPort(port)) return e;
  const uint32_t baud = portAt(port).line.baud;
  if (baud == 0) return kBadBaud;
  const uint32_t pause = std::max<uint32_t>(1, 10000 / baud);
  const uint32_t start = platform::tickMs();
  for (;;) {
    const int32_t result = PortReadByte(port);
    if (result != kBusy) return result;  // a byte, or a device error
    if (milliseconds <= 0 || platform::tickMs() - start >= static_cast<uint32_t>(milliseconds)) return kTimedOut;
    platform::sleepMs(pause);
  }
}

int32_t PortSendBytes(int32_t port, const void* buffer, int32_t count) {
  if (int32_t e = checkPort(port)) return e;
  if (!buffer) return kBadBuffer;
  if (count <= 0) return kBadLength;
  Port& p = portAt(port);
  size_t written = 0;
  if (int error = p.device->write(buffer, static_cast<size_t>(count), written)) return keepSystemError(error, kEventIo);
  p.lastWriteCount = static_cast<int32_t>(written);
  return static_cast<int32_t>(written);
}

int32_t PortFlushRx(int32_t port) {
  if (int32_t e = checkPort(port)) return e;
  portAt(port).device->purge(true, false);
  return 0;
}

int32_t PortFlushTx(int32_t port) {
  if (int32_t e = checkPort(port)) return e;
  portAt(port).device->purge(false, true);
  return 0;
}

int32_t PortSystemErrorText(char* buffer, int32_t size) {
  const int error = state().lastSystemError;
  std::string text = platform::systemErrorText(error);
  if (text == "The system cannot find the file specified.\r\n") text = "The system cannot find the port specified.\r\n";
  if (buffer && size > 0) {
    copyText(text, buffer, size);
  } else {
    char own[128];  // no buffer of the caller's: the text goes nowhere
    copyText(text, own, sizeof own);
  }
  return error;
}

int32_t PortErrorText(int32_t code, char* buffer, int32_t size) {
  if (!buffer) return kBadBuffer;
  if (code == kSystemError) {
    PortSystemErrorText(buffer, size);
    return size > 0 ? static_cast<int32_t>(std::strlen(buffer)) : 0;
  }
  for (const auto& entry : kTexts) {
    if (entry.code == code) return copyText(entry.text, buffer, size);
  }
  return copyText("", buffer, size);
}

// ---- offered operations ------------------------------------------------

int32_t PortPutByte(int32_t port, int32_t byte) {
  const uint8_t b = static_cast<uint8_t>(byte);
  return PortSendBytes(port, &b, 1);
}

int32_t PortGetsUntil(int32_t port, void* buffer, int32_t size, int32_t terminator, int32_t milliseconds) {
  if (int32_t e = checkPort(port)) return e;
  if (!buffer) return kBadBuffer;
  if (size <= 0) return kBadLength;
  auto* out = static_cast<uint8_t*>(buffer);
  const uint32_t start = platform::tickMs();
  int32_t count = 0;
  while (count < size) {
    const uint32_t spent = platform::tickMs() - start;
    const int32_t left = milliseconds > static_cast<int32_t>(spent) ? milliseconds - static_cast<int32_t>(spent) : 0;
    const int32_t byte = PortWaitByte(port, left);
    if (byte == kTimedOut) break;
    if (byte < 0) return byte;
    out[count++] = static_cast<uint8_t>(byte);
    if (byte == terminator) break;
  }
  return count == 0 ? kTimedOut : count;
}

int32_t PortRxCount(int32_t port) {
  if (int32_t e = checkPort(port)) return e;
  return static_cast<int32_t>(clearLineErrors(*portAt(port).device).receiveQueued);
}

int32_t PortTxCount(int32_t port) {
  if (int32_t e = checkPort(port)) return e;
  return static_cast<int32_t>(clearLineErrors(*portAt(port).device).transmitQueued);
}

int32_t PortLineError(int32_t port, int32_t mask) {
  if (int32_t e = checkPort(port)) return e;
  return static_cast<int32_t>(clearLineErrors(*portAt(port).device).errors & static_cast<uint32_t>(mask));
}

int32_t PortFlow(int32_t port, int32_t mode) {
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  platform::SerialLineSettings line = p.line;
  switch (mode) {
    case 'H': line.rtsCtsFlow = true; line.xonXoffOutput = line.xonXoffInput = false; break;
    case 'S': line.rtsCtsFlow = false; line.xonXoffOutput = line.xonXoffInput = true; break;
    case 'N': line.rtsCtsFlow = false; line.xonXoffOutput = line.xonXoffInput = false; break;
    default: return kNoSuchCommand;
  }
  return applyLine(p, line);
}

int32_t PortCTS(int32_t port) { return modemLine(port, platform::kModemCts); }
int32_t PortDSR(int32_t port) { return modemLine(port, platform::kModemDsr); }
int32_t PortRI(int32_t port) { return modemLine(port, platform::kModemRing); }
int32_t PortDCD(int32_t port) { return modemLine(port, platform::kModemDcd); }

int32_t PortBreak(int32_t port, int32_t command) {
  if (int32_t e = checkPort(port)) return e;
  platform::SerialDevice& device = *portAt(port).device;
  switch (command) {
    case 'A': return deviceAnswer(device.setBreak(true));
    case 'C': return deviceAnswer(device.setBreak(false));
    case 'D': return (clearLineErrors(device).errors & platform::kLineBreak) ? 1 : 0;
    default: return kNoSuchCommand;
  }
}

int32_t PortWaitRx(int32_t port, int32_t count, int32_t milliseconds) {
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  const uint32_t baud = std::max<uint32_t>(p.line.baud, 1);
  const uint32_t start = platform::tickMs();
  for (;;) {
    const uint32_t queued = clearLineErrors(*p.device).receiveQueued;
    if (static_cast<int64_t>(queued) >= count) return static_cast<int32_t>(queued);
    if (platform::tickMs() - start >= static_cast<uint32_t>(std::max(milliseconds, 0))) return kTimedOut;
    // Sleep about as long as the missing bytes take on the wire (10 bits each).
    const uint64_t missing = static_cast<uint64_t>(count) - queued;
    const uint64_t transfer = missing * 10 * 1000 / baud;
    platform::sleepMs(static_cast<uint32_t>(std::clamp<uint64_t>(transfer, 1, 250)));
  }
}

int32_t PortWaitQuiet(int32_t port, int32_t quietMs, int32_t totalMs) {
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  const uint32_t start = platform::tickMs();
  uint32_t quietSince = start;
  for (;;) {
    const uint32_t now = platform::tickMs();
    if (clearLineErrors(*p.device).receiveQueued > 0) {
      p.device->purge(true, false);
      quietSince = now;
    } else if (now - quietSince >= static_cast<uint32_t>(std::max(quietMs, 0))) {
      return 0;
    }
    if (now - start >= static_cast<uint32_t>(std::max(totalMs, 0))) return kTimedOut;
    platform::sleepMs(1);
  }
}

int32_t PortWatch(int32_t port, EventNotify notify, void* window, uint32_t message, uint32_t mask) {
  if (int32_t e = checkPort(port)) return e;
  Port& p = portAt(port);
  if (mask == 0) {
    stopWatcher(p);
    return 1;
  }
  // One runs: still waiting, or this is its notify calling.
  if (p.watcher.running || t_watcherOf == &p) return 1;
  p.watcher.thread.join();  // an earlier watcher, ended or in its notify
  // A stop that came as the earlier watcher's event ended its wait must not
  // end this one at once.
  p.device->clearCancel();
  p.watcher.running = true;
  // Windows once gave the watcher a small stack and a raised priority; a
  // plain thread serves.
  const bool started = p.watcher.thread.start([&p, port, notify, window, message, mask] {
    t_watcherOf = &p;
    uint32_t fired = 0;
    p.device->waitEvent(mask, fired, -1);
    p.watcher.running = false;
    if (fired && notify) notify(window, message, port);
  });
  if (!started) {
    p.watcher.running = false;
    platform::showMessage("Cannot create message thread", "Info");
    return kNoThread;
  }
  return 0;
}

int32_t PortOption(int32_t option, int32_t value) {
  switch (option) {
    case 'M': {
      const bool old = state().messageBoxes.exchange(value != 0);
      if (value != 0) platform::showMessage("MsgBox enabled", "Info");
      return old ? 1 : 0;
    }
    default: return kNoSuchCommand;
  }
}

int32_t PortInfo(int32_t port, int32_t what) {
  if (int32_t e = checkPort(port)) return what == 'O' && e == kCannotOpen ? 0 : e;
  const Port& p = portAt(port);
  switch (what) {
    case 'B': return static_cast<int32_t>(p.line.baud);
    case 'D': return p.line.dataBits;
    case 'P': return p.line.parity;
    case 'S': return p.line.stopBits;
    case 'O': return 1;
    case 'R': return p.lastReadCount;
    case 'W': return p.lastWriteCount;
    default: return kNoSuchCommand;
  }
}

int32_t PortHexDump(const void* data, int32_t count, char* out, int32_t outSize) {
  if (!out || (!data && count > 0)) return kBadBuffer;
  std::string text;
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (int32_t i = 0; i < count; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x ", bytes[i]);
    text += hex;
  }
  return copyText(text, out, outSize);
}

}  // namespace comports
