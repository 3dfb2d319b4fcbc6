// A signal whose transform is known exactly, for the FFT tests that need a
// reference at any length without the numpy oracle.
#pragma once

#include <cmath>
#include <complex>

#include "dsp/fft.h"

namespace dsptest {

// Two tones, e^(2 pi i j/N) and (0.5 + 0.25 i) e^(2 pi i (3N/4) j/N), whose
// forward transform is N in bin 1 and N (0.5 + 0.25 i) in bin 3N/4: fills
// re/im with them, transforms, and returns the error relative to the norm.
inline double twoToneError(const dsp::Fft& fft, double* re, double* im) {
  const int n = fft.length();
  const int second = n >= 4 ? 3 * n / 4 : 0;
  for (int j = 0; j < n; ++j) {
    const double a = 2.0 * M_PI * j / n, b = 2.0 * M_PI * ((static_cast<long>(second) * j) % n) / n;
    re[j] = std::cos(a) + 0.5 * std::cos(b) - 0.25 * std::sin(b);
    im[j] = std::sin(a) + 0.5 * std::sin(b) + 0.25 * std::cos(b);
  }
  fft.forward(re, im);
  double error = 0.0;
  for (int k = 0; k < n; ++k) {
    std::complex<double> want = 0.0;
    if (k == 1) want += static_cast<double>(n);
    if (k == second) want += std::complex<double>(0.5, 0.25) * static_cast<double>(n);
    error += std::norm(std::complex<double>(re[k], im[k]) - want);
  }
  return std::sqrt(error / (static_cast<double>(n) * n * (1.0 + 0.3125)));
}

}  // namespace dsptest
