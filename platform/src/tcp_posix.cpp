#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/tcp.h"

namespace platform {

namespace {

// The poll result, retried when a signal cuts it short.
int pollFor(int fd, short events, int timeoutMs, short& revents) {
  pollfd p {fd, events, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  revents = p.revents;
  return r;
}

}  // namespace

int TcpClient::startConnect(const Ipv4Endpoint& to) {
  close();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error_ = errno;
    return kFailed;
  }
  handle_ = fd;
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(to.port);
  address.sin_addr.s_addr = htonl(to.address);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return kConnected;
  if (errno == EINPROGRESS || errno == EINTR) return kPending;
  error_ = errno;
  close();
  return kFailed;
}

int TcpClient::finishConnect(int timeoutMs) {
  if (handle_ < 0) return kFailed;
  const int fd = static_cast<int>(handle_);
  short revents = 0;
  const int r = pollFor(fd, POLLOUT, timeoutMs, revents);
  if (r < 0) {
    error_ = errno;
    close();
    return kFailed;
  }
  if (r == 0) return kPending;
  int soError = 0;
  socklen_t length = sizeof soError;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) soError = errno;
  if (soError != 0) {
    error_ = soError;
    close();
    return kFailed;
  }
  return kConnected;
}

int64_t TcpClient::receive(void* buffer, size_t size, int timeoutMs) {
  if (handle_ < 0) return kError;
  const int fd = static_cast<int>(handle_);
  short revents = 0;
  const int r = pollFor(fd, POLLIN, timeoutMs, revents);
  if (r < 0) {
    error_ = errno;
    return kError;
  }
  if (r == 0) return kNothingYet;
  ssize_t n;
  do {
    n = ::recv(fd, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return kNothingYet;
  error_ = errno;
  return kError;
}

void TcpClient::close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform
