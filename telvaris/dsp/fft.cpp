#include "dsp/fft.h"

#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace dsp {
namespace {

constexpr double kHalfRoot2 = std::numbers::sqrt2 / 2.0;

// Where the pass sequence leaves the transform of index k: the digits of
// the position, read from the first pass's radix on, are the digits of k
// read from the lowest.
uint32_t positionToIndex(uint32_t position, int n, const int* radices, int passes) {
  uint32_t rest = position, index = 0, weight = 1;
  int span = n;
  for (int i = 0; i < passes; ++i) {
    span /= radices[i];
    index += (rest / span) * weight;
    rest %= span;
    weight *= radices[i];
  }
  return index;
}

// 4-point transform of (c0..c3), in place.
inline void dft4(double& r0, double& i0, double& r1, double& i1, double& r2, double& i2, double& r3, double& i3) {
  const double t0r = r0 + r2, t0i = i0 + i2;
  const double t1r = r0 - r2, t1i = i0 - i2;
  const double t2r = r1 + r3, t2i = i1 + i3;
  const double t3r = r1 - r3, t3i = i1 - i3;
  r0 = t0r + t2r;
  i0 = t0i + t2i;
  r2 = t0r - t2r;
  i2 = t0i - t2i;
  // Y1 = t1 - i t3, Y3 = t1 + i t3
  r1 = t1r + t3i;
  i1 = t1i - t3r;
  r3 = t1r - t3i;
  i3 = t1i + t3r;
}

// The m radix-8 butterflies of one span, k = 0..m-1, each turned by its
// twiddles. Written out with one variable per value and k running over
// neighbouring elements, so that the compiler can vectorise the loop.
void butterflies8(double* __restrict re, double* __restrict im, int m, const double* __restrict twiddleRe,
                  const double* __restrict twiddleIm) {
  double* __restrict r0 = re;
  double* __restrict r1 = re + m;
  double* __restrict r2 = re + 2 * m;
  double* __restrict r3 = re + 3 * m;
  double* __restrict r4 = re + 4 * m;
  double* __restrict r5 = re + 5 * m;
  double* __restrict r6 = re + 6 * m;
  double* __restrict r7 = re + 7 * m;
  double* __restrict i0 = im;
  double* __restrict i1 = im + m;
  double* __restrict i2 = im + 2 * m;
  double* __restrict i3 = im + 3 * m;
  double* __restrict i4 = im + 4 * m;
  double* __restrict i5 = im + 5 * m;
  double* __restrict i6 = im + 6 * m;
  double* __restrict i7 = im + 7 * m;
  // The eight rows never overlap (each is m long); tell the vectoriser so
  // rather than have it test every pair at run time.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC ivdep
#endif
  for (int k = 0; k < m; ++k) {
    // Halves: sums and differences four apart.
    const double s0r = r0[k] + r4[k], s0i = i0[k] + i4[k], d0r = r0[k] - r4[k], d0i = i0[k] - i4[k];
    const double s1r = r1[k] + r5[k], s1i = i1[k] + i5[k], d1r = r1[k] - r5[k], d1i = i1[k] - i5[k];
    const double s2r = r2[k] + r6[k], s2i = i2[k] + i6[k], d2r = r2[k] - r6[k], d2i = i2[k] - i6[k];
    const double s3r = r3[k] + r7[k], s3i = i3[k] + i7[k], d3r = r3[k] - r7[k], d3i = i3[k] - i7[k];
    // Odd half turned by e^(-i pi q/4).
    const double o1r = (d1r + d1i) * kHalfRoot2, o1i = (d1i - d1r) * kHalfRoot2;
    const double o2r = d2i, o2i = -d2r;
    const double o3r = (d3i - d3r) * kHalfRoot2, o3i = -(d3r + d3i) * kHalfRoot2;
    // Even outputs 0, 2, 4, 6: a 4-point transform of the sums.
    const double a0r = s0r + s2r, a0i = s0i + s2i, a1r = s0r - s2r, a1i = s0i - s2i;
    const double a2r = s1r + s3r, a2i = s1i + s3i, a3r = s1r - s3r, a3i = s1i - s3i;
    const double x0r = a0r + a2r, x0i = a0i + a2i;
    const double x4r = a0r - a2r, x4i = a0i - a2i;
    const double x2r = a1r + a3i, x2i = a1i - a3r;
    const double x6r = a1r - a3i, x6i = a1i + a3r;
    // Odd outputs 1, 3, 5, 7: the same of the turned differences.
    const double b0r = d0r + o2r, b0i = d0i + o2i, b1r = d0r - o2r, b1i = d0i - o2i;
    const double b2r = o1r + o3r, b2i = o1i + o3i, b3r = o1r - o3r, b3i = o1i - o3i;
    const double x1r = b0r + b2r, x1i = b0i + b2i;
    const double x5r = b0r - b2r, x5i = b0i - b2i;
    const double x3r = b1r + b3i, x3i = b1i - b3r;
    const double x7r = b1r - b3i, x7i = b1i + b3r;

    r0[k] = x0r;
    i0[k] = x0i;
    const double* wr = twiddleRe + k;
    const double* wi = twiddleIm + k;
    r1[k] = x1r * wr[0] - x1i * wi[0];
    i1[k] = x1r * wi[0] + x1i * wr[0];
    r2[k] = x2r * wr[m] - x2i * wi[m];
    i2[k] = x2r * wi[m] + x2i * wr[m];
    r3[k] = x3r * wr[2 * m] - x3i * wi[2 * m];
    i3[k] = x3r * wi[2 * m] + x3i * wr[2 * m];
    r4[k] = x4r * wr[3 * m] - x4i * wi[3 * m];
    i4[k] = x4r * wi[3 * m] + x4i * wr[3 * m];
    r5[k] = x5r * wr[4 * m] - x5i * wi[4 * m];
    i5[k] = x5r * wi[4 * m] + x5i * wr[4 * m];
    r6[k] = x6r * wr[5 * m] - x6i * wi[5 * m];
    i6[k] = x6r * wi[5 * m] + x6i * wr[5 * m];
    r7[k] = x7r * wr[6 * m] - x7i * wi[6 * m];
    i7[k] = x7r * wi[6 * m] + x7i * wr[6 * m];
  }
}

}  // namespace

bool Fft::prepare(int n) {
  n_ = 0;
  if (n < 2 || n > kMaxFftLength || (n & (n - 1)) != 0) return false;
  int bits = 0;
  while ((1 << bits) < n) ++bits;
  radix8Passes_ = bits / 3;
  lastRadix_ = 1 << (bits % 3);

  int radices[6];
  int passes = 0;
  for (int i = 0; i < radix8Passes_; ++i) radices[passes++] = 8;
  if (lastRadix_ > 1) radices[passes++] = lastRadix_;

  size_t twiddles = 0;
  for (int span = n, i = 0; i < radix8Passes_; ++i, span /= 8) twiddles += 7 * static_cast<size_t>(span / 8);
  twiddleRe_.reset(new (std::nothrow) double[twiddles + 1]);
  twiddleIm_.reset(new (std::nothrow) double[twiddles + 1]);
  source_.reset(new (std::nothrow) uint32_t[n]);
  scratch_.reset(new (std::nothrow) double[2 * static_cast<size_t>(n)]);
  if (!twiddleRe_ || !twiddleIm_ || !source_ || !scratch_) return false;

  size_t at = 0;
  for (int span = n, i = 0; i < radix8Passes_; ++i, span /= 8) {
    const int m = span / 8;
    for (int q = 1; q < 8; ++q) {
      for (int k = 0; k < m; ++k, ++at) {
        const double angle = 2.0 * std::numbers::pi * (static_cast<double>(q) * k) / span;
        twiddleRe_[at] = std::cos(angle);
        twiddleIm_[at] = -std::sin(angle);
      }
    }
  }

  for (int position = 0; position < n; ++position) {
    source_[positionToIndex(position, n, radices, passes)] = position;
  }
  n_ = n;
  return true;
}

void Fft::forward(double* re, double* im) const {
  if (n_ == 0) return;
  int span = n_;
  size_t at = 0;
  for (int pass = 0; pass < radix8Passes_; ++pass, span /= 8) {
    radix8Pass(re, im, span, twiddleRe_.get() + at, twiddleIm_.get() + at);
    at += 7 * static_cast<size_t>(span / 8);
  }
  if (lastRadix_ == 4) radix4Pass(re, im);
  if (lastRadix_ == 2) radix2Pass(re, im);
  reorder(re, im);
}

// Decimation in frequency: the eight elements k + q m of each span are
// transformed, and output q is turned by e^(-2 pi i qk/span).
void Fft::radix8Pass(double* re, double* im, int span, const double* twiddleRe, const double* twiddleIm) const {
  const int m = span / 8;
  for (int block = 0; block < n_; block += span) {
    butterflies8(re + block, im + block, m, twiddleRe, twiddleIm);
  }
}

void Fft::radix4Pass(double* re, double* im) const {
  for (int b = 0; b < n_; b += 4) {
    dft4(re[b], im[b], re[b + 1], im[b + 1], re[b + 2], im[b + 2], re[b + 3], im[b + 3]);
  }
}

void Fft::radix2Pass(double* re, double* im) const {
  for (int b = 0; b < n_; b += 2) {
    const double r0 = re[b], i0 = im[b];
    re[b] = r0 + re[b + 1];
    im[b] = i0 + im[b + 1];
    re[b + 1] = r0 - re[b + 1];
    im[b + 1] = i0 - im[b + 1];
  }
}

// Gathers the transform into natural order through the scratch arrays.
void Fft::reorder(double* re, double* im) const {
  double* sortedRe = scratch_.get();
  double* sortedIm = sortedRe + n_;
  const uint32_t* from = source_.get();
  for (int k = 0; k < n_; ++k) {
    sortedRe[k] = re[from[k]];
    sortedIm[k] = im[from[k]];
  }
  std::memcpy(re, sortedRe, n_ * sizeof(double));
  std::memcpy(im, sortedIm, n_ * sizeof(double));
}

}  // namespace dsp
