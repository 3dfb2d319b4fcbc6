// Sample-by-sample band-pass sections shared by the band filters and the
// heart-beat pre-filter.
#pragma once

#include <cstdint>

namespace dsp {

// The highest history index of a sixth-order section: seven values, oldest
// first.
constexpr int kSixthOrderNewest = 6;

constexpr int kBrainMapChannels = 8;
constexpr int kBrainMapBands = 8;

// The brain-map bands: third-order Butterworth band-passes designed with
// pre-warping, 4 Hz wide at 256 samples per second (1-4 Hz for the first).
// `gain` divides the input; c holds the feedback coefficients from the
// oldest output on.
struct BrainMapBand {
  double lowCorner;   // fractions of the sample rate
  double highCorner;
  double gain;
  double c[6];
};
extern const BrainMapBand kBrainMapBandTable[kBrainMapBands];

// One step of a sixth-order band-pass section with numerator (1 - z^-2)^3:
// shifts both histories by `shift` + 1 places (bounded to the seven
// values), puts `scaledInput` at the newest input and returns the newest
// output. c[k] multiplies y[k].
double sixthOrderStep(double* x, double* y, const double* c, double scaledInput, int shift);

// One sample of each of the eight channels through the process's bank of
// brain-map bands; output[8 * channel + band] is the band's root-mean-square
// over the last complete block of eight samples (0 before the first).
void brainMapStep(const double* input, double* output);

// BpFilter, FirstOrderBandPass and BrainMapFilters (telvaris.h).
int32_t bpFilter(double* output, double* x, double* y, const double* coefficients, double gain, float input,
                 int32_t shift);
int32_t firstOrderBandPass(double* output, double* x, double* y, const double* coefficients, double gain,
                           float input, int32_t sections);
int32_t brainMapFilters(const double* input, double* output);

// A cascade of identical second-order band-pass sections with numerator
// 1 - z^-2, three history values per section (newest last). Every section
// divides its input by `gain`; the next section takes the previous output
// rounded to a float. `T` is the history's storage type; sums are formed in
// double. Returns the last section's newest output; `sections` must be at
// least 1.
template <typename T>
double secondOrderCascade(T* x, T* y, double c0, double c1, double gain, float input, int sections) {
  float v = input;
  double out = 0.0;
  for (int s = 0; s < sections; ++s) {
    T* xs = x + 3 * s;
    T* ys = y + 3 * s;
    xs[0] = xs[1];
    xs[1] = xs[2];
    xs[2] = static_cast<T>(v / gain);
    ys[0] = ys[1];
    ys[1] = ys[2];
    ys[2] = static_cast<T>((static_cast<double>(xs[2]) - xs[0]) + c0 * ys[0] + c1 * ys[1]);
    out = ys[2];
    v = static_cast<float>(ys[2]);
  }
  return out;
}

}  // namespace dsp
