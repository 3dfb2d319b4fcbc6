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

  // Transforms re[0..n-1] + i im[0..n-1] in place. One object transforms
  // one array at a time: it keeps scratch space for the reordering.
  void forward(double* re, double* im) const;

 private:
  void radix8Pass(double* re, double* im, int span, const double* twiddleRe, const double* twiddleIm) const;
  void radix4Pass(double* re, double* im) const;
  void radix2Pass(double* re, double* im) const;
  void reorder(double* re, double* im) const;

  int n_ = 0;
  int radix8Passes_ = 0;
  int lastRadix_ = 1;  // 1: the radix-8 passes finish the job
  // Per radix-8 pass of span L (m = L/8): e^(-2 pi i qk/L) for q = 1..7,
  // k < m, stored q-major so a pass reads them in step with the data.
  std::unique_ptr<double[]> twiddleRe_;
  std::unique_ptr<double[]> twiddleIm_;
  std::unique_ptr<uint32_t[]> source_;  // where the passes leave transform element k
  std::unique_ptr<double[]> scratch_;   // 2n, for the reordering
};

}  // namespace dsp
