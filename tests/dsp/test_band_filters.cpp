// Band-pass sections, the brain-map bank and the notch block buffer.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "dsp/band_filters.h"
#include "dsp/rr_interval.h"
#include "telvaris.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRate = 256.0;

// Centre of a brain-map band in hertz (the designer's centre, halfway
// between the corners).
double centreHz(const dsp::BrainMapBand& b) { return (b.lowCorner + b.highCorner) / 2.0 * kRate; }

struct Section {
  std::array<double, 7> x {};
  std::array<double, 7> y {};
  double step(const dsp::BrainMapBand& b, float input, int shift = 5) {
    double out = 0.0;
    EXPECT_EQ(BpFilter(&out, x.data(), y.data(), b.c, b.gain, input, shift), 0);
    return out;
  }
};

// Amplitude of the settled output for a sine of `hz` and amplitude
// `amplitude`: root-mean-square times sqrt(2) over whole periods.
template <typename Step>
double settledAmplitude(Step step, double hz, double amplitude) {
  const int settle = 2048, measure = 1024;  // 4 s holds a whole number of periods of every band centre
  double sum = 0.0;
  for (int n = 0; n < settle + measure; ++n) {
    const double out = step(static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * n / kRate)));
    if (n >= settle) sum += out * out;
  }
  return std::sqrt(2.0 * sum / measure);
}

TEST(BpFilter, EveryBrainMapBandRemovesAConstant) {
  for (int band = 0; band < dsp::kBrainMapBands; ++band) {
    Section s;
    double largest = 0.0, last = 0.0;
    for (int n = 0; n < 4096; ++n) {
      last = s.step(dsp::kBrainMapBandTable[band], 1000.0f);
      largest = std::max(largest, std::fabs(last));
    }
    EXPECT_GT(largest, 1.0) << "band " << band + 1 << ": the step goes through";
    EXPECT_LT(std::fabs(last), 1e-9) << "band " << band + 1;
  }
}

TEST(BpFilter, EveryBrainMapBandPassesItsCentreWithGainNearOne) {
  for (int band = 0; band < dsp::kBrainMapBands; ++band) {
    const dsp::BrainMapBand& b = dsp::kBrainMapBandTable[band];
    Section s;
    const double gain = settledAmplitude([&](float v) { return s.step(b, v); }, centreHz(b), 1000.0) / 1000.0;
    std::printf("band %d (%.0f-%.0f Hz): gain %.6f at %.1f Hz\n", band + 1, b.lowCorner * kRate,
                b.highCorner * kRate, gain, centreHz(b));
    EXPECT_NEAR(gain, 1.0, 0.01) << "band " << band + 1;

    // Two bands away the sine is mostly gone.
    const double awayHz = band < 4 ? centreHz(b) + 12.0 : centreHz(b) - 12.0;
    Section t;
    const double away = settledAmplitude([&](float v) { return t.step(b, v); }, awayHz, 1000.0) / 1000.0;
    EXPECT_LT(away, 0.05) << "band " << band + 1 << " at " << awayHz << " Hz";
  }
}

TEST(BpFilter, NumeratorIsOneMinusZToTheMinusTwoCubed) {
  // Without feedback the impulse response is the numerator: 1, 0, -3, 0, 3, 0, -1.
  const double noFeedback[6] = {0, 0, 0, 0, 0, 0};
  std::array<double, 7> x {}, y {};
  const double expected[] = {1, 0, -3, 0, 3, 0, -1, 0, 0};
  for (int n = 0; n < 9; ++n) {
    double out = 99.0;
    // The gain divides the input: 0.5 / 0.5 is the unit impulse.
    ASSERT_EQ(BpFilter(&out, x.data(), y.data(), noFeedback, 0.5, n == 0 ? 0.5f : 0.0f, 5), 0);
    EXPECT_EQ(out, expected[n]) << "sample " << n;
  }
}

TEST(BpFilter, ShiftCountIsBoundedToTheHistory) {
  const dsp::BrainMapBand& b = dsp::kBrainMapBandTable[2];
  // Histories on the heap, exactly seven long, so a read past them shows.
  std::vector<double> x5(7), y5(7), xBig(7), yBig(7);
  for (int n = 0; n < 300; ++n) {
    const float v = static_cast<float>(std::sin(n * 0.3) * 100.0);
    double a = 0.0, c = 0.0;
    BpFilter(&a, x5.data(), y5.data(), b.c, b.gain, v, 5);
    BpFilter(&c, xBig.data(), yBig.data(), b.c, b.gain, v, 1000);
    ASSERT_EQ(a, c) << "sample " << n;
  }
  // Below 0 nothing moves; only the newest values are replaced.
  std::vector<double> x = {1, 2, 3, 4, 5, 6, 7}, y = {8, 9, 10, 11, 12, 13, 14};
  double out = 0.0;
  ASSERT_EQ(BpFilter(&out, x.data(), y.data(), b.c, 2.0, 4.0f, -1), 0);
  EXPECT_EQ(x, (std::vector<double> {1, 2, 3, 4, 5, 6, 2}));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(y[i], 8 + i);
  EXPECT_EQ(y[6], out);
  EXPECT_EQ(BpFilter(nullptr, x.data(), y.data(), b.c, 2.0, 4.0f, 5), -1);
}

TEST(FirstOrderBandPass, NoSectionsLeavesTheOutputAlone) {
  const double c[2] = {dsp::rr::kPrefilterC0, dsp::rr::kPrefilterC1};
  double x[3] = {}, y[3] = {};
  double out = 42.0;
  EXPECT_EQ(FirstOrderBandPass(&out, x, y, c, dsp::rr::kPrefilterGain, 5.0f, 0), 0);
  EXPECT_EQ(out, 42.0);
  EXPECT_EQ(x[2], 0.0);
}

TEST(FirstOrderBandPass, OneSectionRemovesDcAndPassesItsCentre) {
  const double c[2] = {dsp::rr::kPrefilterC0, dsp::rr::kPrefilterC1};
  double x[3] = {}, y[3] = {};
  double out = 0.0;
  for (int n = 0; n < 4096; ++n) FirstOrderBandPass(&out, x, y, c, dsp::rr::kPrefilterGain, 500.0f, 1);
  EXPECT_LT(std::fabs(out), 1e-9);

  // The designer's centre: halfway between 0.5 and 40 Hz.
  double xs[3] = {}, ys[3] = {};
  const double gain = settledAmplitude(
                          [&](float v) {
                            FirstOrderBandPass(&out, xs, ys, c, dsp::rr::kPrefilterGain, v, 1);
                            return out;
                          },
                          20.25, 100.0) /
                      100.0;
  EXPECT_NEAR(gain, 1.0, 0.01);
}

TEST(FirstOrderBandPass, EachSectionFeedsTheNextAFloat) {
  const double c[2] = {dsp::rr::kPrefilterC0, dsp::rr::kPrefilterC1};
  const double g = dsp::rr::kPrefilterGain;
  // Two sections in one call against two one-section filters in a row.
  std::vector<double> x(6), y(6), x1(3), y1(3), x2(3), y2(3);
  for (int n = 0; n < 500; ++n) {
    const float v = static_cast<float>(100.0 * std::sin(n * 0.7) + 3.0 * n);
    double both = 0.0, first = 0.0, second = 0.0;
    ASSERT_EQ(FirstOrderBandPass(&both, x.data(), y.data(), c, g, v, 2), 0);
    FirstOrderBandPass(&first, x1.data(), y1.data(), c, g, v, 1);
    FirstOrderBandPass(&second, x2.data(), y2.data(), c, g, static_cast<float>(first), 1);
    ASSERT_EQ(both, second) << "sample " << n;
    ASSERT_EQ(y[2], first) << "section 0 keeps its own history in elements 0-2";
  }
}

// The bank keeps one state per process and is never reset, so everything
// about it is checked in one run from load.
TEST(BrainMapFilters, BankFromLoadThroughSinesAndConstants) {
  double input[8], output[64];
  // Channel k carries a sine at the centre of band k + 1.
  auto feed = [&](int n, double amplitude, bool constant) {
    for (int ch = 0; ch < 8; ++ch) {
      input[ch] = constant ? amplitude
                           : amplitude * std::sin(2.0 * kPi * centreHz(dsp::kBrainMapBandTable[ch]) * n / kRate);
    }
    ASSERT_EQ(BrainMapFilters(input, output), 0);
  };
  int n = 0;
  for (; n < 8; ++n) {
    feed(n, 1000.0, false);
    for (double v : output) ASSERT_EQ(v, 0.0) << "call " << n + 1;
  }
  feed(n++, 1000.0, false);
  int nonZero = 0;
  for (double v : output) nonZero += v != 0.0;
  EXPECT_GT(nonZero, 0) << "the ninth call gives the first block's values";

  // Settled: a channel's own band carries the sine's RMS (gain near 1),
  // the far bands little. One block covers only eight samples, so the
  // squares of 128 blocks in a row (4 s, whole periods) are averaged.
  for (; n < 4096; ++n) feed(n, 1000.0, false);
  double meanSquare[64] = {};
  for (int k = 0; k < 1024; ++k, ++n) {
    feed(n, 1000.0, false);
    if (k % 8 == 0) {
      for (int i = 0; i < 64; ++i) meanSquare[i] += output[i] * output[i] / 128.0;
    }
  }
  for (int ch = 0; ch < 8; ++ch) {
    const double own = std::sqrt(meanSquare[8 * ch + ch]);
    EXPECT_NEAR(own / (1000.0 / std::sqrt(2.0)), 1.0, 0.01) << "channel " << ch << " band " << ch + 1;
    const int far = ch < 4 ? ch + 3 : ch - 3;
    EXPECT_LT(std::sqrt(meanSquare[8 * ch + far]), 0.05 * own) << "channel " << ch << " band " << far + 1;
  }

  // A constant decays to nothing in every band of every channel.
  for (int k = 0; k < 4096; ++k) feed(n++, 2500.0, true);
  for (int i = 0; i < 64; ++i) EXPECT_LT(output[i], 1e-6) << "element " << i;
  EXPECT_EQ(BrainMapFilters(nullptr, output), -1);
}

TEST(BrainMapFilters, BlockValuesHoldForEightCalls) {
  // Runs on after the other test in the same process, or from load alone;
  // either way values change at most once in any eight calls.
  double input[8], output[64];
  std::vector<std::array<double, 64>> history;
  for (int n = 0; n < 64; ++n) {
    for (int ch = 0; ch < 8; ++ch) input[ch] = 1000.0 * std::sin(0.37 * n + ch);
    ASSERT_EQ(BrainMapFilters(input, output), 0);
    std::array<double, 64> row;
    std::copy(output, output + 64, row.begin());
    history.push_back(row);
  }
  std::vector<int> changes;
  for (size_t n = 1; n < history.size(); ++n) {
    if (history[n] != history[n - 1]) changes.push_back(static_cast<int>(n));
  }
  ASSERT_GE(changes.size(), 6u);
  for (size_t i = 1; i < changes.size(); ++i) EXPECT_EQ(changes[i] - changes[i - 1], 8);
}

// ---- notch block buffer ----------------------------------------------------

TEST(NotchBlock, TheTwoHundredFiftySixthSampleCompletesTheBlock) {
  ASSERT_EQ(initialiseNotchFilter(), 0);
  for (int i = 1; i <= 255; ++i) ASSERT_EQ(processNotchFilter(i, 7, 9), -1) << "sample " << i;
  EXPECT_EQ(processNotchFilter(256, 0, 0), 1);
  EXPECT_EQ(processNotchFilter(-40, 0, 0), -1) << "the 257th starts over at element 0";
  int32_t values[10];
  EXPECT_EQ(returnNotchFilterValues(values, 0), -40);
  for (int i = 1; i < 10; ++i) EXPECT_EQ(values[i], i + 1);
}

TEST(NotchBlock, ReturnsTheFirstTenSamplesTruncated) {
  ASSERT_EQ(initialiseNotchFilter(), 0);
  processNotchFilter(5, 0, 0);
  processNotchFilter(-3, 0, 0);
  processNotchFilter(7, 0, 0);
  int32_t values[12];
  for (int32_t& v : values) v = 1234;
  EXPECT_EQ(returnNotchFilterValues(values, 99), 5);
  EXPECT_EQ(values[0], 5);
  EXPECT_EQ(values[1], -3);
  EXPECT_EQ(values[2], 7);
  EXPECT_EQ(values[10], 1234);
  EXPECT_EQ(values[11], 1234);
  EXPECT_EQ(returnNotchFilterValues(nullptr, 0), 5);
}

TEST(NotchBlock, SamplesRoundTripThroughAFloat) {
  ASSERT_EQ(initialiseNotchFilter(), 0);
  processNotchFilter(INT32_MAX, 0, 0);  // the float 2^31
  processNotchFilter(INT32_MIN, 0, 0);
  processNotchFilter(16777217, 0, 0);   // 2^24 + 1 has no float
  processNotchFilter(-16777215, 0, 0);
  int32_t values[10];
  EXPECT_EQ(returnNotchFilterValues(values, 0), INT32_MAX);
  EXPECT_EQ(values[1], INT32_MIN);
  EXPECT_EQ(values[2], 16777216);
  EXPECT_EQ(values[3], -16777215);
}

}  // namespace
