// A block of 256 samples kept under the notch filter's names. Nothing is
// filtered: the samples are stored as complex values with zero imaginary
// parts and read back.
#include <cstdint>

#include "telvaris.h"

namespace dsp {
namespace {

constexpr int32_t kBlockSize = 256;
constexpr int kReturned = 10;

struct ComplexFloat {
  float re;
  float im;
};

struct NotchBlock {
  ComplexFloat values[kBlockSize];
  int32_t fill;
};

NotchBlock& block() {
  static NotchBlock b {};  // one per process, zero at load
  return b;
}

// Truncation toward zero. Samples near INT32_MAX round up to the float
// 2^31, which int32 cannot hold; they come back as INT32_MAX.
int32_t truncated(float value) {
  if (value >= 2147483648.0f) return INT32_MAX;
  return static_cast<int32_t>(value);
}

}  // namespace

void restartNotchBlock() { block().fill = 0; }

// true when this sample completed the block (the next one starts it again).
bool storeNotchSample(int32_t sample) {
  NotchBlock& b = block();
  b.values[b.fill] = {static_cast<float>(sample), 0.0f};
  if (++b.fill <= kBlockSize - 1) return false;
  b.fill = 0;
  return true;
}

// Samples 0..9 into values (skipped when NULL); returns sample 0.
int32_t readNotchSamples(int32_t* values) {
  const NotchBlock& b = block();
  if (values) {
    for (int i = 0; i < kReturned; ++i) values[i] = truncated(b.values[i].re);
  }
  return truncated(b.values[0].re);
}

}  // namespace dsp

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL initialiseNotchFilter(void) {
  dsp::restartNotchBlock();
  return TLV_DSP_OK;
}

TLV_API int32_t TLV_CALL processNotchFilter(int32_t sample, int32_t /*reserved1*/, int32_t /*reserved2*/) {
  return dsp::storeNotchSample(sample) ? TLV_NOTCH_FULL : TLV_NOTCH_FILLING;
}

TLV_API int32_t TLV_CALL returnNotchFilterValues(int32_t* values, int32_t /*reserved*/) {
  return dsp::readNotchSamples(values);
}

}  // extern "C"
