#include "dsp/fft.h"

#include <cmath>
#include <new>
#include <numbers>

namespace dsp {
namespace {

constexpr uint32_t kEndOfCycle = 0xFFFFFFFFu;
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

// 8-point transform of (r[q], i[q]), in place, output in natural order.
inline void dft8(double* r, double* i) {
  double er[4], ei[4], orr[4], oi[4];
  for (int q = 0; q < 4; ++q) {
    er[q] = r[q] + r[q + 4];
    ei[q] = i[q] + i[q + 4];
    orr[q] = r[q] - r[q + 4];
    oi[q] = i[q] - i[q + 4];
  }
  // Odd half times e^(-i pi q/4).
  double x = orr[1], y = oi[1];
  orr[1] = (x + y) * kHalfRoot2;
  oi[1] = (y - x) * kHalfRoot2;
  x = orr[2];
  orr[2] = oi[2];
  oi[2] = -x;
  x = orr[3];
  y = oi[3];
  orr[3] = (y - x) * kHalfRoot2;
  oi[3] = -(x + y) * kHalfRoot2;
  dft4(er[0], ei[0], er[1], ei[1], er[2], ei[2], er[3], ei[3]);
  dft4(orr[0], oi[0], orr[1], oi[1], orr[2], oi[2], orr[3], oi[3]);
  for (int q = 0; q < 4; ++q) {
    r[2 * q] = er[q];
    i[2 * q] = ei[q];
    r[2 * q + 1] = orr[q];
    i[2 * q + 1] = oi[q];
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

  cos_.reset(new (std::nothrow) double[n]);
  sin_.reset(new (std::nothrow) double[n]);
  // Every cycle has at least two members, so the end marks add at most n/2.
  cycles_.reset(new (std::nothrow) uint32_t[n + n / 2 + 1]);
  std::unique_ptr<uint8_t[]> seen(new (std::nothrow) uint8_t[n]());
  if (!cos_ || !sin_ || !cycles_ || !seen) return false;

  const double step = 2.0 * std::numbers::pi / n;
  for (int j = 0; j < n; ++j) {
    cos_[j] = std::cos(step * j);
    sin_[j] = std::sin(step * j);
  }

  cycleEntries_ = 0;
  for (int start = 0; start < n; ++start) {
    if (seen[start]) continue;
    uint32_t next = positionToIndex(start, n, radices, passes);
    seen[start] = 1;
    if (next == static_cast<uint32_t>(start)) continue;
    cycles_[cycleEntries_++] = start;
    while (next != static_cast<uint32_t>(start)) {
      seen[next] = 1;
      cycles_[cycleEntries_++] = next;
      next = positionToIndex(next, n, radices, passes);
    }
    cycles_[cycleEntries_++] = kEndOfCycle;
  }
  n_ = n;
  return true;
}

void Fft::forward(double* re, double* im) const {
  if (n_ == 0) return;
  int span = n_;
  for (int pass = 0; pass < radix8Passes_; ++pass, span /= 8) radix8Pass(re, im, span);
  if (lastRadix_ == 4) radix4Pass(re, im);
  if (lastRadix_ == 2) radix2Pass(re, im);
  reorder(re, im);
}

// Decimation in frequency: the eight elements k + q m of each span are
// transformed, and output q is turned by e^(-2 pi i qk/span).
void Fft::radix8Pass(double* re, double* im, int span) const {
  const int m = span / 8;
  const int stride = n_ / span;  // table step for this span
  double r[8], i[8];
  for (int k = 0; k < m; ++k) {
    double wr[8], wi[8];
    for (int q = 1; q < 8; ++q) {
      const int j = q * k * stride;
      wr[q] = cos_[j];
      wi[q] = -sin_[j];
    }
    for (int base = k; base < n_; base += span) {
      for (int q = 0; q < 8; ++q) {
        r[q] = re[base + q * m];
        i[q] = im[base + q * m];
      }
      dft8(r, i);
      re[base] = r[0];
      im[base] = i[0];
      if (k == 0) {
        for (int q = 1; q < 8; ++q) {
          re[base + q * m] = r[q];
          im[base + q * m] = i[q];
        }
      } else {
        for (int q = 1; q < 8; ++q) {
          re[base + q * m] = r[q] * wr[q] - i[q] * wi[q];
          im[base + q * m] = r[q] * wi[q] + i[q] * wr[q];
        }
      }
    }
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

// Each cycle lists positions p0, p1, ... where the value at p_j belongs at
// p_(j+1), and the last one's at p0.
void Fft::reorder(double* re, double* im) const {
  int first = 0;
  while (first < cycleEntries_) {
    int last = first;
    while (cycles_[last + 1] != kEndOfCycle) ++last;
    const double carryRe = re[cycles_[last]], carryIm = im[cycles_[last]];
    for (int j = last; j > first; --j) {
      re[cycles_[j]] = re[cycles_[j - 1]];
      im[cycles_[j]] = im[cycles_[j - 1]];
    }
    re[cycles_[first]] = carryRe;
    im[cycles_[first]] = carryIm;
    first = last + 2;
  }
}

}  // namespace dsp
