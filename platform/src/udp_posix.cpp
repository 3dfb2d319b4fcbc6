#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/udp.h"

namespace platform {

bool socketsStart() { return true; }
void socketsStop() {}

std::optional<Ipv4Endpoint> parseIpv4(const char* dotted, int32_t port) {
  if (!dotted || port < 1 || port > 65535) return std::nullopt;
  // The system's parser stops at a blank and takes the rest for a comment.
  if (std::strpbrk(dotted, " \t\n\v\f\r")) return std::nullopt;
  in_addr parsed{};
  if (inet_aton(dotted, &parsed) == 0) return std::nullopt;
  return Ipv4Endpoint{ntohl(parsed.s_addr), static_cast<uint16_t>(port)};
}

bool UdpSender::open() {
  close();
  handle_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return handle_ >= 0;
}

void UdpSender::close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

bool UdpSender::sendTo(const Ipv4Endpoint& to, const void* data, size_t size) {
  if (handle_ < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(to.port);
  address.sin_addr.s_addr = htonl(to.address);
  ssize_t sent;
  do {
    sent = ::sendto(static_cast<int>(handle_), data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
                    sizeof address);
  } while (sent < 0 && errno == EINTR);
  return sent >= 0 && static_cast<size_t>(sent) == size;
}

}  // namespace platform
