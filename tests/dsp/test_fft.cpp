// The library's FFT against numpy.fft for every length it supports, and
// one object used for several lengths on arrays at any alignment.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <vector>

#include "dsp/fft.h"
#include "fft_tones.h"
#include "fixtures/temp_root.h"
#include "oracle.h"

namespace {

TEST(Fft, AgreesWithNumpyForEveryPowerOfTwoUpTo32768) {
  fixtures::TempRoot scratch;
  ASSERT_TRUE(dsptest::runOracle("fft " + scratch.path()).empty());
  double worst = 0.0;
  for (int n = 2; n <= dsp::kMaxFftLength; n *= 2) {
    std::ifstream in(scratch.file("fft_" + std::to_string(n) + ".bin"), std::ios::binary);
    std::vector<double> data(4 * static_cast<size_t>(n));
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size() * sizeof(double)));
    ASSERT_TRUE(in) << "reference for N = " << n;
    std::vector<double> re(data.begin(), data.begin() + n), im(data.begin() + n, data.begin() + 2 * n);
    const double* wantRe = data.data() + 2 * n;
    const double* wantIm = data.data() + 3 * n;

    dsp::Fft fft;
    ASSERT_TRUE(fft.prepare(n));
    EXPECT_EQ(fft.length(), n);
    fft.forward(re.data(), im.data());
    double error = 0.0, norm = 0.0;
    for (int k = 0; k < n; ++k) {
      error += std::norm(std::complex<double>(re[k] - wantRe[k], im[k] - wantIm[k]));
      norm += std::norm(std::complex<double>(wantRe[k], wantIm[k]));
    }
    const double relative = std::sqrt(error / norm);
    worst = std::max(worst, relative);
    EXPECT_LT(relative, 1e-12) << "N = " << n;
  }
  std::printf("worst error relative to the norm: %.3g\n", worst);
}

TEST(Fft, ToneLandsInItsBinWithTheForwardSign) {
  // e^(+2 pi i 3n/N) has all its energy, N, in bin 3 of a forward transform.
  for (int n : {8, 32, 128, 4096}) {
    std::vector<double> re(n), im(n);
    for (int j = 0; j < n; ++j) {
      re[j] = std::cos(2.0 * M_PI * 3 * j / n);
      im[j] = std::sin(2.0 * M_PI * 3 * j / n);
    }
    dsp::Fft fft;
    ASSERT_TRUE(fft.prepare(n));
    fft.forward(re.data(), im.data());
    for (int k = 0; k < n; ++k) {
      EXPECT_NEAR(re[k], k == 3 ? n : 0.0, 1e-9 * n) << "N = " << n << ", bin " << k;
      EXPECT_NEAR(im[k], 0.0, 1e-9 * n) << "N = " << n << ", bin " << k;
    }
  }
}

TEST(Fft, OneObjectServesLengthsInAnyOrderOnArraysAtAnyAlignment) {
  // Growing and shrinking the object's scratch space; arrays that start
  // one double past an allocation, with guards either side.
  dsp::Fft fft;
  for (int n : {64, dsp::kMaxFftLength, 2, 4096, 8, 16384, 128, 1024, 32}) {
    ASSERT_TRUE(fft.prepare(n));
    std::vector<double> store(2 * static_cast<size_t>(n) + 3, -7.0);
    double* re = store.data() + 1;
    double* im = re + n + 1;
    EXPECT_LT(dsptest::twoToneError(fft, re, im), 1e-12) << "N = " << n;
    EXPECT_EQ(store.front(), -7.0) << "N = " << n;
    EXPECT_EQ(store[n + 1], -7.0) << "N = " << n;
    EXPECT_EQ(store.back(), -7.0) << "N = " << n;
  }
}

TEST(Fft, OnlyPowersOfTwoFromTwoTo32768) {
  dsp::Fft fft;
  for (int n : {-8, 0, 1, 3, 6, 100, 65536}) {
    EXPECT_FALSE(fft.prepare(n)) << n;
    EXPECT_EQ(fft.length(), 0);
  }
  EXPECT_TRUE(fft.prepare(2));
}

}  // namespace
