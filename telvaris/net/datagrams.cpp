#include "net/datagrams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "boundary.h"
#include "platform/paths.h"
#include "platform/udp.h"
#include "telvaris.h"

namespace net::datagrams {

namespace {

void putBigEndian(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

void putLittleEndian(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

// Receivers read the integers as text: "%d" of each value.
std::string listed(const int32_t* values, std::initializer_list<int> which, const char* separator) {
  std::string out;
  for (int index : which) {
    if (!out.empty()) out += separator;
    out += std::to_string(values[index]);
  }
  return out;
}

}  // namespace

std::array<uint8_t, kBundleSize> oscBundle(const std::string& pattern, const uint32_t values[5],
                                           uint32_t unixSeconds) {
  std::array<uint8_t, kBundleSize> bundle{};
  std::memcpy(bundle.data(), "#bundle ", 8);
  putLittleEndian(&bundle[8], unixSeconds);
  putBigEndian(&bundle[16], 52);  // the message that follows
  std::memcpy(&bundle[20], pattern.data(), std::min(pattern.size(), kMaxPatternLength));
  std::memcpy(&bundle[44], ",fffff", 6);
  for (int i = 0; i < 5; ++i) putBigEndian(&bundle[52 + 4 * i], values[i]);
  return bundle;
}

std::optional<std::string> jsonText(int32_t type, const std::string& address, const int32_t* values) {
  // The layouts receivers parse, keys unquoted and a comma after the object.
  switch (type) {
    case 2:
      return "{\n address: \"" + address + "\",\n args:[\n  " + listed(values, {0, 1}, ",\n  ") + "\n ]\n},";
    case 4:
      return "{address:\"" + address + "\",args:[" + listed(values, {1, 5}, ",") + ",1023,1023]},";
    case 6:
      return "{\n address: \"" + address + "\",\n args:[\n  " + listed(values, {0, 1, 2, 3, 4, 5}, ",\n  ") +
             "\n ]\n},";
    case 8:
      return "{\n address: \"" + address + "\",\n args:[\n  " +
             listed(values, {0, 1, 2, 3, 4, 5, 6, 7}, ",\n  ") + "\n ]\n},";
    default:
      return std::nullopt;
  }
}

namespace {

// The one client of the process.
struct Client {
  std::mutex lock;
  bool socketsStarted = false;
  platform::UdpSender socket;
  std::optional<platform::Ipv4Endpoint> receiver;
  FILE* capture = nullptr;

  // Everything back to the state before the first InitialiseCloudClient.
  void reset() {
    if (capture) std::fclose(capture);
    capture = nullptr;
    socket.close();
    receiver.reset();
    if (socketsStarted) platform::socketsStop();
    socketsStarted = false;
  }

  int32_t send(const void* data, size_t size) {
    if (!receiver || !socket.sendTo(*receiver, data, size)) return TLV_DATAGRAM_NOT_SENT;
    // Flushed at once: the capture is whole up to the last datagram even if
    // the host process ends without TerminateCloudClient.
    if (capture && (std::fwrite(data, 1, size, capture) != size || std::fflush(capture) != 0)) return TLV_DATAGRAM_NOT_CAPTURED;
    return 0;
  }
};

Client& client() {
  static Client* const instance = new Client;  // outlives every caller's thread
  return *instance;
}

}  // namespace

int32_t initialise(const char* address, int32_t port, int32_t capture, const char* capturePath) {
  auto& c = client();
  std::lock_guard<std::mutex> hold(c.lock);
  // A second initialisation replaces the first client: its socket and
  // capture file are closed, not left behind.
  c.reset();
  const auto receiver = platform::parseIpv4(address, port);
  if (!receiver || (capture == 1 && !capturePath)) return TLV_DATAGRAM_BAD_ARGUMENT;
  if (!platform::socketsStart()) return TLV_DATAGRAM_NO_SOCKETS;
  c.socketsStarted = true;
  if (capture == 1) {
    c.capture = std::fopen(platform::mapPath(capturePath).c_str(), "wb");
    if (!c.capture) {
      c.reset();
      return TLV_DATAGRAM_NOT_CAPTURED;
    }
  }
  if (!c.socket.open()) return TLV_DATAGRAM_NO_SOCKET;  // the capture file stays open until terminate
  c.receiver = receiver;
  return TLV_DATAGRAM_OK;
}

int32_t sendOsc(const char* pattern, const uint32_t* values) {
  if (!pattern || !values || std::strlen(pattern) > kMaxPatternLength) return TLV_DATAGRAM_BAD_ARGUMENT;
  const auto bundle =
      oscBundle(pattern, values, static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr))));
  auto& c = client();
  std::lock_guard<std::mutex> hold(c.lock);
  return c.send(bundle.data(), bundle.size());
}

int32_t sendJson(const char* address, const int32_t* values, int32_t type) {
  if (!address || !values) return TLV_DATAGRAM_BAD_ARGUMENT;
  const auto text = jsonText(type, address, values);
  if (!text) return TLV_DATAGRAM_BAD_ARGUMENT;
  auto& c = client();
  std::lock_guard<std::mutex> hold(c.lock);
  return c.send(text->data(), text->size());
}

int32_t terminate() {
  auto& c = client();
  std::lock_guard<std::mutex> hold(c.lock);
  c.reset();
  return TLV_DATAGRAM_OK;
}

}  // namespace net::datagrams

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL InitialiseCloudClient(const char* address, int32_t port, int32_t capture,
                                               const char* capturePath) {
  return telvaris::atBoundary(int32_t {TLV_DATAGRAM_NO_SOCKETS},
                              [&] { return net::datagrams::initialise(address, port, capture, capturePath); });
}

TLV_API int32_t TLV_CALL SendOSCPacket(const char* pattern, const uint32_t* values) {
  return telvaris::atBoundary(int32_t {TLV_DATAGRAM_NOT_SENT}, [&] { return net::datagrams::sendOsc(pattern, values); });
}

TLV_API int32_t TLV_CALL SendJSONPacket(const char* address, const int32_t* values, int32_t type) {
  return telvaris::atBoundary(int32_t {TLV_DATAGRAM_NOT_SENT},
                              [&] { return net::datagrams::sendJson(address, values, type); });
}

TLV_API int32_t TLV_CALL TerminateCloudClient(void) {
  return net::datagrams::terminate();
}

}  // extern "C"
