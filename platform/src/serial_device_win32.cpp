// Serial devices over the Windows communications functions.
//
// The device is opened for overlapped I/O and every call waits for its own
// completion, so that calls behave as synchronous ones while a watcher's
// WaitCommEvent on one thread does not hold up reads and writes on others
// (a synchronous handle serialises them). Reads and writes still follow the
// port's COMMTIMEOUTS.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace platform {
namespace {

// One overlapped operation's event, closed with it.
class OverlappedCall {
 public:
  OverlappedCall() { ov_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~OverlappedCall() {
    if (ov_.hEvent) CloseHandle(ov_.hEvent);
  }
  OverlappedCall(const OverlappedCall&) = delete;
  OverlappedCall& operator=(const OverlappedCall&) = delete;
  bool ready() const { return ov_.hEvent != nullptr; }
  OVERLAPPED* get() { return &ov_; }

 private:
  OVERLAPPED ov_ {};
};

// Waits for a started call: 0 and the byte count, or the error.
int finish(HANDLE h, BOOL started, OverlappedCall& call, DWORD& transferred) {
  if (!started) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return static_cast<int>(error);
  }
  if (!GetOverlappedResult(h, call.get(), &transferred, TRUE)) return static_cast<int>(GetLastError());
  return 0;
}

int lastError() { return static_cast<int>(GetLastError()); }

}  // namespace

struct SerialDevice::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE cancel = nullptr;  // manual reset: ends waitEvent early
  std::atomic<bool> immediateReads {false};  // the time-outs say: return at once with what is queued
};

SerialDevice::SerialDevice(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SerialDevice::~SerialDevice() { close(); }

std::unique_ptr<SerialDevice> SerialDevice::open(int comNumber, int& error) {
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", comNumber);
  // Share mode 0: the port is ours alone until it closes.
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = lastError();
    return nullptr;
  }
  HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!cancel) {
    error = lastError();
    CloseHandle(h);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->handle = h;
  impl->cancel = cancel;
  error = 0;
  return std::unique_ptr<SerialDevice>(new SerialDevice(std::move(impl)));
}

int SerialDevice::close() {
  if (!impl_ || impl_->handle == INVALID_HANDLE_VALUE) return 0;
  const int result = CloseHandle(impl_->handle) ? 0 : lastError();
  impl_->handle = INVALID_HANDLE_VALUE;
  CloseHandle(impl_->cancel);
  impl_->cancel = nullptr;
  return result;
}

int SerialDevice::getLineSettings(SerialLineSettings& out) {
  DCB dcb {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(impl_->handle, &dcb)) return lastError();
  out.baud = dcb.BaudRate;
  out.dataBits = dcb.ByteSize;
  out.parity = dcb.Parity;
  out.stopBits = dcb.StopBits;
  out.rtsCtsFlow = dcb.fOutxCtsFlow != 0;
  out.xonXoffOutput = dcb.fOutX != 0;
  out.xonXoffInput = dcb.fInX != 0;
  out.xonChar = static_cast<uint8_t>(dcb.XonChar);
  out.xoffChar = static_cast<uint8_t>(dcb.XoffChar);
  out.xonLimit = dcb.XonLim;
  out.xoffLimit = dcb.XoffLim;
  out.dtrOn = dcb.fDtrControl == DTR_CONTROL_ENABLE;
  out.rtsOn = dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  return 0;
}

int SerialDevice::setLineSettings(const SerialLineSettings& s) {
  DCB dcb {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(impl_->handle, &dcb)) return lastError();
  if (s.baud == 0) return ERROR_INVALID_PARAMETER;
  dcb.BaudRate = s.baud;
  dcb.ByteSize = s.dataBits;
  dcb.Parity = s.parity;
  dcb.StopBits = s.stopBits;
  dcb.fParity = s.parity != NOPARITY;
  dcb.fBinary = TRUE;
  dcb.fNull = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fErrorChar = FALSE;
  dcb.fOutxCtsFlow = s.rtsCtsFlow;
  dcb.fOutX = s.xonXoffOutput;
  dcb.fInX = s.xonXoffInput;
  dcb.XonChar = static_cast<char>(s.xonChar);
  dcb.XoffChar = static_cast<char>(s.xoffChar);
  dcb.XonLim = s.xonLimit;
  dcb.XoffLim = s.xoffLimit;
  dcb.fDtrControl = s.dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = s.rtsCtsFlow ? RTS_CONTROL_HANDSHAKE : (s.rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
  if (!SetCommState(impl_->handle, &dcb)) return lastError();
  return 0;
}

int SerialDevice::setQueueSizes(uint32_t receive, uint32_t transmit) {
  return SetupComm(impl_->handle, receive, transmit) ? 0 : lastError();
}

int SerialDevice::getTimeouts(SerialTimeouts& out) const {
  COMMTIMEOUTS t {};
  if (!GetCommTimeouts(impl_->handle, &t)) return lastError();
  out = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
         t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
  return 0;
}

int SerialDevice::setTimeouts(const SerialTimeouts& timeouts) {
  COMMTIMEOUTS t {timeouts.readInterval, timeouts.readMultiplier, timeouts.readConstant, timeouts.writeMultiplier,
                  timeouts.writeConstant};
  if (!SetCommTimeouts(impl_->handle, &t)) return lastError();
  impl_->immediateReads = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                          t.ReadTotalTimeoutConstant == 0;
  return 0;
}

int SerialDevice::read(void* buffer, size_t size, size_t& count) {
  count = 0;
  if (size == 0) return 0;
  DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  if (impl_->immediateReads) {
    // What is queued, and no more: so the read cannot wait (wine's
    // overlapped reads wait for data even under these time-outs).
    DWORD flags = 0;
    COMSTAT stat {};
    if (!ClearCommError(impl_->handle, &flags, &stat)) return lastError();
    if (stat.cbInQue == 0) return 0;
    want = std::min(want, stat.cbInQue);
  }
  OverlappedCall call;
  if (!call.ready()) return lastError();
  DWORD got = 0;
  const BOOL started = ReadFile(impl_->handle, buffer, want, nullptr, call.get());
  const int e = finish(impl_->handle, started, call, got);
  // A read's time-out ends it with what came, as on Windows; wine reports
  // the time-out as an error instead.
  if (e != 0 && e != ERROR_TIMEOUT && e != WAIT_TIMEOUT && e != ERROR_SEM_TIMEOUT) return e;
  count = got;
  return 0;
}

int SerialDevice::write(const void* buffer, size_t size, size_t& count) {
  count = 0;
  if (size == 0) return 0;
  OverlappedCall call;
  if (!call.ready()) return lastError();
  DWORD done = 0;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  const BOOL started = WriteFile(impl_->handle, buffer, want, nullptr, call.get());
  if (int e = finish(impl_->handle, started, call, done)) return e;
  count = done;
  return 0;
}

int SerialDevice::clearErrors(uint32_t& errors, uint32_t& receiveQueued, uint32_t& transmitQueued) {
  DWORD flags = 0;
  COMSTAT stat {};
  errors = receiveQueued = transmitQueued = 0;
  if (!ClearCommError(impl_->handle, &flags, &stat)) return lastError();
  // The kLine* bits are the system's CE_* bits.
  errors = flags & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK);
  receiveQueued = stat.cbInQue;
  transmitQueued = stat.cbOutQue;
  return 0;
}

int SerialDevice::purge(bool receive, bool transmit) {
  const DWORD flags = (receive ? PURGE_RXCLEAR : 0) | (transmit ? PURGE_TXCLEAR : 0);
  if (!flags) return 0;
  return PurgeComm(impl_->handle, flags) ? 0 : lastError();
}

int SerialDevice::setDtr(bool raised) {
  return EscapeCommFunction(impl_->handle, raised ? SETDTR : CLRDTR) ? 0 : lastError();
}

int SerialDevice::setRts(bool raised) {
  return EscapeCommFunction(impl_->handle, raised ? SETRTS : CLRRTS) ? 0 : lastError();
}

int SerialDevice::setBreak(bool asserted) {
  return (asserted ? SetCommBreak(impl_->handle) : ClearCommBreak(impl_->handle)) ? 0 : lastError();
}

int SerialDevice::modemStatus(uint32_t& bits) {
  DWORD status = 0;
  bits = 0;
  if (!GetCommModemStatus(impl_->handle, &status)) return lastError();
  bits = status & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);  // the kModem* bits
  return 0;
}

int SerialDevice::waitEvent(uint32_t mask, uint32_t& fired, int timeoutMs) {
  fired = 0;
  if (!SetCommMask(impl_->handle, mask)) return lastError();
  OverlappedCall call;
  if (!call.ready()) return lastError();
  DWORD events = 0;
  if (WaitCommEvent(impl_->handle, &events, call.get())) {
    fired = events & mask;
    return 0;
  }
  if (GetLastError() != ERROR_IO_PENDING) return lastError();
  HANDLE wake[2] = {call.get()->hEvent, impl_->cancel};
  const DWORD r = WaitForMultipleObjects(2, wake, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  DWORD unused = 0;
  if (r == WAIT_OBJECT_0) {
    if (!GetOverlappedResult(impl_->handle, call.get(), &unused, FALSE)) return lastError();
    fired = events & mask;
    return 0;
  }
  if (r == WAIT_OBJECT_0 + 1) ResetEvent(impl_->cancel);  // taken: the next wait runs
  // Ended early: the pending wait completes once the mask changes, and the
  // call's memory must outlive it.
  SetCommMask(impl_->handle, 0);
  CancelIoEx(impl_->handle, call.get());
  GetOverlappedResult(impl_->handle, call.get(), &unused, TRUE);
  if (r == WAIT_FAILED) return lastError();
  return 0;
}

void SerialDevice::cancelWait() {
  if (impl_ && impl_->cancel) SetEvent(impl_->cancel);
}

void SerialDevice::clearCancel() {
  if (impl_ && impl_->cancel) ResetEvent(impl_->cancel);
}

std::vector<int> listComPorts() {
  // Every DOS device name, each ending in a zero, the list in another.
  std::string names(65535, '\0');
  const DWORD n = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
  std::vector<int> ports;
  for (size_t pos = 0; pos < n && names[pos] != '\0';) {
    const char* name = names.c_str() + pos;
    const size_t length = std::strlen(name);
    pos += length + 1;
    if (length < 4 || length > 6 || _strnicmp(name, "COM", 3) != 0) continue;
    int number = 0;
    bool digits = true;
    for (const char* c = name + 3; *c; ++c) {
      if (*c < '0' || *c > '9') digits = false;
      number = number * 10 + (*c - '0');
    }
    if (digits && number >= 1 && number <= 256) ports.push_back(number);
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

}  // namespace platform
