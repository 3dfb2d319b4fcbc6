#include "outputs/procyon.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <new>
#include <string>

#include "platform/clock.h"
#include "serial/comports.h"
#include "telvaris.h"

#if defined(__GNUC__)
#define PROCYON_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define PROCYON_PRINTF(fmt, args)
#endif

namespace outputs::procyon {

namespace {

constexpr uint8_t kStart = 0xA3;
constexpr uint8_t kReplyOk = 0xA1;
constexpr int kReplySize = 6;

constexpr uint8_t kStopPacket[] = {kStart, 0x33, 0x06, 0x14, 0x00, 0xF0};
constexpr uint8_t kStartUp2Packet[] = {kStart, 0x33, 0x07, 0x1C, 0x01, 0x00, 0xFA};
constexpr uint8_t kStartUp3Packet[] = {kStart, 0x33, 0x06, 0x1A, 0x00, 0xF6};

// The steps of one rate code, as the level-2 log shows them: p and m are
// the ones sent when there is a code.
struct RateSteps {
  double a = 0, log2a = 0, exponent = 0;
  int64_t p = 0, m = 0;
  bool fits = false;
  int64_t code() const { return p * 4096 + m; }
};

RateSteps rateSteps(double rate, double modifier) {
  RateSteps s;
  s.a = rate * modifier;
  if (!(s.a > 0) || !std::isfinite(s.a)) return s;
  s.log2a = std::log2(s.a);
  s.exponent = 12 - s.log2a;
  s.p = static_cast<int64_t>(std::trunc(s.exponent));
  if (s.p > 16) return s;  // a below 1/32: no code, and 2^p may not be finite
  s.m = static_cast<int64_t>(std::trunc(s.a * std::ldexp(1.0, static_cast<int>(s.p)) + 0.5));
  // m = 4096 has no 12 bits. It comes at a power of two (a x 2^p = 4096),
  // and with p = 0 for a up to 4096.5 as well.
  if (s.m == 4096 && s.p > 0) {
    s.p -= 1;
    s.m = 2048;
  } else if (s.m == 4096 && s.p == 0) {
    s.m = 4095;
  }
  s.fits = s.p >= 0 && s.p <= 15 && s.m <= 4095;
  return s;
}

template <size_t N>
void putCode(std::array<uint8_t, N>& packet, size_t& at, uint16_t code, int times) {
  for (int i = 0; i < times; ++i) {
    packet[at++] = static_cast<uint8_t>(code >> 8);
    packet[at++] = static_cast<uint8_t>(code);
  }
}

template <size_t N>
void putBytes(std::array<uint8_t, N>& packet, size_t& at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) packet[at++] = b;
}

}  // namespace

std::optional<uint16_t> rateCode(double rate, double modifier) {
  const RateSteps s = rateSteps(rate, modifier);
  if (!s.fits) return std::nullopt;
  return static_cast<uint16_t>(s.code());
}

uint16_t checksum(const uint8_t* bytes, size_t count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint16_t>(sum);
}

FunctionPacket functionPacket(uint8_t function, uint16_t value) {
  FunctionPacket packet{kStart, 0x30, 0x08, function};
  size_t at = 4;
  putCode(packet, at, value, 1);
  putCode(packet, at, checksum(packet.data(), at), 1);
  return packet;
}

InitialSegment initialSegment(uint16_t lightCode, uint16_t soundCode) {
  // The device's own layout; the fixed bytes are sent as they stand.
  InitialSegment packet{};
  size_t at = 0;
  putBytes(packet, at, {kStart, 0x31, 0x3F, 0x20, 0x64, 0x7F, 0x01, 0x81, 0x81, 0x55, 0x7F, 0x77, 0x77});
  putCode(packet, at, lightCode, 6);
  putCode(packet, at, soundCode, 2);
  putBytes(packet, at, {0xFF, 0xFF});
  putCode(packet, at, soundCode, 2);
  putBytes(packet, at, {0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF});
  putBytes(packet, at, {0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
  putBytes(packet, at, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  putCode(packet, at, checksum(packet.data(), at), 1);
  return packet;
}

namespace {

// One device per process. The calls come from one thread; the lock only
// keeps a stray second caller from tearing the log or the port. Nothing
// here allocates once the port is set up, so a session under way cannot
// fail for memory.
struct Session {
  std::mutex lock;
  int32_t port = 0;  // COM1 until SetProcyonComPort
  int32_t debugLevel = 0;
  FILE* log = nullptr;
  bool portOpen = false;

  void write(int level, const char* format, ...) PROCYON_PRINTF(3, 4) {
    if (!log || debugLevel < level) return;
    va_list values;
    va_start(values, format);
    std::vfprintf(log, format, values);
    va_end(values);
    std::fflush(log);
  }

  // Sends the packet; at level 2 and above logs it, waits for the device
  // and logs its reply.
  int32_t send(const uint8_t* packet, size_t size) {
    const int32_t written = comports::PortSendBytes(port, packet, static_cast<int32_t>(size));
    if (debugLevel < 2) return written;
    write(2, ">> ");
    for (size_t i = 0; i < size; ++i) write(2, "%d ", packet[i]);
    write(2, " RC=%d\n", written);
    platform::sleepMs(200);
    uint8_t reply[kReplySize] = {};
    const int32_t read = comports::PortGets(port, reply, kReplySize);
    write(2, "<< ");
    for (uint8_t b : reply) write(2, "%d ", b);
    if (reply[3] != kReplyOk) write(2, "Error condition... ");
    write(2, " RC=%d\n", read);
    return read;
  }
  template <size_t N>
  int32_t send(const uint8_t (&packet)[N]) {
    return send(packet, N);
  }
  template <size_t N>
  int32_t send(const std::array<uint8_t, N>& packet) {
    return send(packet.data(), N);
  }

  void closeLog() {
    if (log) std::fclose(log);
    log = nullptr;
  }

  void closePort() {
    if (portOpen) comports::PortClose(port);
    portOpen = false;
  }

  // The code of `rate`, its steps logged at level 2.
  std::optional<uint16_t> code(double rate, double modifier) {
    const RateSteps s = rateSteps(rate, modifier);
    write(2, "\nFrequency=%f\nModifier=%f\nx1=%f\nx2=%f\nx3=%f\nx4=%d\nx5=%d\nx6=%d\n", rate, modifier, s.a, s.log2a,
          s.exponent, static_cast<int>(s.p), static_cast<int>(s.m), static_cast<int>(s.code()));
    if (!s.fits) return std::nullopt;
    return static_cast<uint16_t>(s.code());
  }

  int32_t initialise(int32_t lightRate, int32_t soundRate);
  int32_t relay(int32_t type, int32_t function, int32_t value);
};

Session& session() {
  static Session* const instance = new Session;  // outlives every caller's thread
  return *instance;
}

int32_t Session::initialise(int32_t lightRate, int32_t soundRate) {
  // Rates the device cannot be given are refused before anything happens.
  if (!rateCode(lightRate, kLightModifier) || !rateCode(soundRate, kSoundModifier)) return kNoRateCode;

  // A session still running is ended first: its port and log are closed,
  // not opened a second time.
  closeLog();
  closePort();

  if (debugLevel >= 1) log = std::fopen("procyon.log", "w");
  write(1, "Telvaris to Procyon Communications Log\n");
  write(1, "%s", platform::utcTimeText("%Y/%m/%d-%H:%M:%S\n").c_str());
  write(1, "\nSetting Up Communications...\n\n");

  int32_t rc = comports::kNoMemory;
  try {
    rc = comports::PortOpen(port, 4000000, 1024);
  } catch (const std::bad_alloc&) {
    // The serial layer's own code for it, in the log as any other.
  }
  portOpen = rc >= 0;
  if (rc >= 0) rc = comports::PortParms(port, 0, 0, 8);
  if (rc >= 0) rc = comports::PortBaud(port, 6);  // 19200 baud
  if (rc >= 0) rc = comports::PortDTR(port, 'S');
  if (rc >= 0) rc = comports::PortRTS(port, 'S');
  if (rc < 0) {
    write(1, "Communication Error. Return Code is %d\n", rc);
    return kPortNotSetUp;
  }
  write(1, "Communications established\n");
  send(kStopPacket);
  send(kStartUp2Packet);
  send(kStartUp3Packet);

  write(1, "\nValues passed into DLL:\nLightrate=%d\nsoundRate=%d\n", lightRate, soundRate);
  write(1, "Constructing Initial Segment: Sound=%f, Light=%f\n", static_cast<double>(soundRate),
        static_cast<double>(lightRate));
  const uint16_t lightCode = *code(lightRate, kLightModifier);
  const uint16_t soundCode = *code(soundRate, kSoundModifier);
  const InitialSegment segment = initialSegment(lightCode, soundCode);
  if (debugLevel >= 3) {
    std::fprintf(stderr, "CheckSum = %x\n\n", checksum(segment.data(), segment.size() - 2));
    if (FILE* copy = std::fopen("procyon.dat", "wb")) {
      std::fwrite(segment.data(), 1, segment.size(), copy);
      std::fclose(copy);
    }
  }
  send(segment);
  return kOk;
}

int32_t Session::relay(int32_t type, int32_t function, int32_t value) {
  const uint8_t functionByte = static_cast<uint8_t>(function);
  write(1, "\nrelayToProcyon: Type=%d, Function=%u, Value=%d\n", type, unsigned{functionByte}, value);
  uint16_t sent = static_cast<uint8_t>(value);
  // Rate functions carry a rate code; the modifier in single precision.
  if (functionByte <= 9 || (functionByte >= 96 && functionByte <= 99)) {
    const double modifier = static_cast<float>(type == 0 ? kLightModifier : kSoundModifier);
    const auto rate = code(value, modifier);
    if (!rate) return kNoRateCode;  // nothing sent
    sent = *rate;
  }
  send(functionPacket(functionByte, sent));
  return kOk;
}

// Runs one call under the session's lock; an exception that escapes it
// (none is expected once the port is set up) ends the call with `failure`.
template <class Work>
int32_t guarded(int32_t failure, Work work) noexcept {
  try {
    Session& s = session();
    std::lock_guard<std::mutex> hold(s.lock);
    return work(s);
  } catch (...) {
    return failure;
  }
}

}  // namespace

int32_t setComPort(int32_t port) noexcept {
  return guarded(kOk, [port](Session& s) {
    s.port = port;
    return kOk;
  });
}

int32_t setDebugLevel(int32_t level) noexcept {
  return guarded(kOk, [level](Session& s) {
    s.debugLevel = level;
    return kOk;
  });
}

int32_t initialise(int32_t lightRate, int32_t soundRate) noexcept {
  return guarded(kPortNotSetUp, [=](Session& s) { return s.initialise(lightRate, soundRate); });
}

int32_t relay(int32_t type, int32_t function, int32_t value) noexcept {
  return guarded(kNoRateCode, [=](Session& s) { return s.relay(type, function, value); });
}

int32_t stop() noexcept {
  return guarded(kOk, [](Session& s) {
    s.send(kStopPacket);
    return kOk;
  });
}

int32_t terminate() noexcept {
  return guarded(kOk, [](Session& s) {
    s.write(1, "\nEnd of session\n");
    s.send(kStopPacket);
    s.closeLog();
    comports::PortClose(s.port);
    s.portOpen = false;
    return kOk;
  });
}

}  // namespace outputs::procyon

extern "C" {

TLV_API int32_t TLV_CALL SetProcyonComPort(int32_t port) { return outputs::procyon::setComPort(port); }

TLV_API int32_t TLV_CALL SetProcyonDebugLevel(int32_t level) { return outputs::procyon::setDebugLevel(level); }

TLV_API int32_t TLV_CALL initialiseAVESession(int32_t lightRate, int32_t soundRate) {
  return outputs::procyon::initialise(lightRate, soundRate);
}

TLV_API int32_t TLV_CALL relayToProcyon(int32_t type, int32_t function, int32_t value) {
  return outputs::procyon::relay(type, function, value);
}

TLV_API int32_t TLV_CALL stopProcyonSession(void) { return outputs::procyon::stop(); }

TLV_API int32_t TLV_CALL terminateAVESession(void) { return outputs::procyon::terminate(); }

}  // extern "C"
