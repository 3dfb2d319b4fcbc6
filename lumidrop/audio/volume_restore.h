// The close-down's volume step, carried out by another process should the
// program die before it closes down (a crash, kill -9): the road the
// program drives and the level closing down would set. It travels as one
// line of text, "endpoint 100" or "mixer 60".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "audio/volume.h"

namespace lumidrop::audio {

struct VolumeRestore {
  enum class Road { Endpoint, Mixer };
  Road road = Road::Endpoint;
  int32_t level = 100;  // percent, 0 to 100
};

std::string restoreInstruction(const VolumeRestore& restore);
// nullopt for anything but an instruction of restoreInstruction's form.
std::optional<VolumeRestore> parseRestoreInstruction(const std::string& text);

// Sets the volume as applyVolume does on that road: a new endpoint object
// bound to today's default output, or the mixer.
void restoreVolume(const VolumeRestore& restore, VolumeOutputs& outputs);

}  // namespace lumidrop::audio
