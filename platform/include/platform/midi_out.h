// A MIDI output, opened for each note, given short messages and closed.
//
// The least layer the MIDI voice needs: on Windows the MIDI mapper
// (midiOutOpen on device -1, midiOutShortMsg, midiOutClose); here the
// FluidSynth synthesizer with the system's General MIDI sound font, playing
// to the default sound server, or a port of the ALSA sequencer for a user
// with a synthesizer of their own. Results are not for the caller to act
// on: a device that cannot be had only shows as open() returning false.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class MidiOut {
 public:
  virtual ~MidiOut() = default;

  // Opens the device for one note. False when there is none (no
  // synthesizer, sound font or sound server; no such port): short messages
  // then go nowhere until the next open.
  virtual bool open() = 0;
  // One message as midiOutShortMsg takes it: the status byte in bits 0-7,
  // the first data byte in 8-15, the second in 16-23.
  virtual void shortMessage(uint32_t message) = 0;
  virtual void close() = 0;
  // How long the owner should keep this object after its last note before
  // destroying it: the synthesizer lets the note's release ring out and
  // stays loaded for a note that follows soon. 0 for a plain port.
  virtual int keepMs() const { return 0; }
};

// `port` empty: the system's synthesizer. Otherwise an ALSA sequencer port
// as "client:port" (numbers or the client's name, as aconnect -l lists
// them). Never null.
std::unique_ptr<MidiOut> makeMidiOut(const std::string& port);

// The system's synthesizer rendering into memory instead of the sound
// server, in step with the clock: whatever it plays between two messages
// fills the time between them. For measuring what a note sounds like.
class MidiRenderer : public MidiOut {
 public:
  // Mono samples (-1..1) at sampleRate() from the first open until now.
  // Call it while nothing else uses the object.
  virtual std::vector<float> samples() = 0;
  virtual int sampleRate() const = 0;
};

// Null when the synthesizer has no way to render into memory here.
std::unique_ptr<MidiRenderer> makeMidiRenderer(int sampleRate);

}  // namespace platform
