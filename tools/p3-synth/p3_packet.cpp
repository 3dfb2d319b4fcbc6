#include "p3_packet.h"

#include <algorithm>

namespace p3synth {
namespace {

void encodePair(uint8_t* group, int32_t even, int32_t odd) {
  even = std::clamp(even, 0, kMaxEven);
  odd = std::clamp(odd, 0, kMaxOdd);
  group[0] = static_cast<uint8_t>(even & 0x7F);
  group[1] = static_cast<uint8_t>(odd & 0x7F);
  group[2] = static_cast<uint8_t>(((even >> 7) & 0x07) << 4 | ((odd >> 7) & 0x0F));
}

}  // namespace

int channelsForLength(int length) {
  switch (length) {
    case 5:
      return 2;
    case 8:
      return 4;
    case 11:
      return 6;
    case 14:
      return 8;
    case 50:
      return 32;
    default:
      return 0;
  }
}

bool encodePacket(uint8_t* out, int length, int counter, uint8_t aux, const int32_t* channels) {
  const int count = channelsForLength(length);
  if (count == 0) return false;
  out[0] = static_cast<uint8_t>((counter & 0x3F) << 1);
  out[1] = aux;
  // Pairs follow one another; in the 50-byte packet the four groups of four
  // pairs are back to back as well, so pair p always starts at 2 + 3p.
  for (int pair = 0; pair < count / 2; ++pair) {
    encodePair(out + 2 + 3 * pair, channels[2 * pair], channels[2 * pair + 1]);
  }
  out[length - 1] |= 0x80;
  return true;
}

}  // namespace p3synth
