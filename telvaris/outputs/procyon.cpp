#include "outputs/procyon.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace outputs::procyon {

namespace {

constexpr uint8_t kStart = 0xA3;
constexpr uint8_t kReplyOk = 0xA1;
constexpr int kReplySize = 6;

// The steps of one rate code, as the level-2 log shows them.
struct RateSteps {
  double a = 0, log2a = 0, exponent = 0;
  int64_t p = 0, m = 0, code = 0;
};

RateSteps rateSteps(double rate, double modifier) {
  RateSteps s;
  s.a = rate * modifier;
  if (!(s.a > 0)) {
    s.code = -1;
    return s;
  }
  s.log2a = std::log2(s.a);
  s.exponent = 12 - s.log2a;
  s.p = static_cast<int64_t>(std::trunc(s.exponent));
  s.m = static_cast<int64_t>(std::trunc(s.a * std::ldexp(1.0, static_cast<int>(s.p)) + 0.5));
  s.code = s.p * 4096 + s.m;
  return s;
}

bool fits(const RateSteps& s) { return s.a > 0 && s.p >= 0 && s.code >= 0 && s.code <= 0xFFFF; }

void appendChecksum(std::vector<uint8_t>& packet) {
  const uint16_t sum = checksum(packet.data(), packet.size());
  packet.push_back(static_cast<uint8_t>(sum >> 8));
  packet.push_back(static_cast<uint8_t>(sum));
}

void appendCode(std::vector<uint8_t>& packet, uint16_t code, int times) {
  for (int i = 0; i < times; ++i) {
    packet.push_back(static_cast<uint8_t>(code >> 8));
    packet.push_back(static_cast<uint8_t>(code));
  }
}

}  // namespace

std::optional<uint16_t> rateCode(double rate, double modifier) {
  const RateSteps s = rateSteps(rate, modifier);
  if (!fits(s)) return std::nullopt;
  return static_cast<uint16_t>(s.code);
}

uint16_t checksum(const uint8_t* bytes, size_t count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint16_t>(sum);
}

std::vector<uint8_t> stopPacket() { return {kStart, 0x33, 0x06, 0x14, 0x00, 0xF0}; }
std::vector<uint8_t> startUp2Packet() { return {kStart, 0x33, 0x07, 0x1C, 0x01, 0x00, 0xFA}; }
std::vector<uint8_t> startUp3Packet() { return {kStart, 0x33, 0x06, 0x1A, 0x00, 0xF6}; }

std::vector<uint8_t> functionPacket(uint8_t function, uint16_t value) {
  std::vector<uint8_t> packet{kStart, 0x30, 0x08, function, static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value)};
  appendChecksum(packet);
  return packet;
}

std::vector<uint8_t> initialSegment(uint16_t lightCode, uint16_t soundCode) {
  // The device's own layout; the fixed bytes are sent as they stand.
  std::vector<uint8_t> packet{kStart, 0x31, 0x3F, 0x20, 0x64, 0x7F, 0x01, 0x81, 0x81, 0x55, 0x7F, 0x77, 0x77};
  appendCode(packet, lightCode, 6);
  appendCode(packet, soundCode, 2);
  packet.insert(packet.end(), {0xFF, 0xFF});
  appendCode(packet, soundCode, 2);
  packet.insert(packet.end(), {0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF});
  packet.insert(packet.end(), 6, 0x7F);
  packet.insert(packet.end(), 6, 0x80);
  packet.insert(packet.end(), 6, 0x00);
  appendChecksum(packet);
  return packet;
}

namespace {

// One device per process. The calls come from one thread; the lock only
// keeps a stray second caller from tearing the log or the port.
struct Session {
  std::mutex lock;
  int32_t port = 0;  // COM1 until SetProcyonComPort
  int32_t debugLevel = 0;
  FILE* log = nullptr;
  bool portOpen = false;

  void write(int level, const std::string& text) {
    if (log && debugLevel >= level) {
      std::fputs(text.c_str(), log);
      std::fflush(log);
    }
  }

  // Sends the packet; at level 2 and above logs it, waits for the device
  // and logs its reply.
  int32_t send(const std::vector<uint8_t>& packet) {
    const int32_t written = comports::PortSendBytes(port, packet.data(), static_cast<int32_t>(packet.size()));
    if (debugLevel < 2) return written;
    std::string line = ">> ";
    for (uint8_t b : packet) line += std::to_string(b) + " ";
    write(2, line + " RC=" + std::to_string(written) + "\n");
    platform::sleepMs(200);
    uint8_t reply[kReplySize] = {};
    const int32_t read = comports::PortGets(port, reply, kReplySize);
    line = "<< ";
    for (uint8_t b : reply) line += std::to_string(b) + " ";
    if (reply[3] != kReplyOk) line += "Error condition... ";
    write(2, line + " RC=" + std::to_string(read) + "\n");
    return read;
  }

  void closeLog() {
    if (log) std::fclose(log);
    log = nullptr;
  }

  void logRateSteps(double rate, double modifier) {
    const RateSteps s = rateSteps(rate, modifier);
    char text[400];
    std::snprintf(text, sizeof text, "\nFrequency=%f\nModifier=%f\nx1=%f\nx2=%f\nx3=%f\nx4=%d\nx5=%d\nx6=%d\n", rate,
                  modifier, s.a, s.log2a, s.exponent, static_cast<int>(s.p), static_cast<int>(s.m),
                  static_cast<int>(s.code));
    write(2, text);
  }
};

Session& session() {
  static Session* const instance = new Session;  // outlives every caller's thread
  return *instance;
}

std::string formatted(const char* format, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

}  // namespace

}  // namespace outputs::procyon

using namespace outputs::procyon;

extern "C" {

TLV_API int32_t TLV_CALL SetProcyonComPort(int32_t port) {
  auto& s = session();
  std::lock_guard<std::mutex> hold(s.lock);
  s.port = port;
  return 0;
}

TLV_API int32_t TLV_CALL SetProcyonDebugLevel(int32_t level) {
  auto& s = session();
  std::lock_guard<std::mutex> hold(s.lock);
  s.debugLevel = level;
  return 0;
}

TLV_API int32_t TLV_CALL initialiseAVESession(int32_t lightRate, int32_t soundRate) {
  // Rates the device cannot be given are refused before anything happens.
  const auto lightCode = rateCode(lightRate, kLightModifier);
  const auto soundCode = rateCode(soundRate, kSoundModifier);
  if (!lightCode || !soundCode) return -1;

  auto& s = session();
  std::lock_guard<std::mutex> hold(s.lock);
  // A session still running is ended first: its port and log are closed,
  // not opened a second time.
  s.closeLog();
  if (s.portOpen) comports::PortClose(s.port);
  s.portOpen = false;

  if (s.debugLevel >= 1) s.log = std::fopen("procyon.log", "w");
  s.write(1, "Telvaris to Procyon Communications Log\n");
  s.write(1, platform::utcTimeText("%Y/%m/%d-%H:%M:%S\n"));
  s.write(1, "\nSetting Up Communications...\n\n");

  int32_t rc = comports::PortOpen(s.port, 4000000, 1024);
  s.portOpen = rc >= 0;
  if (rc >= 0) rc = comports::PortParms(s.port, 0, 0, 8);
  if (rc >= 0) rc = comports::PortBaud(s.port, 6);  // 19200 baud
  if (rc >= 0) rc = comports::PortDTR(s.port, 'S');
  if (rc >= 0) rc = comports::PortRTS(s.port, 'S');
  if (rc < 0) {
    s.write(1, formatted("Communication Error. Return Code is %d\n", rc));
    return 1;
  }
  s.write(1, "Communications established\n");
  s.send(stopPacket());
  s.send(startUp2Packet());
  s.send(startUp3Packet());

  s.write(1, formatted("\nValues passed into DLL:\nLightrate=%d\nsoundRate=%d\n", lightRate, soundRate));
  s.write(1, formatted("Constructing Initial Segment: Sound=%f, Light=%f\n", static_cast<double>(soundRate),
                       static_cast<double>(lightRate)));
  s.logRateSteps(lightRate, kLightModifier);
  s.logRateSteps(soundRate, kSoundModifier);
  const std::vector<uint8_t> segment = initialSegment(*lightCode, *soundCode);
  if (s.debugLevel >= 3) {
    std::fprintf(stderr, "CheckSum = %x\n\n", checksum(segment.data(), 61));
    if (FILE* copy = std::fopen("procyon.dat", "wb")) {
      std::fwrite(segment.data(), 1, segment.size(), copy);
      std::fclose(copy);
    }
  }
  s.send(segment);
  return 0;
}

TLV_API int32_t TLV_CALL relayToProcyon(int32_t type, int32_t function, int32_t value) {
  auto& s = session();
  std::lock_guard<std::mutex> hold(s.lock);
  const uint8_t functionByte = static_cast<uint8_t>(function);
  s.write(1, formatted("\nrelayToProcyon: Type=%d, Function=%u, Value=%d\n", type, unsigned{functionByte}, value));
  uint16_t sent = static_cast<uint8_t>(value);
  // Rate functions carry a rate code; the modifier in single precision.
  if (functionByte <= 9 || (functionByte >= 96 && functionByte <= 99)) {
    const double modifier = static_cast<float>(type == 0 ? kLightModifier : kSoundModifier);
    const auto code = rateCode(value, modifier);
    if (!code) return -1;  // no code for that rate: nothing sent
    sent = *code;
  }
  s.send(functionPacket(functionByte, sent));
  return 0;
}

TLV_API int32_t TLV_CALL stopProcyonSession(void) {
  auto& s = session();
  std::lock_guard<std::mutex> hold(s.lock);
  s.send(stopPacket());
  return 0;
}

TLV_API int32_t TLV_CALL terminateAVESession(void) {
  auto& s = session();
  std::lock_guard<std::mutex> hold(s.lock);
  s.write(1, "\nEnd of session\n");
  s.send(stopPacket());
  s.closeLog();
  comports::PortClose(s.port);
  s.portOpen = false;
  return 0;
}

}  // extern "C"
