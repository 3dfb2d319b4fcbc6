#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"

namespace platform {

OsVersion osVersion(bool olderSystem) {
  OsVersion v;
  v.queried = true;
  v.platformId = 2;
  v.major = olderSystem ? 5 : 6;
  v.minor = 1;
  return v;
}

namespace {

// Touched by the signal handler, so lock-free words and plain storage made
// before any signal can come rather than function-local statics made at
// first use.
std::atomic<int> pendingRequests{0};
std::atomic<bool> endAtOnce{false};
char endRemovePath[4096];
int endExitCode = 1;

// Only async-signal-safe calls: it may run inside the signal handler.
[[noreturn]] void endNow() {
  if (endRemovePath[0] != '\0') unlink(endRemovePath);
  _exit(endExitCode);
}

extern "C" void onTerminationSignal(int) {
  if (endAtOnce.load(std::memory_order_acquire)) endNow();
  pendingRequests.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void catchTerminationRequests() {
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool takeTerminationRequest() {
  int pending = pendingRequests.load(std::memory_order_relaxed);
  while (pending > 0) {
    if (pendingRequests.compare_exchange_weak(pending, pending - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

EndAtOnceOnTermination::EndAtOnceOnTermination(const std::string& removeFirst, int exitCode) {
  // A path too long for the buffer is not cut short: a shortened name could
  // be another file.
  endRemovePath[0] = '\0';
  if (removeFirst.size() < sizeof endRemovePath) {
    std::memcpy(endRemovePath, removeFirst.c_str(), removeFirst.size() + 1);
  }
  endExitCode = exitCode;
  endAtOnce.store(true, std::memory_order_release);
  if (pendingRequests.load(std::memory_order_relaxed) > 0) endNow();
}

EndAtOnceOnTermination::~EndAtOnceOnTermination() { endAtOnce.store(false, std::memory_order_release); }

bool readLineUnlessTerminated(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    if (takeTerminationRequest()) return false;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&in, 1, 100);
    if (ready < 0 && errno != EINTR) return any;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return any;
    any = true;
    if (c == '\n') return true;
    line += c;
  }
}

// ---------------------------------------------------------------- Guardian
//
// The helper holds one end of a socket pair; this process the other. Lines
// "I<instruction>" replace the instruction, "R" releases the helper. The
// helper sees the end of the stream when this process ends, however it
// ends: without a release before, it carries out the last instruction.

namespace {

[[noreturn]] void guard(int fd, const Guardian::Orphaned& orphaned) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) signal(sig, SIG_IGN);
  std::string pending, instruction;
  char buffer[512];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      if (pending[0] == 'R') _exit(0);
      if (pending[0] == 'I') instruction = pending.substr(1, end - 1);
    }
  }
  if (!instruction.empty()) {
    try {
      orphaned(instruction);
    } catch (...) {
    }
  }
  _exit(0);
}

}  // namespace

bool Guardian::start(Orphaned orphaned) {
  if (writeEnd_ >= 0) return true;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) {
    close(ends[0]);
    close(ends[1]);
    return false;
  }
  if (pid == 0) {
    close(ends[1]);
    guard(ends[0], orphaned);
  }
  close(ends[0]);
  fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK);
  writeEnd_ = ends[1];
  return true;
}

void Guardian::instruct(const std::string& instruction) {
  if (writeEnd_ < 0 || instruction == last_ || instruction.find('\n') != std::string::npos) return;
  last_ = instruction;
  const std::string line = "I" + instruction + "\n";
  // A helper that is gone, or a full buffer, costs this process nothing.
  (void)send(writeEnd_, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void Guardian::release() {
  if (writeEnd_ < 0) return;
  (void)send(writeEnd_, "R\n", 2, MSG_NOSIGNAL | MSG_DONTWAIT);
  close(writeEnd_);
  writeEnd_ = -1;
}

Guardian::~Guardian() { release(); }

void setEnvironment(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

}  // namespace platform
