#include <cmath>

#include "audio/volume.h"

namespace lumidrop::audio {

uint32_t mixerValue(int32_t level, uint32_t maximum) {
  // The product is taken in 64 bits: a control range above 21474836 would
  // overflow 32.
  const double scaled = static_cast<double>(static_cast<int64_t>(level) * maximum) / 100.0;
  return static_cast<uint32_t>(std::nearbyint(scaled));
}

void setMixerVolume(LegacyMixer& mixer, int32_t level, int16_t audioActive) {
  if (audioActive == 0) return;
  if (level < 0 || level > 100) return;
  if (mixer.open(0) != 0) return;
  uint32_t lineId = 0;
  uint32_t controlId = 0;
  uint32_t maximum = 0;
  if (mixer.speakersLine(lineId) == 0 && mixer.volumeControl(lineId, controlId, maximum) == 0) {
    mixer.setControlValue(controlId, mixerValue(level, maximum));
  }
  mixer.close();
}

}  // namespace lumidrop::audio
