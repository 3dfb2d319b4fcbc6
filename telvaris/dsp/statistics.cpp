// Least-squares line and Pearson correlation of paired values.
#include <cmath>
#include <cstdint>
#include <limits>

#include "telvaris.h"

namespace dsp {
namespace {

struct Sums {
  double n = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0;

  Sums(const double* xs, const double* ys, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      x += xs[i];
      y += ys[i];
      xx += xs[i] * xs[i];
      xy += xs[i] * ys[i];
      yy += ys[i] * ys[i];
    }
    n = count > 0 ? count : 0;
  }
};

}  // namespace

int32_t linearRegression(int32_t n, const double* x, const double* y, double* slope, double* intercept,
                         double* coefficient) {
  if (!slope || !intercept || (n > 0 && (!x || !y))) return -1;
  const Sums s(x, y, n);
  const double d = s.n * s.xx - s.x * s.x;
  if (d == 0.0) {
    *slope = 0.0;
    *intercept = 0.0;
    if (coefficient) *coefficient = 0.0;
    return 1;
  }
  *slope = (s.n * s.xy - s.x * s.y) / d;
  *intercept = (s.y * s.xx - s.x * s.xy) / d;
  if (coefficient) {
    *coefficient = (s.xy - s.x * s.y / s.n) / std::sqrt((s.yy - s.y * s.y / s.n) * (s.xx - s.x * s.x / s.n));
  }
  return 0;
}

double correlation(const double* x, const double* y, int32_t n) {
  if (n > 0 && (!x || !y)) return std::numeric_limits<double>::quiet_NaN();
  const Sums s(x, y, n);
  return (s.n * s.xy - s.x * s.y) / std::sqrt((s.n * s.yy - s.y * s.y) * (s.n * s.xx - s.x * s.x));
}

}  // namespace dsp

extern "C" {

TLV_API int32_t TLV_CALL LinearRegression(int32_t n, const double* x, const double* y, double* slope, double* intercept,
                                          double* coefficient) {
  return dsp::linearRegression(n, x, y, slope, intercept, coefficient);
}

TLV_API double TLV_CALL correl(const double* x, const double* y, int32_t n) { return dsp::correlation(x, y, n); }

}  // extern "C"
