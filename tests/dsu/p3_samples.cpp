#include "p3_samples.h"

#include "p3_packet.h"
#include "telvaris.h"

namespace dsutest {

int32_t sampleValue(int k, int c) {
  if (c == 0) return k;
  const int32_t range = (c % 2 == 0) ? 1024 : 2048;
  return (k * (2 * c + 1) + 37 * c) % range;
}

std::string encode(int length, int counter, uint8_t aux, const std::vector<int32_t>& channels) {
  std::string packet(static_cast<size_t>(length), '\0');
  std::vector<int32_t> values(channels);
  values.resize(32, 0);
  p3synth::encodePacket(reinterpret_cast<uint8_t*>(packet.data()), length, counter, aux, values.data());
  return packet;
}

std::string samplePackets(int length, int count) {
  std::string out;
  const int carried = p3synth::channelsForLength(length);
  for (int k = 0; k < count; ++k) {
    std::vector<int32_t> values;
    for (int c = 0; c < carried; ++c) values.push_back(sampleValue(k, c));
    out += encode(length, k % 64, 0, values);
  }
  return out;
}

Decoded expectedSample(int length, int k) {
  Decoded d;
  d.counter = k % 64;
  d.channels.assign(32, 0);
  for (int c = 0; c < p3synth::channelsForLength(length); ++c) d.channels[static_cast<size_t>(c)] = sampleValue(k, c);
  return d;
}

std::vector<Decoded> takePackets() {
  std::vector<Decoded> out;
  for (;;) {
    Decoded d;
    d.channels.assign(32, -7);
    int32_t format = 0;
    if (GetP3Data(d.channels.data(), 32, &format, &d.counter, &d.aux) != TLV_P3_OK) return out;
    out.push_back(d);
  }
}

long cyclicOffset(const std::string& whole, const std::string& part) {
  if (whole.empty()) return -1;
  if (part.empty()) return 0;
  const std::string twice = whole + whole;
  const std::string head = part.substr(0, std::min<size_t>(part.size(), whole.size()));
  for (size_t at = twice.find(head); at != std::string::npos && at < whole.size(); at = twice.find(head, at + 1)) {
    bool same = true;
    for (size_t i = 0; i < part.size() && same; ++i) same = part[i] == whole[(at + i) % whole.size()];
    if (same) return static_cast<long>(at);
  }
  return -1;
}

}  // namespace dsutest
