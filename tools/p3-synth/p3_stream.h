// An endless stream of P3 packets carrying synthetic signals, as a DSU
// would send them: packet counters running 0..63 and round again, no button
// marks, and on every channel a mix of two sine waves of its own
// frequencies around mid-scale (channel 0 carries a 10 Hz rhythm, 1 a 6 Hz,
// 2 a 12 Hz, 3 a 20 Hz, 4 a 3 Hz, 5 a 15 Hz, 6 an 8 Hz, 7 a 1 Hz one; the
// pattern repeats for channels 8..31, slightly shifted).
#pragma once

#include <cstdint>
#include <vector>

namespace p3synth {

class P3Stream {
 public:
  // `length`: packet length (5, 8, 11, 14 or 50); `sampleRate`: packets a
  // second, which sets the time between samples of the signals.
  explicit P3Stream(int length = 14, int sampleRate = 256);

  int length() const { return length_; }
  int sampleRate() const { return sampleRate_; }
  // Packets made so far.
  uint64_t packets() const { return packets_; }

  // Appends the next `count` packets to `out`.
  void append(std::vector<uint8_t>& out, int count);

  // The value of `channel` at sample `index`, before encoding.
  int32_t sample(int channel, uint64_t index) const;

 private:
  int length_;
  int sampleRate_;
  uint64_t packets_ = 0;
};

}  // namespace p3synth
