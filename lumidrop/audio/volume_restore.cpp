#include "audio/volume_restore.h"

#include <charconv>

namespace lumidrop::audio {

std::string restoreInstruction(const VolumeRestore& restore) {
  return std::string(restore.road == VolumeRestore::Road::Endpoint ? "endpoint " : "mixer ") +
         std::to_string(restore.level);
}

std::optional<VolumeRestore> parseRestoreInstruction(const std::string& text) {
  VolumeRestore restore;
  std::string rest;
  for (const auto& [name, road] : {std::pair{"endpoint ", VolumeRestore::Road::Endpoint},
                                   std::pair{"mixer ", VolumeRestore::Road::Mixer}}) {
    const std::string prefix = name;
    if (text.rfind(prefix, 0) == 0) {
      restore.road = road;
      rest = text.substr(prefix.size());
    }
  }
  if (rest.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), restore.level);
  if (error != std::errc() || end != rest.data() + rest.size()) return std::nullopt;
  if (restore.level < 0 || restore.level > 100) return std::nullopt;
  return restore;
}

void restoreVolume(const VolumeRestore& restore, VolumeOutputs& outputs) {
  if (restore.road == VolumeRestore::Road::Endpoint) {
    outputs.createEndpointVolume()->SetMasterVolumeLevelScalar(static_cast<float>(restore.level) / 100.0f);
  } else {
    setMixerVolume(outputs.mixer(), restore.level, 1);
  }
}

}  // namespace lumidrop::audio
