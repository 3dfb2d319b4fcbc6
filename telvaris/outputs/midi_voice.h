// Feedback tones as MIDI notes: a queue the callers fill and a player
// thread that plays it, one note after another.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/midi_out.h"
#include "telvaris.h"

namespace outputs::midi {

enum Result : int32_t {
  kOk = TLV_MIDI_OK,
  kBadArgument = TLV_MIDI_BAD_ARGUMENT,
  kNoPlayer = TLV_MIDI_NO_PLAYER,
};

// Slots 1 to 10000 of the queue hold notes; slot 0 is never used.
constexpr int kSlots = 10001;
// The environment variable that names an ALSA sequencer port.
constexpr const char* kPortVariable = "TELVARIS_MIDI_PORT";

// The frequency in hertz of a note number.
double noteFrequency(int32_t note);

// Queues a note and starts a player when none runs (the export's work).
int32_t voice(int32_t duration, int32_t velocity, int32_t instrument, int32_t note) noexcept;

// Test seams. Each player gets its MIDI output from `factory` (empty: the
// system's, by kPortVariable) and waits out a note's length with `sleep`
// (empty: the real wait, cut short at unload). Set them while no player runs.
using MidiOutFactory = std::function<std::unique_ptr<platform::MidiOut>()>;
using NoteSleep = std::function<void(int64_t ms)>;
void useMidiOut(MidiOutFactory factory, NoteSleep sleep = {});

bool playerRunning();
// Waits until no player runs; false when one still does after `timeoutMs`.
bool waitIdle(int timeoutMs);

}  // namespace outputs::midi
