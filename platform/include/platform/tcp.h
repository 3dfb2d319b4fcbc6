// A TCP client connection to one IPv4 peer (BSD sockets here, Windows
// Sockets on Windows), whose waits are bounded so that a caller can look
// at its own stop request between them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/udp.h"

namespace platform {

class TcpClient {
 public:
  TcpClient() = default;
  ~TcpClient() { close(); }
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  enum Progress : int { kFailed = -1, kPending = 0, kConnected = 1 };

  // Starts connecting to `to` without waiting: kPending (finish it with
  // finishConnect), kConnected, or kFailed (the error in lastError()).
  int startConnect(const Ipv4Endpoint& to);
  // Waits up to `timeoutMs` for the connect to complete: kConnected,
  // kPending (still under way), or kFailed (refused, unreachable; the error
  // in lastError()).
  int finishConnect(int timeoutMs);

  enum Received : int64_t { kNothingYet = -1, kError = -2 };
  // Waits up to `timeoutMs` for bytes and takes what is there, at most
  // `size`: the count; 0 when the peer closed the connection; kNothingYet
  // when none came in time; kError (the error in lastError()).
  int64_t receive(void* buffer, size_t size, int timeoutMs);

  void close();
  bool isOpen() const { return handle_ >= 0; }
  // The operating system's error number of the last failure.
  int lastError() const { return error_; }

 private:
  intptr_t handle_ = -1;
  int error_ = 0;
};

}  // namespace platform
