// The heart-beat detector's pre-filter: a first-order Butterworth
// band-pass, 0.5 to 40 Hz at 256 samples per second, run as a cascade of
// identical sections.
#pragma once

#include <cstdint>

namespace dsp {

// RRInterval (telvaris.h): one sample through the process's detector.
float rrInterval(float sample, int32_t samplesPerSecond, int32_t lowerLimit, int32_t upperLimit, float agcValue,
                 int32_t filterOrder, int32_t duplicatePrevious, int32_t useFilter, int32_t displayAsPulse);

}  // namespace dsp

namespace dsp::rr {

constexpr double kPrefilterLow = 0.5 / 256.0;  // fractions of the sample rate
constexpr double kPrefilterHigh = 40.0 / 256.0;
constexpr double kPrefilterGain = 2.637740377;
constexpr double kPrefilterC0 = -0.310059809;  // oldest output
constexpr double kPrefilterC1 = 1.3014945365;
constexpr int kMaxSections = 33;

}  // namespace dsp::rr
