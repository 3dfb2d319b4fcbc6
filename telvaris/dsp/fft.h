// The library's own fast Fourier transform: in place on split real and
// imaginary arrays, unscaled, forward (e^(-2 pi i jk/N)). Radix-8 passes
// first, then one radix-4 or radix-2 pass as the length requires, then a
// digit-reversal reordering.
//
// How the passes meet the cache: the radix-8 passes but the last run on a
// scratch copy whose rows are padded apart, so that the eight rows of a
// butterfly never share a cache set, and depth first, each block finishing
// its passes while it is still in cache; the last radix-8 pass, the
// radix-4 or radix-2 pass and the reordering run as one sweep that writes
// the caller's arrays in natural order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace dsp {

constexpr int kMaxFftLength = 1 << 15;

struct FftPlan;

class Fft {
 public:
  // Readies the transform of length `n`, a power of two from 2 to
  // kMaxFftLength. False, and no transform, when `n` is not such a length
  // or memory runs out. The twiddle factors of each length are built once
  // per process and shared by every object, whichever thread asks first.
  bool prepare(int n);
  int length() const { return n_; }

  // Transforms re[0..n-1] + i im[0..n-1] in place. One object transforms
  // one array at a time: it keeps scratch space for the passes; objects
  // of their own may run on as many threads as wanted.
  void forward(double* re, double* im) const;

 private:
  template <int R>
  void transform(double* re, double* im) const;
  void radix8Passes(double* re, double* im, int start, int span) const;
  void pass(double* re, double* im, int start, int size, int span) const;

  int n_ = 0;
  const FftPlan* plan_ = nullptr;   // shared, never freed while the process runs
  std::unique_ptr<double[]> scratchStore_;
  double* scratch_ = nullptr;  // cache-line aligned inside scratchStore_
  size_t scratchLength_ = 0;   // doubles the scratch arrays need for n_
};

}  // namespace dsp
