// The mixer road on Windows: the multimedia mixer's own calls (mixerOpen,
// mixerGetLineInfoA, mixerGetLineControlsA, mixerSetControlDetails,
// mixerClose). Each step returns the call's MMRESULT.
#pragma once

#include "audio/volume.h"

namespace lumidrop::audio {

class WinmmMixer : public LegacyMixer {
 public:
  WinmmMixer() = default;
  ~WinmmMixer() override;
  WinmmMixer(const WinmmMixer&) = delete;
  WinmmMixer& operator=(const WinmmMixer&) = delete;

  uint32_t open(uint32_t device) override;
  uint32_t speakersLine(uint32_t& lineId) override;
  uint32_t volumeControl(uint32_t lineId, uint32_t& controlId, uint32_t& maximum) override;
  uint32_t setControlValue(uint32_t controlId, uint32_t value) override;
  void close() override;

 private:
  void* mixer_ = nullptr;  // HMIXER
};

}  // namespace lumidrop::audio
