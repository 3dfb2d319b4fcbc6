// MIDI out over the Windows multimedia functions: the MIDI mapper (device
// -1), opened for each note and closed after it, as the voice's callers
// have always had it. A port named by the caller is an output device by its
// number or its name (as midiOutGetDevCaps gives it).
//
// Rendering into memory is this side's gap: the mapper plays to the
// system's synthesizer and gives nothing back, so makeMidiRenderer is null.
#include <windows.h>

#include <mmsystem.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/midi_out.h"

namespace platform {
namespace {

class MultimediaOut : public MidiOut {
 public:
  explicit MultimediaOut(UINT device) : device_(device) {}
  ~MultimediaOut() override { close(); }

  bool open() override {
    close();
    HMIDIOUT handle = nullptr;
    if (midiOutOpen(&handle, device_, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return false;
    handle_ = handle;
    return true;
  }
  void shortMessage(uint32_t message) override {
    if (handle_) midiOutShortMsg(handle_, message);
  }
  void close() override {
    if (handle_) midiOutClose(handle_);
    handle_ = nullptr;
  }

 private:
  UINT device_;
  HMIDIOUT handle_ = nullptr;
};

// The device a port names: its number, or the first whose name is the
// port's (regardless of case); -2 when none is.
long deviceOf(const std::string& port) {
  char* end = nullptr;
  const long number = std::strtol(port.c_str(), &end, 10);
  const UINT count = midiOutGetNumDevs();
  if (end != port.c_str() && *end == '\0') return number >= 0 && static_cast<UINT>(number) < count ? number : -2;
  for (UINT d = 0; d < count; ++d) {
    MIDIOUTCAPSA caps {};
    if (midiOutGetDevCapsA(d, &caps, sizeof caps) == MMSYSERR_NOERROR && _stricmp(caps.szPname, port.c_str()) == 0)
      return static_cast<long>(d);
  }
  return -2;
}

// A port that names no device: every open fails, the notes are skipped.
class NoDevice : public MidiOut {
 public:
  bool open() override { return false; }
  void shortMessage(uint32_t) override {}
  void close() override {}
};

}  // namespace

std::unique_ptr<MidiOut> makeMidiOut(const std::string& port) {
  if (port.empty()) return std::make_unique<MultimediaOut>(MIDI_MAPPER);
  const long device = deviceOf(port);
  if (device < 0) return std::make_unique<NoDevice>();
  return std::make_unique<MultimediaOut>(static_cast<UINT>(device));
}

std::unique_ptr<MidiRenderer> makeMidiRenderer(int) { return nullptr; }

}  // namespace platform
