// The two roads to the system's master volume that the overlay drives.
//
// The endpoint road makes a fresh endpoint object for every change, bound
// to the device that is the default output at that moment (the Core Audio
// endpoint volume on Windows, the default sink of the desktop sound server
// here). The mixer road opens the first mixer, finds its speakers' volume
// control and writes a value scaled to that control's range (the legacy
// multimedia mixer on Windows, the ALSA "Master" control here).
#pragma once

#include <cstdint>
#include <memory>

namespace lumidrop::audio {

// What applyVolume needs of a CAudioEndpointVolume.
class EndpointVolume {
 public:
  virtual ~EndpointVolume() = default;
  // 0.0 to 1.0; the object's own event context marks the change as ours.
  virtual void SetMasterVolumeLevelScalar(float level) = 0;
};

// The mixer calls of setMixerVolume; each returns 0 on success
// (MMSYSERR_NOERROR) or a non-zero error.
class LegacyMixer {
 public:
  virtual ~LegacyMixer() = default;
  virtual uint32_t open(uint32_t device) = 0;
  // The speakers destination line.
  virtual uint32_t speakersLine(uint32_t& lineId) = 0;
  // The line's volume control: its id and the top of its range.
  virtual uint32_t volumeControl(uint32_t lineId, uint32_t& controlId, uint32_t& maximum) = 0;
  virtual uint32_t setControlValue(uint32_t controlId, uint32_t value) = 0;
  virtual void close() = 0;
};

class VolumeOutputs {
 public:
  virtual ~VolumeOutputs() = default;
  // A new endpoint object bound to today's default output device. Creation
  // may fail inside (no device); the object then ignores what it is told.
  virtual std::unique_ptr<EndpointVolume> createEndpointVolume() = 0;
  virtual LegacyMixer& mixer() = 0;
};

// setMixerVolume: sets the speakers' volume to `level` percent through the
// mixer. Nothing happens when `audioActive` is 0 or the level lies outside
// 0 to 100; a failing step releases what was opened and leaves the volume.
void setMixerVolume(LegacyMixer& mixer, int32_t level, int16_t audioActive);

// level × maximum / 100, rounded to the nearest whole number, halves to
// even.
uint32_t mixerValue(int32_t level, uint32_t maximum);

}  // namespace lumidrop::audio
