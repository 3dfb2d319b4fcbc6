// Datagrams to one IPv4 receiver (BSD sockets here, Windows Sockets on
// Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Starts and stops the process's use of sockets: nothing to do on POSIX;
// Windows Sockets 2.2 on Windows. socketsStart is false when they cannot be
// used.
bool socketsStart();
void socketsStop();

// An IPv4 address and port, both in host order.
struct Ipv4Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

// The endpoint of dotted text ("127.0.0.1", also the short forms the
// system's own parser takes) and a port 1-65535; nullopt for anything else.
std::optional<Ipv4Endpoint> parseIpv4(const char* dotted, int32_t port);

class UdpSender {
 public:
  UdpSender() = default;
  ~UdpSender() { close(); }
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;

  // Creates the IPv4 datagram socket; false when the system refuses one.
  bool open();
  void close();
  bool isOpen() const { return handle_ >= 0; }

  // Sends `size` bytes to `to` as one datagram; false unless all of it was
  // handed to the system.
  bool sendTo(const Ipv4Endpoint& to, const void* data, size_t size);

 private:
  intptr_t handle_ = -1;
};

}  // namespace platform
