#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/udp.h"

namespace platform {

bool socketsStart() {
  WSADATA data {};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (data.wVersion != MAKEWORD(2, 2)) {
    WSACleanup();
    return false;
  }
  return true;
}

void socketsStop() { WSACleanup(); }

std::optional<Ipv4Endpoint> parseIpv4(const char* dotted, int32_t port) {
  if (!dotted || port < 1 || port > 65535) return std::nullopt;
  // The parser stops at a blank and takes the rest for a comment.
  if (std::strpbrk(dotted, " \t\n\v\f\r")) return std::nullopt;
  const unsigned long parsed = inet_addr(dotted);
  // INADDR_NONE is also the broadcast address, written out in full.
  if (parsed == INADDR_NONE && std::strcmp(dotted, "255.255.255.255") != 0) return std::nullopt;
  return Ipv4Endpoint {ntohl(parsed), static_cast<uint16_t>(port)};
}

bool UdpSender::open() {
  close();
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return false;
  handle_ = static_cast<intptr_t>(s);
  return true;
}

void UdpSender::close() {
  if (handle_ >= 0) ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = -1;
}

bool UdpSender::sendTo(const Ipv4Endpoint& to, const void* data, size_t size) {
  if (handle_ < 0 || size > 65507) return false;
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(to.port);
  address.sin_addr.s_addr = htonl(to.address);
  const int sent = ::sendto(static_cast<SOCKET>(handle_), static_cast<const char*>(data), static_cast<int>(size), 0,
                            reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return sent != SOCKET_ERROR && static_cast<size_t>(sent) == size;
}

}  // namespace platform
