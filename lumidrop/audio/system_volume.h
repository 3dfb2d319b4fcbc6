// The system's own volume roads: the endpoint volume of the default output
// and the mixer, as the program drives them outside tests.
#pragma once

#include <memory>

#include "audio/volume.h"

namespace lumidrop::audio {

// The system's mixer: the ALSA simple mixer on Linux (AlsaMixer), the
// multimedia mixer on Windows (WinmmMixer).
std::unique_ptr<LegacyMixer> makeSystemMixer();

class SystemVolumeOutputs : public VolumeOutputs {
 public:
  SystemVolumeOutputs() : mixer_(makeSystemMixer()) {}
  std::unique_ptr<EndpointVolume> createEndpointVolume() override;
  LegacyMixer& mixer() override { return *mixer_; }

 private:
  std::unique_ptr<LegacyMixer> mixer_;
};

}  // namespace lumidrop::audio
