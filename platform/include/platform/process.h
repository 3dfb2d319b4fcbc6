// Facts about the running process and its system, requests to end it, and
// a guardian that outlives it.
#pragma once

#include <functional>
#include <string>

namespace platform {

// What the Windows version query reports. `queried` is false when the query
// itself failed.
struct OsVersion {
  bool queried = false;
  int platformId = 0;  // 2: the NT family
  int major = 0;
  int minor = 0;
};

// On Windows the version query's answer. Elsewhere the system stands for the
// NT 6 family, whose per-device endpoint volume is what a desktop sound
// server offers, or for NT 5 when `olderSystem` asks for it (a program
// told to behave as on an older system); Windows ignores it.
OsVersion osVersion(bool olderSystem = false);

// Sets an environment variable of this process (for libraries it loads that
// take a setting that way), replacing an earlier value.
void setEnvironment(const char* name, const std::string& value);

// From now on an interrupt (Ctrl+C) or a termination request does not end
// the process: it is remembered until takeTerminationRequest() collects it,
// so that the program can close down the way closing its window does.
void catchTerminationRequests();

// True once per request received since the last call.
bool takeTerminationRequest();

// For a stretch of blocking work that cannot look at termination requests
// (a connection attempt): while an object lives, a request (or one already
// waiting) ends the process at once, from the signal itself: the file
// `removeFirst` is removed when one is named, and the process exits with
// `exitCode`, running no handler of the program's.
class EndAtOnceOnTermination {
 public:
  EndAtOnceOnTermination(const std::string& removeFirst, int exitCode);
  ~EndAtOnceOnTermination();
  EndAtOnceOnTermination(const EndAtOnceOnTermination&) = delete;
  EndAtOnceOnTermination& operator=(const EndAtOnceOnTermination&) = delete;
};

// One line of standard input, without its line end. False at the end of the
// input, and when a termination request arrives while waiting (the request
// is collected).
bool readLineUnlessTerminated(std::string& line);

// A helper process that carries out a last instruction should this process
// die without ending in order (a crash, kill -9). It ignores interrupts and
// termination requests (a Ctrl+C at the terminal reaches the whole process
// group) and ends when this process does: at once after release(), else
// after running the orphaned handler with the last instruction it was
// given.
class Guardian {
 public:
  using Orphaned = std::function<void(const std::string& instruction)>;

  Guardian() = default;
  // Releases the guardian: the process is ending in order.
  ~Guardian();
  Guardian(const Guardian&) = delete;
  Guardian& operator=(const Guardian&) = delete;

  // Forks the helper, which runs `orphaned` in its own process. Call it
  // while the process has no other thread: only the calling thread is
  // copied. False when no helper could be started.
  bool start(Orphaned orphaned);
  bool started() const { return writeEnd_ >= 0; }

  // The instruction to carry out should this process die from now on (an
  // empty one: nothing to do). One line of text; never blocks.
  void instruct(const std::string& instruction);
  // The process ends in order: the helper ends without doing anything.
  void release();

 private:
  int writeEnd_ = -1;
  std::string last_;
};

}  // namespace platform
