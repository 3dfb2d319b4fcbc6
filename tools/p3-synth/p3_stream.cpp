#include "p3_stream.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "p3_packet.h"

namespace p3synth {
namespace {

constexpr double kRhythmHz[8] = {10.0, 6.0, 12.0, 20.0, 3.0, 15.0, 8.0, 1.0};

}  // namespace

P3Stream::P3Stream(int length, int sampleRate) : length_(length), sampleRate_(sampleRate) {
  if (channelsForLength(length) == 0) throw std::invalid_argument("no P3 packet has that length");
  if (sampleRate <= 0) throw std::invalid_argument("the sample rate must be positive");
}

int32_t P3Stream::sample(int channel, uint64_t index) const {
  const double t = static_cast<double>(index) / sampleRate_;
  const double rhythm = kRhythmHz[channel % 8] + 0.5 * (channel / 8);
  const double value = 512.0 + 300.0 * std::sin(2.0 * std::numbers::pi * rhythm * t) +
                       80.0 * std::sin(2.0 * std::numbers::pi * 2.3 * rhythm * t + channel);
  return static_cast<int32_t>(std::lround(value));
}

void P3Stream::append(std::vector<uint8_t>& out, int count) {
  const int channels = channelsForLength(length_);
  int32_t values[32];
  for (int i = 0; i < count; ++i) {
    for (int c = 0; c < channels; ++c) values[c] = sample(c, packets_);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(length_));
    encodePacket(out.data() + at, length_, static_cast<int>(packets_ % 64), 0, values);
    ++packets_;
  }
}

}  // namespace p3synth
