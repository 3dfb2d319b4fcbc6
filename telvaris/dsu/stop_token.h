// An interruptible wait for the DSU link's work on the read thread.
//
// A port scan can spend seconds in its settling time and first-byte waits;
// a session that is told to end must not wait that out (nor be killed in
// the middle of it). Every wait of the scan, the port test, the start and
// stop signals and the identification report goes through a StopToken:
// request() from any thread ends each wait at once, and the work that
// waited sees it and gives up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace dsu {

class StopToken {
 public:
  StopToken() = default;
  StopToken(const StopToken&) = delete;
  StopToken& operator=(const StopToken&) = delete;

  // Ends every wait, now and until reset(). Any thread.
  void request();
  // A new session starts with the token clear.
  void reset();
  bool requested() const { return requested_.load(); }

  // Sleeps `ms` milliseconds; false when a stop was requested before or
  // during the wait (then it returns at once).
  bool sleepFor(uint32_t ms);

  // A token nobody requests: for work on the caller's thread (pause and
  // resume signals, commands) and for a session's closing stop signal,
  // whose byte pacing must hold even while the session ends.
  static StopToken& never();

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> requested_ {false};
};

// The session's token: the read thread's waits use it, TerminateDSU
// requests it, InitialiseDSU resets it.
StopToken& sessionStop();

}  // namespace dsu
