// The library's own fast Fourier transform: in place on split real and
// imaginary arrays, unscaled, forward (e^(-2 pi i jk/N)). Radix-8 passes
// first, then one radix-4 or radix-2 pass as the length requires, then a
// digit-reversal reordering.
#pragma once

#include <cstdint>
#include <memory>

namespace dsp {

constexpr int kMaxFftLength = 1 << 15;

class Fft {
 public:
  // Builds the tables for length `n`, a power of two from 2 to
  // kMaxFftLength. False, and no transform, when `n` is not such a length
  // or memory runs out.
  bool prepare(int n);
  int length() const { return n_; }

  // Transforms re[0..n-1] + i im[0..n-1] in place.
  void forward(double* re, double* im) const;

 private:
  void radix8Pass(double* re, double* im, int span) const;
  void radix4Pass(double* re, double* im) const;
  void radix2Pass(double* re, double* im) const;
  void reorder(double* re, double* im) const;

  int n_ = 0;
  int radix8Passes_ = 0;
  int lastRadix_ = 1;  // 1: the radix-8 passes finish the job
  std::unique_ptr<double[]> cos_;   // cos(2 pi j/n), j < n
  std::unique_ptr<double[]> sin_;   // sin(2 pi j/n), j < n
  std::unique_ptr<uint32_t[]> cycles_;  // the reordering, cycle by cycle, each ended by kEndOfCycle
  int cycleEntries_ = 0;
};

}  // namespace dsp
