#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/paths.h"
#include "platform/serial_device.h"

extern "C" int tl_serial_set_any_baud(int fd, unsigned rate);
extern "C" int tl_serial_get_any_baud(int fd, unsigned* rate);

namespace platform {
namespace {

constexpr uint32_t kForever = 0xFFFFFFFFu;

using Clock = std::chrono::steady_clock;

// Standard rates have a termios code; any other rate goes through termios2.
struct RateCode {
  uint32_t rate;
  speed_t code;
};
constexpr RateCode kRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool standardCode(uint32_t rate, speed_t& code) {
  for (const auto& r : kRates) {
    if (r.rate == rate) {
      code = r.code;
      return true;
    }
  }
  return false;
}

// The device behind COM n: a link under the root's dosdevices folder when
// there is one (tests and users point it anywhere), else the usual kernel
// names for on-board, USB and CDC-ACM ports.
std::string devicePath(int comNumber) {
  std::string link = telvarisRoot() + "/dosdevices/com" + std::to_string(comNumber);
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) return link;
  if (comNumber >= 1 && comNumber <= 32) return "/dev/ttyS" + std::to_string(comNumber - 1);
  if (comNumber >= 33 && comNumber <= 64) return "/dev/ttyUSB" + std::to_string(comNumber - 33);
  if (comNumber >= 65 && comNumber <= 96) return "/dev/ttyACM" + std::to_string(comNumber - 65);
  return {};
}

// On-board ttyS nodes exist whether or not a UART is fitted; the kernel
// reports an absent one as type 0.
bool uartFitted(int index) {
  std::ifstream type("/sys/class/tty/ttyS" + std::to_string(index) + "/type");
  int value = 0;
  if (!(type >> value)) return true;  // no sysfs to ask: trust the node
  return value != 0;
}

// Pseudo-terminals and some adapters have no modem lines; the kernel says
// so with one of these.
bool noModemLines(int error) { return error == ENOTTY || error == EINVAL; }

int pollOne(int fd, short events, int timeoutMs) {
  pollfd p {fd, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs);
    if (r >= 0) return r;
    if (errno != EINTR) return -1;
  }
}

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

}  // namespace

struct SerialDevice::Impl {
  int fd = -1;
  int wakeRead = -1;  // self-pipe that ends waitEvent early
  int wakeWrite = -1;
  SerialTimeouts timeouts;
  serial_icounter_struct lastCounts {};
  bool haveCounts = false;
};

SerialDevice::SerialDevice(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SerialDevice::~SerialDevice() { close(); }

std::unique_ptr<SerialDevice> SerialDevice::open(int comNumber, int& error) {
  const std::string path = devicePath(comNumber);
  if (path.empty()) {
    error = ENOENT;
    return nullptr;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  // Windows opens a port exclusively; a lock keeps a second opener out.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = (errno == EWOULDBLOCK) ? EBUSY : errno;
    ::close(fd);
    return nullptr;
  }
  termios tio {};
  if (tcgetattr(fd, &tio) != 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->fd = fd;
  impl->wakeRead = pipeFds[0];
  impl->wakeWrite = pipeFds[1];
  error = 0;
  return std::unique_ptr<SerialDevice>(new SerialDevice(std::move(impl)));
}

int SerialDevice::close() {
  if (!impl_ || impl_->fd < 0) return 0;
  int result = ::close(impl_->fd) == 0 ? 0 : errno;
  ::close(impl_->wakeRead);
  ::close(impl_->wakeWrite);
  impl_->fd = impl_->wakeRead = impl_->wakeWrite = -1;
  return result;
}

int SerialDevice::getLineSettings(SerialLineSettings& out) {
  termios tio {};
  if (tcgetattr(impl_->fd, &tio) != 0) return errno;
  unsigned rate = 0;
  if (int e = tl_serial_get_any_baud(impl_->fd, &rate)) return e;
  out.baud = rate;
  switch (tio.c_cflag & CSIZE) {
    case CS5: out.dataBits = 5; break;
    case CS6: out.dataBits = 6; break;
    case CS7: out.dataBits = 7; break;
    default: out.dataBits = 8; break;
  }
  if (!(tio.c_cflag & PARENB)) {
    out.parity = 0;
  } else if (tio.c_cflag & CMSPAR) {
    out.parity = (tio.c_cflag & PARODD) ? 3 : 4;
  } else {
    out.parity = (tio.c_cflag & PARODD) ? 1 : 2;
  }
  out.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
  out.rtsCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  out.xonXoffOutput = (tio.c_iflag & IXON) != 0;
  out.xonXoffInput = (tio.c_iflag & IXOFF) != 0;
  out.xonChar = tio.c_cc[VSTART];
  out.xoffChar = tio.c_cc[VSTOP];
  int lines = 0;
  if (ioctl(impl_->fd, TIOCMGET, &lines) == 0) {
    out.dtrOn = (lines & TIOCM_DTR) != 0;
    out.rtsOn = (lines & TIOCM_RTS) != 0;
  }
  return 0;
}

int SerialDevice::setLineSettings(const SerialLineSettings& s) {
  termios tio {};
  if (tcgetattr(impl_->fd, &tio) != 0) return errno;
  // Binary: no translation, no echo, no signals, no stripping.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                         IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD;
  switch (s.dataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
  }
  switch (s.parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (s.stopBits != 0) tio.c_cflag |= CSTOPB;  // 1.5 stop bits are sent as 2
  if (s.rtsCtsFlow) tio.c_cflag |= CRTSCTS;
  if (s.xonXoffOutput) tio.c_iflag |= IXON;
  if (s.xonXoffInput) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = s.xonChar;
  tio.c_cc[VSTOP] = s.xoffChar;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  speed_t code;
  const bool standard = standardCode(s.baud, code);
  if (standard) cfsetspeed(&tio, code);
  if (tcsetattr(impl_->fd, TCSANOW, &tio) != 0) return errno;
  if (!standard) {
    if (s.baud == 0) return EINVAL;
    if (int e = tl_serial_set_any_baud(impl_->fd, s.baud)) return e;
  }
  // The lines follow the settings, where the device has them.
  for (auto [on, bit] : {std::pair{s.dtrOn, TIOCM_DTR}, std::pair{s.rtsOn, TIOCM_RTS}}) {
    int b = bit;
    if (ioctl(impl_->fd, on ? TIOCMBIS : TIOCMBIC, &b) != 0 && !noModemLines(errno)) return errno;
  }
  return 0;
}

int SerialDevice::setQueueSizes(uint32_t, uint32_t) {
  // The kernel sizes its own queues; nothing to refuse.
  return 0;
}

int SerialDevice::getTimeouts(SerialTimeouts& out) const {
  out = impl_->timeouts;
  return 0;
}

int SerialDevice::setTimeouts(const SerialTimeouts& timeouts) {
  impl_->timeouts = timeouts;
  return 0;
}

int SerialDevice::read(void* buffer, size_t size, size_t& count) {
  count = 0;
  if (size == 0) return 0;
  const SerialTimeouts& t = impl_->timeouts;
  auto* out = static_cast<unsigned char*>(buffer);

  // Takes everything queued, up to `size`, as a Windows read with these
  // time-outs takes the whole receive queue: one read of a terminal gives
  // at most what its line discipline holds (4 KB), far less than a reader
  // that looks ten times a second must take.
  auto readQueued = [&]() -> int {
    while (count < size) {
      ssize_t n = ::read(impl_->fd, out + count, size - count);
      if (n > 0) {
        count += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (count > 0 || (n < 0 && errno == EAGAIN)) return 0;  // an error shows at the next read
      if (n < 0) return errno;
      // A line with nothing queued and a line whose far end hung up both
      // read 0 bytes here; only the hung-up one polls as such, and a reader
      // must learn that the line is gone rather than wait on it for good.
      pollfd p {impl_->fd, POLLIN, 0};
      if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR))) return EIO;
      return 0;
    }
    return 0;
  };

  // Return at once with whatever is queued.
  if (t.readInterval == kForever && t.readMultiplier == 0 && t.readConstant == 0) return readQueued();

  // Wait up to the constant for the first byte, then take what is queued.
  if (t.readInterval == kForever && t.readMultiplier == kForever && t.readConstant > 0 &&
      t.readConstant < kForever) {
    int r = pollOne(impl_->fd, POLLIN, static_cast<int>(std::min<uint32_t>(t.readConstant, 1u << 30)));
    if (r < 0) return errno;
    return r == 0 ? 0 : readQueued();
  }

  // General case: a total time-out, an interval between bytes, or neither
  // (then the read waits for every byte asked for).
  const uint64_t totalMs = static_cast<uint64_t>(t.readMultiplier) * size + t.readConstant;
  const bool hasTotal = totalMs > 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::min<uint64_t>(totalMs, 1ull << 31));
  const bool hasInterval = t.readInterval != 0 && t.readInterval != kForever;
  while (count < size) {
    int wait = -1;
    if (hasTotal) wait = remainingMs(deadline);
    if (hasInterval && count > 0) {
      int interval = static_cast<int>(std::min<uint32_t>(t.readInterval, 1u << 30));
      wait = (wait < 0) ? interval : std::min(wait, interval);
    }
    if (hasTotal && wait == 0) break;
    int r = pollOne(impl_->fd, POLLIN, wait);
    if (r < 0) return errno;
    if (r == 0) break;  // total or interval time-out
    if (int e = readQueued()) return e;  // a hung-up line ends the wait as an error
  }
  return 0;
}

int SerialDevice::write(const void* buffer, size_t size, size_t& count) {
  count = 0;
  const SerialTimeouts& t = impl_->timeouts;
  const uint64_t totalMs = static_cast<uint64_t>(t.writeMultiplier) * size + t.writeConstant;
  const bool hasTotal = totalMs > 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::min<uint64_t>(totalMs, 1ull << 31));
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (count < size) {
    ssize_t n = ::write(impl_->fd, in + count, size - count);
    if (n > 0) {
      count += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return errno;
    int wait = hasTotal ? remainingMs(deadline) : -1;
    if (hasTotal && wait == 0) break;  // written what fitted in the time
    int r = pollOne(impl_->fd, POLLOUT, wait);
    if (r < 0) return errno;
    if (r == 0) break;
  }
  return 0;
}

int SerialDevice::clearErrors(uint32_t& errors, uint32_t& receiveQueued, uint32_t& transmitQueued) {
  errors = 0;
  serial_icounter_struct counts {};
  if (ioctl(impl_->fd, TIOCGICOUNT, &counts) == 0) {
    if (impl_->haveCounts) {
      const auto& last = impl_->lastCounts;
      if (counts.overrun != last.overrun) errors |= kLineOverrun;
      if (counts.parity != last.parity) errors |= kLineParity;
      if (counts.frame != last.frame) errors |= kLineFrame;
      if (counts.brk != last.brk) errors |= kLineBreak;
      if (counts.buf_overrun != last.buf_overrun) errors |= kLineQueueOverflow;
    }
    impl_->lastCounts = counts;
    impl_->haveCounts = true;
  }
  int queued = 0;
  receiveQueued = (ioctl(impl_->fd, FIONREAD, &queued) == 0 && queued > 0) ? static_cast<uint32_t>(queued) : 0;
  queued = 0;
  transmitQueued = (ioctl(impl_->fd, TIOCOUTQ, &queued) == 0 && queued > 0) ? static_cast<uint32_t>(queued) : 0;
  return 0;
}

int SerialDevice::purge(bool receive, bool transmit) {
  int which = receive && transmit ? TCIOFLUSH : receive ? TCIFLUSH : TCOFLUSH;
  if (!receive && !transmit) return 0;
  return tcflush(impl_->fd, which) == 0 ? 0 : errno;
}

static int setLine(int fd, int bit, bool raised) {
  return ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : errno;
}

int SerialDevice::setDtr(bool raised) { return setLine(impl_->fd, TIOCM_DTR, raised); }
int SerialDevice::setRts(bool raised) { return setLine(impl_->fd, TIOCM_RTS, raised); }

int SerialDevice::setBreak(bool asserted) {
  return ioctl(impl_->fd, asserted ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : errno;
}

int SerialDevice::modemStatus(uint32_t& bits) {
  bits = 0;
  int lines = 0;
  if (ioctl(impl_->fd, TIOCMGET, &lines) != 0) return errno;
  if (lines & TIOCM_CTS) bits |= kModemCts;
  if (lines & TIOCM_DSR) bits |= kModemDsr;
  if (lines & TIOCM_RI) bits |= kModemRing;
  if (lines & TIOCM_CD) bits |= kModemDcd;
  return 0;
}

int SerialDevice::waitEvent(uint32_t mask, uint32_t& fired, int timeoutMs) {
  fired = 0;
  // Modem lines and line errors have no file event to wait on: they are
  // sampled every 10 ms while the wait lasts.
  const uint32_t sampled = kEventCts | kEventDsr | kEventDcd | kEventRing | kEventBreak | kEventError | kEventTxEmpty;
  const bool sampling = (mask & sampled) != 0;
  uint32_t lastModem = 0;
  int lastModemKnown = sampling ? (modemStatus(lastModem) == 0) : 0;
  uint32_t dummyErrors, rx, tx;
  clearErrors(dummyErrors, rx, tx);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    pollfd p[2] = {{impl_->fd, static_cast<short>((mask & kEventRxChar) ? POLLIN : 0), 0},
                   {impl_->wakeRead, POLLIN, 0}};
    int wait = sampling ? 10 : -1;
    if (timeoutMs >= 0) {
      int left = remainingMs(deadline);
      wait = (wait < 0) ? left : std::min(wait, left);
    }
    int r = ::poll(p, 2, wait);
    if (r < 0 && errno != EINTR) return errno;
    if (r > 0 && (p[1].revents & POLLIN)) {
      char drain[16];
      while (::read(impl_->wakeRead, drain, sizeof drain) > 0) {
      }
      return 0;
    }
    if (r > 0 && (p[0].revents & POLLIN)) fired |= kEventRxChar;
    if (sampling) {
      uint32_t modem = 0;
      if (lastModemKnown && modemStatus(modem) == 0) {
        const uint32_t changed = modem ^ lastModem;
        if (changed & kModemCts) fired |= kEventCts;
        if (changed & kModemDsr) fired |= kEventDsr;
        if (changed & kModemDcd) fired |= kEventDcd;
        if ((changed & kModemRing) && (modem & kModemRing)) fired |= kEventRing;
        lastModem = modem;
      }
      uint32_t errors = 0;
      clearErrors(errors, rx, tx);
      if (errors & kLineBreak) fired |= kEventBreak;
      if (errors & ~kLineBreak) fired |= kEventError;
      if (tx == 0) fired |= kEventTxEmpty;
    }
    fired &= mask;
    if (fired) return 0;
    if (timeoutMs >= 0 && remainingMs(deadline) == 0) return 0;
  }
}

void SerialDevice::cancelWait() {
  if (impl_ && impl_->wakeWrite >= 0) {
    char one = 1;
    [[maybe_unused]] ssize_t n = ::write(impl_->wakeWrite, &one, 1);
  }
}

void SerialDevice::clearCancel() {
  if (!impl_ || impl_->wakeRead < 0) return;
  char drain[16];
  while (::read(impl_->wakeRead, drain, sizeof drain) > 0) {
  }
}

std::vector<int> listComPorts() {
  std::vector<int> ports;
  for (int com = 1; com <= 256; ++com) {
    const std::string path = devicePath(com);
    if (path.empty()) continue;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) continue;  // a link must lead somewhere
    if (path.rfind("/dev/ttyS", 0) == 0 && !uartFitted(com - 1)) continue;
    ports.push_back(com);
  }
  return ports;
}

}  // namespace platform
