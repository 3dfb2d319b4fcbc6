#include "audio/system_volume.h"

#include "audio/endpoint_volume.h"

namespace lumidrop::audio {

std::unique_ptr<EndpointVolume> SystemVolumeOutputs::createEndpointVolume() {
  return std::make_unique<CAudioEndpointVolume>();
}

}  // namespace lumidrop::audio
