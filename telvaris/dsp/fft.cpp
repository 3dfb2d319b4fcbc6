#include "dsp/fft.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <numbers>

namespace dsp {

// The tables of one length, built once and then only read.
struct FftPlan {
  int radix8Passes = 0;
  int lastRadix = 1;  // 1: the radix-8 passes finish the job
  // For every radix-8 pass but the last (spans L from n down to 64 times
  // the last radix): e^(-2 pi i qk/L) for q = 1..7, k < L/8, in the order
  // a pass reads them: per pair of neighbouring k, for each q the two real
  // parts, then the two imaginary parts.
  std::unique_ptr<double[]> twiddles;
  size_t offset[16] = {};  // where the span 2^i starts in `twiddles`
  // The last radix-8 pass (span 8 r): e^(-2 pi i qk/8r) at [q r + k].
  double lastRe[32] = {}, lastIm[32] = {};
};

namespace {

constexpr double kHalfRoot2 = std::numbers::sqrt2 / 2.0;
constexpr int kTwiddlesPerPair = 28;

// Two neighbouring values; GCC and Clang map it onto one SSE2 register.
typedef double V2 __attribute__((vector_size(16)));

inline V2 load(const double* p) {
  V2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store(double* p, V2 v) { std::memcpy(p, &v, sizeof v); }

// The scratch arrays put one cache line of padding after every 4 KiB, so
// that rows a multiple of 4 KiB apart (the butterflies of the long spans)
// fall into different cache sets. A row of up to kChunk elements that
// starts at a multiple of its length stays contiguous.
constexpr size_t kChunk = 512;
constexpr size_t kPad = 8;
inline size_t at(size_t position) { return position + (position / kChunk) * kPad; }

// Where the imaginary scratch array starts: from 4 KiB on, half a page
// past the real one's end, so the two arrays' rows do not meet in the same
// sets.
size_t imaginaryOffset(int n) {
  return n < static_cast<int>(kChunk) ? n : (at(n) + kChunk - 1) / kChunk * kChunk + kChunk / 2;
}
size_t scratchDoubles(int n) { return n < 64 ? 0 : imaginaryOffset(n) + at(n); }

// Passes below this span run breadth first: the block is in cache.
constexpr int kCacheSpan = 512;

// 8-point transform of r + i i, in place, natural order.
template <class T>
inline void dft8(T* r, T* i) {
  // Halves: sums and differences four apart.
  const T s0r = r[0] + r[4], s0i = i[0] + i[4], d0r = r[0] - r[4], d0i = i[0] - i[4];
  const T s1r = r[1] + r[5], s1i = i[1] + i[5], d1r = r[1] - r[5], d1i = i[1] - i[5];
  const T s2r = r[2] + r[6], s2i = i[2] + i[6], d2r = r[2] - r[6], d2i = i[2] - i[6];
  const T s3r = r[3] + r[7], s3i = i[3] + i[7], d3r = r[3] - r[7], d3i = i[3] - i[7];
  // Odd half turned by e^(-i pi q/4).
  const T o1r = (d1r + d1i) * kHalfRoot2, o1i = (d1i - d1r) * kHalfRoot2;
  const T o2r = d2i, o2i = -d2r;
  const T o3r = (d3i - d3r) * kHalfRoot2, o3i = -(d3r + d3i) * kHalfRoot2;
  // Even outputs 0, 2, 4, 6: a 4-point transform of the sums.
  const T a0r = s0r + s2r, a0i = s0i + s2i, a1r = s0r - s2r, a1i = s0i - s2i;
  const T a2r = s1r + s3r, a2i = s1i + s3i, a3r = s1r - s3r, a3i = s1i - s3i;
  r[0] = a0r + a2r;
  i[0] = a0i + a2i;
  r[4] = a0r - a2r;
  i[4] = a0i - a2i;
  r[2] = a1r + a3i;
  i[2] = a1i - a3r;
  r[6] = a1r - a3i;
  i[6] = a1i + a3r;
  // Odd outputs 1, 3, 5, 7: the same of the turned differences.
  const T b0r = d0r + o2r, b0i = d0i + o2i, b1r = d0r - o2r, b1i = d0i - o2i;
  const T b2r = o1r + o3r, b2i = o1i + o3i, b3r = o1r - o3r, b3i = o1i - o3i;
  r[1] = b0r + b2r;
  i[1] = b0i + b2i;
  r[5] = b0r - b2r;
  i[5] = b0i - b2i;
  r[3] = b1r + b3i;
  i[3] = b1i - b3r;
  r[7] = b1r - b3i;
  i[7] = b1i + b3r;
}

// 4-point transform of elements 0, s, 2s, 3s, in place, natural order.
template <class T>
inline void dft4(T* r, T* i, int s) {
  const T t0r = r[0] + r[2 * s], t0i = i[0] + i[2 * s];
  const T t1r = r[0] - r[2 * s], t1i = i[0] - i[2 * s];
  const T t2r = r[s] + r[3 * s], t2i = i[s] + i[3 * s];
  const T t3r = r[s] - r[3 * s], t3i = i[s] - i[3 * s];
  r[0] = t0r + t2r;
  i[0] = t0i + t2i;
  r[2 * s] = t0r - t2r;
  i[2 * s] = t0i - t2i;
  // X1 = t1 - i t3, X3 = t1 + i t3
  r[s] = t1r + t3i;
  i[s] = t1i - t3r;
  r[3 * s] = t1r - t3i;
  i[3 * s] = t1i + t3r;
}

template <class T>
inline void dft2(T* r, T* i, int s) {
  const T r0 = r[0], i0 = i[0];
  r[0] = r0 + r[s];
  i[0] = i0 + i[s];
  r[s] = r0 - r[s];
  i[s] = i0 - i[s];
}

// The eight rows of a radix-8 pass's butterflies: element k of each row is
// transformed in place.
struct Rows {
  double* re[8];
  double* im[8];
};

// Butterflies k = 0..count-1 (count even) of a decimation-in-frequency
// radix-8 pass, two neighbouring k at a time: output q is turned by
// e^(-2 pi i qk/span), read from `twiddles` in their pass order.
void butterflies(const Rows& given, int count, const double* twiddles) {
  const Rows rows = given;  // a copy the stores below cannot reach
  for (int k = 0; k < count; k += 2, twiddles += kTwiddlesPerPair) {
    V2 r[8], i[8];
    for (int q = 0; q < 8; ++q) {
      r[q] = load(rows.re[q] + k);
      i[q] = load(rows.im[q] + k);
    }
    dft8(r, i);
    store(rows.re[0] + k, r[0]);
    store(rows.im[0] + k, i[0]);
    for (int q = 1; q < 8; ++q) {
      const V2 wr = load(twiddles + 4 * (q - 1)), wi = load(twiddles + 4 * (q - 1) + 2);
      store(rows.re[q] + k, r[q] * wr - i[q] * wi);
      store(rows.im[q] + k, r[q] * wi + i[q] * wr);
    }
  }
}

// The last radix-8 pass (span 8R) and the radix-R pass of one run of 8R
// elements: x in position order in, y in natural (frequency) order out.
template <int R, class T>
inline void finishRun(T* xr, T* xi, const FftPlan& plan, T* yr, T* yi) {
  for (int k = 0; k < R; ++k) {
    T r[8], i[8];
    for (int q = 0; q < 8; ++q) {
      r[q] = xr[k + q * R];
      i[q] = xi[k + q * R];
    }
    dft8(r, i);
    for (int q = 0; q < 8; ++q) {
      if (k == 0 || q == 0) {
        xr[q * R + k] = r[q];
        xi[q * R + k] = i[q];
      } else {
        const double wr = plan.lastRe[q * R + k], wi = plan.lastIm[q * R + k];
        xr[q * R + k] = r[q] * wr - i[q] * wi;
        xi[q * R + k] = r[q] * wi + i[q] * wr;
      }
    }
  }
  // Run q of R holds outputs q, q + 8, ... of the radix-R transforms.
  for (int q = 0; q < 8; ++q) {
    if constexpr (R == 4) dft4(xr + 4 * q, xi + 4 * q, 1);
    if constexpr (R == 2) dft2(xr + 2 * q, xi + 2 * q, 1);
    for (int t = 0; t < R; ++t) {
      yr[q + 8 * t] = xr[q * R + t];
      yi[q + 8 * t] = xi[q * R + t];
    }
  }
}

bool build(FftPlan& plan, int n) {
  const int bits = std::countr_zero(static_cast<unsigned>(n));
  plan.radix8Passes = bits / 3;
  plan.lastRadix = 1 << (bits % 3);
  const int r = plan.lastRadix;

  size_t total = 0;
  for (int span = n; span >= 64 * r; span /= 8) total += static_cast<size_t>(span / 16) * kTwiddlesPerPair;
  plan.twiddles.reset(new (std::nothrow) double[total + 1]);
  if (!plan.twiddles) return false;
  size_t next = 0;
  for (int span = n; span >= 64 * r; span /= 8) {
    plan.offset[std::countr_zero(static_cast<unsigned>(span))] = next;
    for (int k = 0; k < span / 8; k += 2) {
      for (int q = 1; q < 8; ++q, next += 4) {
        for (int lane = 0; lane < 2; ++lane) {
          const double angle = 2.0 * std::numbers::pi * (static_cast<double>(q) * (k + lane)) / span;
          plan.twiddles[next + lane] = std::cos(angle);
          plan.twiddles[next + 2 + lane] = -std::sin(angle);
        }
      }
    }
  }
  for (int q = 0; q < 8; ++q) {
    for (int k = 0; k < r; ++k) {
      const double angle = 2.0 * std::numbers::pi * (static_cast<double>(q) * k) / (8 * r);
      plan.lastRe[q * r + k] = std::cos(angle);
      plan.lastIm[q * r + k] = -std::sin(angle);
    }
  }
  return true;
}

// Every length's plan, built by whichever thread asks first; the others
// wait for it on the mutex, later callers read it without a lock.
struct PlanCache {
  std::mutex building;
  std::atomic<const FftPlan*> ready[16] = {};
  std::unique_ptr<FftPlan> owned[16];
};

PlanCache& planCache() {
  static PlanCache cache;
  return cache;
}

// Null when memory runs out; a later call tries again.
const FftPlan* planFor(int n) {
  const int bits = std::countr_zero(static_cast<unsigned>(n));
  PlanCache& cache = planCache();
  if (const FftPlan* plan = cache.ready[bits].load(std::memory_order_acquire)) return plan;
  std::lock_guard<std::mutex> hold(cache.building);
  if (const FftPlan* plan = cache.ready[bits].load(std::memory_order_relaxed)) return plan;
  std::unique_ptr<FftPlan> plan(new (std::nothrow) FftPlan);
  if (!plan || !build(*plan, n)) return nullptr;
  cache.owned[bits] = std::move(plan);
  cache.ready[bits].store(cache.owned[bits].get(), std::memory_order_release);
  return cache.owned[bits].get();
}

}  // namespace

bool Fft::prepare(int n) {
  n_ = 0;
  plan_ = nullptr;
  if (n < 2 || n > kMaxFftLength || (n & (n - 1)) != 0) return false;
  const FftPlan* plan = planFor(n);
  if (!plan) return false;
  const size_t need = scratchDoubles(n);
  if (need > scratchLength_) {
    // Eight more doubles to start the arrays on a cache line.
    scratchStore_.reset(new (std::nothrow) double[need + 8]);
    scratchLength_ = scratchStore_ ? need : 0;
    scratch_ = nullptr;
    if (!scratchStore_) return false;
    void* start = scratchStore_.get();
    size_t space = (need + 8) * sizeof(double);
    scratch_ = static_cast<double*>(std::align(64, need * sizeof(double), start, space));
  }
  plan_ = plan;
  n_ = n;
  return true;
}

void Fft::forward(double* re, double* im) const {
  if (n_ == 0) return;
  switch (plan_->lastRadix) {
    case 4:
      return transform<4>(re, im);
    case 2:
      return transform<2>(re, im);
    default:
      return transform<1>(re, im);
  }
}

// Decimation in frequency. With n = 8^P R, the passes leave transform
// element k0 + 8 k1 + ... + 8^(P-1) k(P-1) + 8^P kP at position
// k0 n/8 + k1 n/64 + ... + k(P-1) R + kP: the first pass's digit is the
// lowest of k.
template <int R>
void Fft::transform(double* re, double* im) const {
  const FftPlan& plan = *plan_;
  const int n = n_;
  if (n < 64) {
    if (n == 2) dft2(re, im, 1);
    if (n == 4) dft4(re, im, 1);
    if (n >= 8) {
      double xr[8 * R], xi[8 * R];
      std::memcpy(xr, re, sizeof xr);
      std::memcpy(xi, im, sizeof xi);
      finishRun<R>(xr, xi, plan, re, im);
    }
    return;
  }
  double* sRe = scratch_;
  double* sIm = scratch_ + imaginaryOffset(n);

  // Into the scratch arrays, whose padding keeps a butterfly's rows in
  // different cache sets (the caller's arrays, 4 KiB or more apart, would
  // share one); then every radix-8 pass but the last.
  for (int c = 0; c < n; c += static_cast<int>(kChunk)) {
    const size_t length = std::min<size_t>(kChunk, n - c);
    std::memcpy(sRe + at(c), re + c, length * sizeof(double));
    std::memcpy(sIm + at(c), im + c, length * sizeof(double));
  }
  radix8Passes(sRe, sIm, 0, n);

  // The last radix-8 pass, the radix-R pass and the reordering, eight
  // runs of 8R at a time: the runs of one tile (first digit k0 = 0..7,
  // the same middle digits) hold 8R lines of eight neighbouring outputs.
  const int m = n / 8;
  const int tiles = n / (64 * R);
  const int lineStride = n / (8 * R);
  const int middleDigits = plan.radix8Passes - 2;
  for (int t = 0; t < tiles; ++t) {
    int reversed = 0;
    for (int d = 0, rest = t; d < middleDigits; ++d, rest >>= 3) reversed = (reversed << 3) | (rest & 7);
    alignas(64) double lineRe[8 * R][8], lineIm[8 * R][8];
    for (int k0 = 0; k0 < 8; k0 += 2) {
      const double* aRe = sRe + at(static_cast<size_t>(k0) * m + reversed * 8 * R);
      const double* bRe = sRe + at(static_cast<size_t>(k0 + 1) * m + reversed * 8 * R);
      const double* aIm = sIm + at(static_cast<size_t>(k0) * m + reversed * 8 * R);
      const double* bIm = sIm + at(static_cast<size_t>(k0 + 1) * m + reversed * 8 * R);
      V2 xr[8 * R], xi[8 * R], yr[8 * R], yi[8 * R];
      for (int e = 0; e < 8 * R; ++e) {
        xr[e] = V2{aRe[e], bRe[e]};
        xi[e] = V2{aIm[e], bIm[e]};
      }
      finishRun<R>(xr, xi, plan, yr, yi);
      for (int j = 0; j < 8 * R; ++j) {
        store(lineRe[j] + k0, yr[j]);
        store(lineIm[j] + k0, yi[j]);
      }
    }
    for (int j = 0; j < 8 * R; ++j) {
      std::memcpy(re + 8 * t + j * lineStride, lineRe[j], sizeof lineRe[j]);
      std::memcpy(im + 8 * t + j * lineStride, lineIm[j], sizeof lineIm[j]);
    }
  }
}

// The radix-8 passes from `span` down to 64 R on the scratch block at
// `start`: depth first while a block is larger than the cache keeps, so
// each sub-block finishes its passes before the next one is read.
void Fft::radix8Passes(double* re, double* im, int start, int span) const {
  const int smallest = 64 * plan_->lastRadix;
  if (span < smallest) return;
  if (span <= kCacheSpan) {
    for (int s = span; s >= smallest; s /= 8) pass(re, im, start, span, s);
    return;
  }
  pass(re, im, start, span, span);
  for (int b = 0; b < 8; ++b) radix8Passes(re, im, start + b * (span / 8), span / 8);
}

// One radix-8 pass of `span` over the scratch blocks in [start, start + size).
void Fft::pass(double* re, double* im, int start, int size, int span) const {
  const int m = span / 8;
  const int chunk = m < static_cast<int>(kChunk) ? m : static_cast<int>(kChunk);
  const double* twiddles = plan_->twiddles.get() + plan_->offset[std::countr_zero(static_cast<unsigned>(span))];
  for (int block = start; block < start + size; block += span) {
    for (int k0 = 0; k0 < m; k0 += chunk) {
      Rows rows;
      for (int q = 0; q < 8; ++q) {
        const size_t p = at(static_cast<size_t>(block) + q * m + k0);
        rows.re[q] = re + p;
        rows.im[q] = im + p;
      }
      butterflies(rows, chunk, twiddles + k0 / 2 * kTwiddlesPerPair);
    }
  }
}

}  // namespace dsp
