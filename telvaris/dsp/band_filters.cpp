#include "dsp/band_filters.h"

#include <cmath>
#include <cstdint>

#include "telvaris.h"

namespace dsp {

double sixthOrderStep(double* x, double* y, const double* c, double scaledInput, int shift) {
  if (shift > kSixthOrderNewest - 1) shift = kSixthOrderNewest - 1;
  for (int i = 0; i <= shift; ++i) {
    x[i] = x[i + 1];
    y[i] = y[i + 1];
  }
  x[6] = scaledInput;
  y[6] = (x[6] - x[0]) + 3.0 * (x[2] - x[4]) + c[0] * y[0] + c[1] * y[1] + c[2] * y[2] + c[3] * y[3] + c[4] * y[4] +
         c[5] * y[5];
  return y[6];
}

const BrainMapBand kBrainMapBandTable[kBrainMapBands] = {
    {1 / 256.0, 4 / 256.0, 21535.02307,
     {-0.8630389402, 5.2989047151, -13.564238444, 18.529637133, -14.246982325, 5.8457178476}},
    {4 / 256.0, 8 / 256.0, 9304.492984,
     {-0.821660008, 5.0421971775, -12.945779984, 17.799503662, -13.822102913, 5.7478355883}},
    {8 / 256.0, 12 / 256.0, 9304.584437,
     {-0.821660008, 4.9446067488, -12.55018199, 17.1901892, -13.399714867, 5.6365877098}},
    {12 / 256.0, 16 / 256.0, 9304.588074,
     {-0.821660008, 4.7993970542, -11.975862719, 16.312206004, -12.78650247, 5.4710564104}},
    {16 / 256.0, 20 / 256.0, 9304.588469,
     {-0.821660008, 4.6079665422, -11.24489294, 15.205579911, -12.006031129, 5.2528358469}},
    {20 / 256.0, 24 / 256.0, 9304.588538,
     {-0.821660008, 4.3721587935, -10.385363409, 13.918700336, -11.088293922, 4.9840276028}},
    {24 / 256.0, 28 / 256.0, 9304.588553,
     {-0.821660008, 4.0942447656, -9.4303053665, 12.504604793, -10.068558973, 4.6672204483}},
    {28 / 256.0, 32 / 256.0, 9304.588558,
     {-0.821660008, 3.7769009224, -8.4164211561, 11.01696787, -8.9860141257, 4.3054654095}},
};

namespace {

constexpr int kBlock = 8;

struct BandState {
  double x[7];
  double y[7];
  int32_t count;
  double sumOfSquares;
  double rms;
};

// One bank per process, zero at load and never reset.
struct BrainMapBank {
  BandState bands[kBrainMapBands][kBrainMapChannels];
};

BrainMapBank& bank() {
  static BrainMapBank b {};
  return b;
}

}  // namespace

int32_t bpFilter(double* output, double* x, double* y, const double* coefficients, double gain, float input,
                 int32_t shift) {
  if (!output || !x || !y || !coefficients) return TLV_DSP_BAD_ARGUMENT;
  *output = sixthOrderStep(x, y, coefficients, input / gain, shift);
  return TLV_DSP_OK;
}

int32_t firstOrderBandPass(double* output, double* x, double* y, const double* coefficients, double gain,
                           float input, int32_t sections) {
  if (!output || !x || !y || !coefficients) return TLV_DSP_BAD_ARGUMENT;
  if (sections > 0) *output = secondOrderCascade(x, y, coefficients[0], coefficients[1], gain, input, sections);
  return TLV_DSP_OK;
}

int32_t brainMapFilters(const double* input, double* output) {
  if (!input || !output) return TLV_DSP_BAD_ARGUMENT;
  brainMapStep(input, output);
  return TLV_DSP_OK;
}

void brainMapStep(const double* input, double* output) {
  BrainMapBank& bm = bank();
  for (int channel = 0; channel < kBrainMapChannels; ++channel) {
    for (int band = 0; band < kBrainMapBands; ++band) {
      const BrainMapBand& b = kBrainMapBandTable[band];
      BandState& s = bm.bands[band][channel];
      const double filtered = sixthOrderStep(s.x, s.y, b.c, input[channel] / b.gain, kSixthOrderNewest - 1);
      // The root-mean-square of each block of eight outputs holds for the
      // next eight calls.
      if (s.count > kBlock - 1) {
        s.rms = std::sqrt(s.sumOfSquares / kBlock);
        s.count = 1;
        s.sumOfSquares = filtered * filtered;
      } else {
        s.sumOfSquares += filtered * filtered;
        ++s.count;
      }
      output[kBrainMapBands * channel + band] = s.rms;
    }
  }
}

}  // namespace dsp

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL BpFilter(double* output, double* x, double* y, const double* coefficients, double gain,
                                  float input, int32_t shift) {
  return dsp::bpFilter(output, x, y, coefficients, gain, input, shift);
}

TLV_API int32_t TLV_CALL FirstOrderBandPass(double* output, double* x, double* y, const double* coefficients,
                                            double gain, float input, int32_t sections) {
  return dsp::firstOrderBandPass(output, x, y, coefficients, gain, input, sections);
}

TLV_API int32_t TLV_CALL BrainMapFilters(const double* input, double* output) {
  return dsp::brainMapFilters(input, output);
}

}  // extern "C"
