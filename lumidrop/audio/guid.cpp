#include "audio/guid.h"

namespace lumidrop::audio {
namespace {

bool hexValue(std::string_view text, uint64_t& value) {
  value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return true;
}

}  // namespace

bool guidFromString(std::string_view text, Guid& out) {
  // {8-4-4-4-12}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-')
    return false;
  uint64_t d1, d2, d3, d4a, d4b;
  if (!hexValue(text.substr(1, 8), d1) || !hexValue(text.substr(10, 4), d2) || !hexValue(text.substr(15, 4), d3) ||
      !hexValue(text.substr(20, 4), d4a) || !hexValue(text.substr(25, 12), d4b))
    return false;
  Guid g;
  g.data1 = static_cast<uint32_t>(d1);
  g.data2 = static_cast<uint16_t>(d2);
  g.data3 = static_cast<uint16_t>(d3);
  g.data4[0] = static_cast<uint8_t>(d4a >> 8);
  g.data4[1] = static_cast<uint8_t>(d4a);
  for (int i = 0; i < 6; ++i) g.data4[2 + i] = static_cast<uint8_t>(d4b >> (8 * (5 - i)));
  out = g;
  return true;
}

}  // namespace lumidrop::audio
