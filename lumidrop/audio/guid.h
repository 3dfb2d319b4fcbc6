// GUIDs as the audio interfaces carry them, and their text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <cstdint>
#include <string_view>

namespace lumidrop::audio {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};

  friend bool operator==(const Guid&, const Guid&) = default;
};

// Parses the braced text form. False (and `out` untouched) on any other text.
bool guidFromString(std::string_view text, Guid& out);

}  // namespace lumidrop::audio
