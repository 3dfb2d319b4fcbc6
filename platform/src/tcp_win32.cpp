// TCP client connections over Windows Sockets. Each open socket holds a
// start of Windows Sockets of its own (WSAStartup counts them), given back
// when it closes, so a connection needs nothing of its caller.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/tcp.h"

namespace platform {
namespace {

// A wait of `timeoutMs` (-1: none) for `s` to become readable or
// writable: 1 ready, 0 not in time, -1 an error (in `error`). A connect
// that failed shows in the exception set.
int waitFor(SOCKET s, bool write, int timeoutMs, bool& failed, int& error) {
  fd_set ready, exceptions;
  FD_ZERO(&ready);
  FD_ZERO(&exceptions);
  FD_SET(s, &ready);
  FD_SET(s, &exceptions);
  timeval limit {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int r = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &exceptions,
                         timeoutMs < 0 ? nullptr : &limit);
  failed = false;
  if (r == SOCKET_ERROR) {
    error = WSAGetLastError();
    return -1;
  }
  failed = FD_ISSET(s, &exceptions) != 0;
  return r > 0 ? 1 : 0;
}

}  // namespace

int TcpClient::startConnect(const Ipv4Endpoint& to) {
  close();
  if (!socketsStart()) {
    error_ = WSASYSNOTREADY;
    return kFailed;
  }
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    error_ = WSAGetLastError();
    socketsStop();
    return kFailed;
  }
  handle_ = static_cast<intptr_t>(s);
  // Not handed down to programs the host starts.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    error_ = WSAGetLastError();
    close();
    return kFailed;
  }
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(to.port);
  address.sin_addr.s_addr = htonl(to.address);
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return kConnected;
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) return kPending;
  error_ = error;
  close();
  return kFailed;
}

int TcpClient::finishConnect(int timeoutMs) {
  if (handle_ < 0) return kFailed;
  const SOCKET s = static_cast<SOCKET>(handle_);
  bool failed = false;
  const int r = waitFor(s, true, timeoutMs, failed, error_);
  if (r < 0) {
    close();
    return kFailed;
  }
  if (r == 0) return kPending;
  int soError = 0;
  int length = sizeof soError;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0)
    soError = WSAGetLastError();
  if (soError == 0 && failed) soError = WSAECONNREFUSED;
  if (soError != 0) {
    error_ = soError;
    close();
    return kFailed;
  }
  return kConnected;
}

int64_t TcpClient::receive(void* buffer, size_t size, int timeoutMs) {
  if (handle_ < 0) return kError;
  const SOCKET s = static_cast<SOCKET>(handle_);
  bool failed = false;
  const int r = waitFor(s, false, timeoutMs, failed, error_);
  if (r < 0) return kError;
  if (r == 0) return kNothingYet;
  const int want = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
  const int n = ::recv(s, static_cast<char*>(buffer), want, 0);
  if (n >= 0) return n;
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return kNothingYet;
  error_ = error;
  return kError;
}

void TcpClient::close() {
  if (handle_ < 0) return;
  ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = -1;
  socketsStop();
}

}  // namespace platform
