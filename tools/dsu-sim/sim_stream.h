// The simulator's P3 stream: packets of the unit's current length at its
// sample rate (times a speed factor), each channel a chosen test signal or
// the stand-ins' usual mix, or a recorded session replayed; and the faults
// a test asks for.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "p3_signals.h"

namespace dsusim {

struct Faults {
  long framingErrorEvery = 0;  // every Nth packet has its frame marker cleared
  long dropByteEvery = 0;      // every Nth packet loses its middle byte
  long stallMs = 0;            // the stream pauses this long, once ...
  long stallAfter = 0;         // ... after this many packets; the stream then goes on from where it was
  long cutAfter = 0;           // the line is cut after this many packets (0: never)
  long answerBytes = -1;       // a start is answered with exactly this many bytes, then silence
};

class Stream {
 public:
  using Clock = std::chrono::steady_clock;

  // `signals`: one per channel (up to 32); a channel without one carries
  // the stand-ins' usual mix of two sines. `speed` > 0 multiplies the pace,
  // not the signals' time: at speed 10 a minute of data takes six seconds.
  Stream(std::vector<std::optional<p3synth::Signal>> signals, uint64_t seed, double speed, Faults faults);

  // Bytes of a recorded session: sent as they are, in pieces of the packet
  // length at the packet rate, round again at the end.
  void setReplay(std::vector<uint8_t> bytes) { replay_ = std::move(bytes); }

  void start(Clock::time_point now, int packetLength, int sampleRate);
  void stop() { running_ = false; }
  bool running() const { return running_; }

  // Appends what is due by `now`.
  void pump(Clock::time_point now, std::string& out);
  // When the next packet falls due.
  Clock::time_point nextDue() const;

  uint64_t packets() const { return packets_; }   // in this stream
  uint64_t allPackets() const { return total_; }  // since the program started
  // True once the packets before a cut have gone out.
  bool cutDue() const { return cutDue_; }

  // The next packet as the stream would send it (faults included).
  std::string nextPacket();

 private:
  std::vector<std::optional<p3synth::Signal>> signals_;
  uint64_t seed_;
  double speed_;
  Faults faults_;
  std::vector<uint8_t> replay_;
  size_t replayAt_ = 0;

  bool running_ = false;
  bool stalled_ = false;
  bool cutDue_ = false;
  int length_ = 14;
  int rate_ = 256;
  Clock::time_point start_;
  uint64_t packets_ = 0;
  uint64_t total_ = 0;
  uint64_t sampleIndex_ = 0;  // the signals' time runs on across streams
};

}  // namespace dsusim
