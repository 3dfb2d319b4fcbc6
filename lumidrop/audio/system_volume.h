// The system's own volume roads: the endpoint volume of the default output
// and the mixer, as the program drives them outside tests.
#pragma once

#include <memory>

#include "audio/alsa_mixer.h"
#include "audio/volume.h"

namespace lumidrop::audio {

class SystemVolumeOutputs : public VolumeOutputs {
 public:
  std::unique_ptr<EndpointVolume> createEndpointVolume() override;
  LegacyMixer& mixer() override { return mixer_; }

 private:
  AlsaMixer mixer_;
};

}  // namespace lumidrop::audio
