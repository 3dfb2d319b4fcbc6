#include "audio/system_volume.h"
#include "audio/winmm_mixer.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

namespace lumidrop::audio {

namespace {
HMIXEROBJ objectOf(void* mixer) { return reinterpret_cast<HMIXEROBJ>(mixer); }
}  // namespace

WinmmMixer::~WinmmMixer() { close(); }

uint32_t WinmmMixer::open(uint32_t device) {
  close();
  HMIXER mixer = nullptr;
  const MMRESULT result = mixerOpen(&mixer, device, 0, 0, MIXER_OBJECTF_MIXER);
  if (result == MMSYSERR_NOERROR) mixer_ = mixer;
  return result;
}

uint32_t WinmmMixer::speakersLine(uint32_t& lineId) {
  if (!mixer_) return MMSYSERR_INVALHANDLE;
  MIXERLINEA line{};
  line.cbStruct = sizeof line;
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
  const MMRESULT result = mixerGetLineInfoA(objectOf(mixer_), &line, MIXER_GETLINEINFOF_COMPONENTTYPE);
  if (result == MMSYSERR_NOERROR) lineId = line.dwLineID;
  return result;
}

uint32_t WinmmMixer::volumeControl(uint32_t lineId, uint32_t& controlId, uint32_t& maximum) {
  if (!mixer_) return MMSYSERR_INVALHANDLE;
  MIXERCONTROLA control{};
  control.cbStruct = sizeof control;
  MIXERLINECONTROLSA controls{};
  controls.cbStruct = sizeof controls;
  controls.dwLineID = lineId;
  controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
  controls.cControls = 1;
  controls.cbmxctrl = sizeof control;
  controls.pamxctrl = &control;
  const MMRESULT result = mixerGetLineControlsA(objectOf(mixer_), &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE);
  if (result == MMSYSERR_NOERROR) {
    controlId = control.dwControlID;
    maximum = control.Bounds.dwMaximum;
  }
  return result;
}

uint32_t WinmmMixer::setControlValue(uint32_t controlId, uint32_t value) {
  if (!mixer_) return MMSYSERR_INVALHANDLE;
  MIXERCONTROLDETAILS_UNSIGNED detail{};
  detail.dwValue = value;
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof details;
  details.dwControlID = controlId;
  details.cChannels = 1;
  details.cMultipleItems = 0;
  details.cbDetails = sizeof detail;
  details.paDetails = &detail;
  return mixerSetControlDetails(objectOf(mixer_), &details, MIXER_SETCONTROLDETAILSF_VALUE);
}

void WinmmMixer::close() {
  if (!mixer_) return;
  mixerClose(static_cast<HMIXER>(mixer_));
  mixer_ = nullptr;
}

std::unique_ptr<LegacyMixer> makeSystemMixer() { return std::make_unique<WinmmMixer>(); }

}  // namespace lumidrop::audio
