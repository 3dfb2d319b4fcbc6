#include "p3_signals.h"

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace p3synth {
namespace {

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(by, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

bool number(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end && *end == '\0' && std::isfinite(out);
}

// A well-mixed 64-bit hash (splitmix64's finaliser).
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double bump(double phase, double centre, double width) {
  const double d = (phase - centre) / width;
  return std::exp(-d * d);
}

}  // namespace

bool parseSignal(const std::string& text, Signal& out, std::string& error) {
  const auto parts = split(text, ':');
  const std::string& kind = parts[0];
  std::vector<double> values;
  for (size_t i = 1; i < parts.size(); ++i) {
    double v = 0;
    if (!number(parts[i], v)) {
      error = "'" + parts[i] + "' is not a number";
      return false;
    }
    values.push_back(v);
  }
  Signal s;
  size_t wanted = 0;
  if (kind == "sine" || kind == "square") {
    s.kind = kind == "sine" ? SignalKind::kSine : SignalKind::kSquare;
    wanted = 2;
  } else if (kind == "noise") {
    s.kind = SignalKind::kNoise;
    wanted = 1;
  } else if (kind == "pulse") {
    s.kind = SignalKind::kPulse;
    wanted = 2;
  } else if (kind == "burst") {
    s.kind = SignalKind::kBurst;
    wanted = 3;
  } else if (kind == "flat") {
    s.kind = SignalKind::kFlat;
    wanted = 1;
  } else {
    error = "unknown signal kind '" + kind + "'";
    return false;
  }
  if (values.size() != wanted) {
    error = "'" + kind + "' takes " + std::to_string(wanted) + " number(s)";
    return false;
  }
  switch (s.kind) {
    case SignalKind::kSine:
    case SignalKind::kSquare:
      s.frequency = values[0];
      s.amplitude = values[1];
      break;
    case SignalKind::kNoise:
      s.amplitude = values[0];
      break;
    case SignalKind::kPulse:
      s.frequency = values[0] / 60.0;
      s.amplitude = values[1];
      break;
    case SignalKind::kBurst:
      s.frequency = values[0];
      s.amplitude = values[1];
      s.period = values[2];
      break;
    case SignalKind::kFlat:
      s.offset = values[0];
      s.amplitude = 0;
      break;
  }
  if (s.frequency < 0 || s.period <= 0) {
    error = "frequencies must not be negative, periods must be positive";
    return false;
  }
  out = s;
  return true;
}

double signalValue(const Signal& s, double t, int channel, uint64_t seed) {
  const double angle = 2.0 * std::numbers::pi * s.frequency * t;
  switch (s.kind) {
    case SignalKind::kSine:
      return s.offset + s.amplitude * std::sin(angle);
    case SignalKind::kSquare:
      return s.offset + (std::sin(angle) >= 0 ? s.amplitude : -s.amplitude);
    case SignalKind::kNoise: {
      // Keyed by the time itself, so a value does not depend on what came before.
      const uint64_t key =
          mix(seed ^ mix(static_cast<uint64_t>(channel) << 40 ^ static_cast<uint64_t>(std::llround(t * 1e6))));
      const double unit = static_cast<double>(key >> 11) / 9007199254740992.0;  // [0, 1)
      return s.offset + s.amplitude * (2.0 * unit - 1.0);
    }
    case SignalKind::kPulse: {
      // P wave, a sharp R peak and a T wave within each beat.
      const double beat = s.frequency * t;
      const double phase = beat - std::floor(beat);
      return s.offset + s.amplitude * (0.12 * bump(phase, 0.10, 0.03) + bump(phase, 0.25, 0.012) -
                                       0.15 * bump(phase, 0.28, 0.01) + 0.3 * bump(phase, 0.55, 0.06));
    }
    case SignalKind::kBurst: {
      const bool on = static_cast<int64_t>(std::floor(t / s.period)) % 2 == 0;
      return s.offset + (on ? s.amplitude * std::sin(angle) : 0.0);
    }
    case SignalKind::kFlat:
      return s.offset;
  }
  return s.offset;
}

}  // namespace p3synth
