// P3 streams whose packets say who they are, for the session tests: packet
// k of a run carries k on channel 0 and values of its own on the others, so
// a decoded packet tells which packet the unit sent, and a gap or a packet
// decoded from misaligned bytes shows. Encoded by the stand-ins' own
// encoder (tools/p3-synth), not by the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dsutest {

// Channel `c` of packet `k` (k < 1024): channel 0 is k itself; the others
// run through their whole range (10 bits on even channels, 11 on odd ones).
int32_t sampleValue(int k, int c);

// `count` packets of `length` bytes, packet k with counter k % 64 and the
// values above (channels the length does not carry are 0).
std::string samplePackets(int length, int count);
// One packet of values `channels` (as many as the length carries).
std::string encode(int length, int counter, uint8_t aux, const std::vector<int32_t>& channels);

// A packet as GetP3Data or the decoder hands it out.
struct Decoded {
  int32_t counter = 0;
  int32_t aux = 0;
  std::vector<int32_t> channels;  // 32
  bool operator==(const Decoded&) const = default;
};
// What packet k of samplePackets(length, ...) decodes to.
Decoded expectedSample(int length, int k);

// Every packet GetP3Data hands out now.
std::vector<Decoded> takePackets();

// Where `part` begins in `whole` read round and round (`whole` repeated),
// or -1 when `part` is no such run.
long cyclicOffset(const std::string& whole, const std::string& part);

}  // namespace dsutest
