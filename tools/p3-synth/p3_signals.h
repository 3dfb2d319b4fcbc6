// Test signals for one channel of a synthetic P3 stream: what a simulated
// electrode or sensor delivers, around mid-scale.
//
//   sine:F:A       a sine of F Hz and amplitude A
//   noise:A        uniform noise within +-A (the same for the same seed)
//   pulse:B:A      a heart-beat-like pulse, B beats a minute, peak A
//   square:F:A     a square wave of F Hz, +-A (for checking filters)
//   burst:F:A:S    a sine of F Hz and amplitude A for S seconds, then S
//                  seconds of silence, and so on (band power alternates)
//   flat:V         the constant V (no offset added)
// Every kind but flat rides on the offset (512, mid-scale of the even
// channels' 10 bits).
#pragma once

#include <cstdint>
#include <string>

namespace p3synth {

enum class SignalKind { kSine, kNoise, kPulse, kSquare, kBurst, kFlat };

struct Signal {
  SignalKind kind = SignalKind::kSine;
  double frequency = 10.0;  // Hz; for a pulse, beats a second
  double amplitude = 300.0;
  double period = 3.0;  // burst: seconds on, then as many off
  double offset = 512.0;
};

// Parses the forms above; false with a reason in `error` otherwise.
bool parseSignal(const std::string& text, Signal& out, std::string& error);

// The value at `seconds` for channel `channel` (noise differs by channel
// and seed), before it is clamped into a channel's range.
double signalValue(const Signal& signal, double seconds, int channel, uint64_t seed);

}  // namespace p3synth
