#include "audio/alsa_mixer.h"
#include "audio/system_volume.h"

#include <alsa/asoundlib.h>

#include <string>

namespace lumidrop::audio {
namespace {

// Windows mixer codes for the failures the road can meet.
constexpr uint32_t kNoError = 0;
constexpr uint32_t kBadDevice = 2;   // MMSYSERR_BADDEVICEID
constexpr uint32_t kNotOpen = 5;     // MMSYSERR_INVALHANDLE
constexpr uint32_t kNotFound = 1024 + 1;  // MIXERR_INVALLINE
constexpr uint32_t kNoControl = 1024 + 2;  // MIXERR_INVALCONTROL

// ALSA reports a missing card on standard error; this road fails quietly.
void quiet(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

struct AlsaMixer::Handle {
  snd_mixer_t* mixer = nullptr;
  snd_mixer_elem_t* master = nullptr;
};

AlsaMixer::~AlsaMixer() { close(); }

uint32_t AlsaMixer::open(uint32_t device) {
  close();
  snd_lib_error_set_handler(quiet);
  const std::string name = device == 0 ? "default" : "hw:" + std::to_string(device - 1);
  snd_mixer_t* mixer = nullptr;
  if (snd_mixer_open(&mixer, 0) < 0) return kBadDevice;
  if (snd_mixer_attach(mixer, name.c_str()) < 0 || snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
      snd_mixer_load(mixer) < 0) {
    snd_mixer_close(mixer);
    return kBadDevice;
  }
  handle_ = new Handle {mixer, nullptr};
  return kNoError;
}

uint32_t AlsaMixer::speakersLine(uint32_t& lineId) {
  if (!handle_) return kNotOpen;
  snd_mixer_selem_id_t* id = nullptr;
  snd_mixer_selem_id_alloca(&id);
  snd_mixer_selem_id_set_index(id, 0);
  snd_mixer_selem_id_set_name(id, "Master");
  handle_->master = snd_mixer_find_selem(handle_->mixer, id);
  if (!handle_->master) return kNotFound;
  lineId = 0;
  return kNoError;
}

uint32_t AlsaMixer::volumeControl(uint32_t lineId, uint32_t& controlId, uint32_t& maximum) {
  if (!handle_) return kNotOpen;
  if (lineId != 0 || !handle_->master) return kNotFound;
  long minimum = 0, top = 0;
  if (!snd_mixer_selem_has_playback_volume(handle_->master) ||
      snd_mixer_selem_get_playback_volume_range(handle_->master, &minimum, &top) != 0 || top <= 0)
    return kNoControl;
  controlId = 0;
  maximum = static_cast<uint32_t>(top);
  return kNoError;
}

uint32_t AlsaMixer::setControlValue(uint32_t controlId, uint32_t value) {
  if (!handle_) return kNotOpen;
  if (controlId != 0 || !handle_->master) return kNoControl;
  // The scale starts at 0 whatever the control's own minimum (ALSA keeps a
  // value below it at the minimum).
  return snd_mixer_selem_set_playback_volume_all(handle_->master, static_cast<long>(value)) == 0 ? kNoError
                                                                                               : kNoControl;
}

void AlsaMixer::close() {
  if (!handle_) return;
  snd_mixer_close(handle_->mixer);
  delete handle_;
  handle_ = nullptr;
}

std::unique_ptr<LegacyMixer> makeSystemMixer() { return std::make_unique<AlsaMixer>(); }

}  // namespace lumidrop::audio
