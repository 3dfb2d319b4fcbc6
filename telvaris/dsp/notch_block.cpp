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
NotchBlock block;  // one per process, zero at load

// Truncation toward zero. Samples near INT32_MAX round up to the float
// 2^31, which int32 cannot hold; they come back as INT32_MAX.
int32_t truncated(float value) {
  if (value >= 2147483648.0f) return INT32_MAX;
  return static_cast<int32_t>(value);
}

}  // namespace
}  // namespace dsp

extern "C" {

TLV_API int32_t TLV_CALL initialiseNotchFilter(void) {
  dsp::block.fill = 0;
  return 0;
}

TLV_API int32_t TLV_CALL processNotchFilter(int32_t sample, int32_t reserved1, int32_t reserved2) {
  dsp::NotchBlock& b = dsp::block;
  b.values[b.fill] = {static_cast<float>(sample), 0.0f};
  if (++b.fill <= dsp::kBlockSize - 1) return -1;
  b.fill = 0;
  return 1;
}

TLV_API int32_t TLV_CALL returnNotchFilterValues(int32_t* values, int32_t reserved) {
  const dsp::NotchBlock& b = dsp::block;
  if (values) {
    for (int i = 0; i < dsp::kReturned; ++i) values[i] = dsp::truncated(b.values[i].re);
  }
  return dsp::truncated(b.values[0].re);
}

}  // extern "C"
