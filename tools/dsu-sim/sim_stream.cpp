#include "sim_stream.h"

#include <cmath>

#include "p3_packet.h"
#include "p3_stream.h"

namespace dsusim {

Stream::Stream(std::vector<std::optional<p3synth::Signal>> signals, uint64_t seed, double speed, Faults faults)
    : signals_(std::move(signals)), seed_(seed), speed_(speed > 0 ? speed : 1.0), faults_(faults) {
  signals_.resize(32);
}

void Stream::start(Clock::time_point now, int packetLength, int sampleRate) {
  length_ = packetLength;
  rate_ = sampleRate > 0 ? sampleRate : 256;
  start_ = now;
  packets_ = 0;
  stalled_ = false;
  running_ = true;
}

std::string Stream::nextPacket() {
  std::string packet;
  if (!replay_.empty()) {
    for (int i = 0; i < length_; ++i) {
      packet += static_cast<char>(replay_[replayAt_]);
      replayAt_ = (replayAt_ + 1) % replay_.size();
    }
  } else {
    const int channels = p3synth::channelsForLength(length_);
    const p3synth::P3Stream usual(channels > 0 ? length_ : 14, rate_);
    int32_t values[32] = {};
    const double t = static_cast<double>(sampleIndex_) / rate_;
    for (int c = 0; c < channels; ++c) {
      const auto& signal = signals_[static_cast<size_t>(c)];
      values[c] = signal ? static_cast<int32_t>(std::lround(p3synth::signalValue(*signal, t, c, seed_)))
                         : usual.sample(c, sampleIndex_);
    }
    packet.resize(static_cast<size_t>(length_));
    if (!p3synth::encodePacket(reinterpret_cast<uint8_t*>(packet.data()), length_, static_cast<int>(total_ % 64), 0,
                               values)) {
      packet.clear();  // a length no P3 packet has: nothing to send
    }
  }
  ++sampleIndex_;
  ++packets_;
  ++total_;
  if (!packet.empty() && faults_.framingErrorEvery > 0 && packets_ % faults_.framingErrorEvery == 0)
    packet.back() = static_cast<char>(packet.back() & 0x7F);
  if (!packet.empty() && faults_.dropByteEvery > 0 && packets_ % faults_.dropByteEvery == 0)
    packet.erase(packet.size() / 2, 1);
  return packet;
}

void Stream::pump(Clock::time_point now, std::string& out) {
  if (!running_) return;
  if (faults_.answerBytes >= 0) {
    // The port test's answer: exactly so many bytes, at once, then silence.
    std::string answer;
    while (answer.size() < static_cast<size_t>(faults_.answerBytes)) {
      const std::string p = nextPacket();
      if (p.empty()) break;
      answer += p;
    }
    answer.resize(std::min(answer.size(), static_cast<size_t>(faults_.answerBytes)));
    out += answer;
    running_ = false;
    return;
  }
  for (;;) {
    if (faults_.cutAfter > 0 && total_ >= static_cast<uint64_t>(faults_.cutAfter)) {
      cutDue_ = true;
      running_ = false;
      return;
    }
    if (!stalled_ && faults_.stallMs > 0 && packets_ == static_cast<uint64_t>(faults_.stallAfter)) {
      stalled_ = true;
      start_ += std::chrono::milliseconds(faults_.stallMs);
    }
    if (now < nextDue()) return;
    out += nextPacket();
  }
}

Stream::Clock::time_point Stream::nextDue() const {
  // Packet k (from 0) is due once k / (rate * speed) seconds have passed.
  const double seconds = static_cast<double>(packets_) / (rate_ * speed_);
  return start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace dsusim
