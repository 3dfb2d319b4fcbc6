// CAudioEndpointVolume: the master volume of the default output device.
//
// Creating an instance binds it to the device that is the default output at
// that moment; it stays bound to that device even if the default changes
// later. Every operation forwards to that device, keeps the outcome in
// lastHResult (0 for success, a negative HRESULT-style code for failure)
// and returns normally whatever the outcome. An instance whose creation did
// not reach a device touches nothing.
//
// Windows drives the Core Audio endpoint volume interface; Linux drives the
// sound server's default sink (PulseAudio or PipeWire) through libpulse:
// scalars are the sink's linear volume (1.0 = 100 %), decibels its software
// dB scale.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/guid.h"
#include "audio/volume.h"

namespace lumidrop::audio {

// Outcome codes kept in lastHResult.
enum : int32_t {
  kSOk = 0,
  kEFail = static_cast<int32_t>(0x80004005),
  kEInvalidArg = static_cast<int32_t>(0x80070057),
  kEPointer = static_cast<int32_t>(0x80004003),
  kENotFound = static_cast<int32_t>(0x80070490),           // no output device
  kEServiceNotRunning = static_cast<int32_t>(0x88890010),  // no sound server
};

// Hardware-support bits of QueryHardwareSupport.
enum : int32_t { kHardwareVolume = 1, kHardwareMute = 2, kHardwareMeter = 4 };

// What a change notification carries.
struct VolumeNotification {
  Guid eventContext;  // the context of the change that caused it; zero when not ours
  bool muted = false;
  float masterVolume = 0;  // scalar
  std::vector<float> channelVolumes;
};

// A client's change callback. OnNotify runs on the sound server's event
// thread, as Windows calls it on one of its own; it must not call back into
// CAudioEndpointVolume.
class AudioEndpointVolumeCallback {
 public:
  virtual ~AudioEndpointVolumeCallback() = default;
  virtual void OnNotify(const VolumeNotification& notification) = 0;
};

// The event context of every change this program makes.
constexpr const char* kEventContextText = "{5929DCA2-52B8-449B-8A58-FDF6750634DA}";

// True when a sound server with endpoint volumes answers now: the program
// then takes the endpoint road, otherwise the mixer.
bool soundServerAnswers();

class CAudioEndpointVolume : public EndpointVolume {
 public:
  CAudioEndpointVolume();            // binds to the current default output
  ~CAudioEndpointVolume() override;  // releases what creation obtained
  CAudioEndpointVolume(const CAudioEndpointVolume&) = delete;
  CAudioEndpointVolume& operator=(const CAudioEndpointVolume&) = delete;

  int32_t lastHResult() const { return lastHResult_; }
  const Guid& eventContext() const { return eventContext_; }
  // True when creation reached a device.
  bool bound() const;

  int32_t GetChannelCount();
  float GetChannelVolumeLevel(uint32_t channel);
  float GetChannelVolumeLevelScalar(uint32_t channel);
  float GetMasterVolumeLevel();
  float GetMasterVolumeLevelScalar();
  int32_t GetMute();
  void GetVolumeRange(float& minimumDb, float& maximumDb, float& incrementDb);
  void GetVolumeStepInfo(uint32_t& step, uint32_t& stepCount);
  int32_t QueryHardwareSupport();
  void RegisterControlChangeNotify(AudioEndpointVolumeCallback* callback);
  void SetChannelVolumeLevel(uint32_t channel, float levelDb);
  void SetChannelVolumeLevelScalar(uint32_t channel, float level);
  void SetMasterVolumeLevel(float levelDb);
  void SetMasterVolumeLevelScalar(float level) override;
  void SetMute(int32_t mute);
  void UnregisterControlChangeNotify(AudioEndpointVolumeCallback* callback);
  void VolumeStepDown();
  void VolumeStepUp();

  // The device this instance is bound to (the sink's name here); empty when
  // creation reached none.
  std::string deviceName() const;

  struct Device;  // the platform's binding

 private:
  // True for a bound instance and a scalar of 0 to 1; else keeps the outcome.
  bool acceptScalar(float level);
  // The scalar for a level in dB within the volume range; else keeps the outcome.
  bool scalarFromDb(float levelDb, float& scalar);

  Guid eventContext_;
  int32_t lastHResult_ = 0;
  std::shared_ptr<Device> device_;
};

}  // namespace lumidrop::audio
