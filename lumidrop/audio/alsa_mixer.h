// The mixer road on Linux: the ALSA simple mixer of the default control
// device, whose "Master" playback volume stands for the speakers' volume
// control of the Windows mixer.
#pragma once

#include "audio/volume.h"

namespace lumidrop::audio {

class AlsaMixer : public LegacyMixer {
 public:
  AlsaMixer() = default;
  ~AlsaMixer() override;
  AlsaMixer(const AlsaMixer&) = delete;
  AlsaMixer& operator=(const AlsaMixer&) = delete;

  // Device 0 is the default control device; others are "hw:N-1".
  uint32_t open(uint32_t device) override;
  uint32_t speakersLine(uint32_t& lineId) override;
  uint32_t volumeControl(uint32_t lineId, uint32_t& controlId, uint32_t& maximum) override;
  uint32_t setControlValue(uint32_t controlId, uint32_t value) override;
  void close() override;

 private:
  struct Handle;
  Handle* handle_ = nullptr;
};

}  // namespace lumidrop::audio
