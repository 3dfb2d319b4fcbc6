// A port of the ALSA sequencer as a MIDI output, for a user who has a
// synthesizer of their own (hardware, or a program such as FluidSynth or
// TiMidity++ running as a sequencer client).
#pragma once

#include <memory>
#include <string>

#include "platform/midi_out.h"

namespace platform {

// `port`: "client:port", numbers or the client's name.
std::unique_ptr<MidiOut> makeAlsaSeqMidiOut(const std::string& port);

}  // namespace platform
