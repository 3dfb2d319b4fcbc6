// Beat detection on synthetic pulse trains at 256 samples per second.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "telvaris.h"

namespace {

struct Detector {
  int samplesPerSecond = 256;
  int lower = 40;
  int upper = 100;
  float agc = 0.01f;
  int filterOrder = 0;
  int duplicatePrevious = 0;
  int useFilter = 0;
  int displayAsPulse = 1;

  float feed(float sample) const {
    return RRInterval(sample, samplesPerSecond, lower, upper, agc, filterOrder, duplicatePrevious, useFilter,
                      displayAsPulse);
  }
  float reset() const { return feed(-1.0f); }
  // `gap` - 1 baseline samples, then one pulse; the pulse's result.
  float pulseAfter(int gap, float height = 100.0f) const {
    for (int i = 1; i < gap; ++i) EXPECT_EQ(feed(0.0f), -1.0f);
    return feed(height);
  }
};

TEST(RRInterval, ResetReturnsZero) {
  Detector d;
  EXPECT_EQ(d.reset(), 0.0f);
  EXPECT_EQ(d.feed(-0.001f), 0.0f);
}

TEST(RRInterval, FirstBeatComesMoreThanHalfASecondAfterTheReset) {
  Detector d;
  d.upper = 200;
  d.reset();
  // Sample 128 is above the follower but only 128 samples in.
  EXPECT_EQ(d.pulseAfter(128), -1.0f);
  // Sample 129 clears the follower, which has decayed 1 %: 60 / (129/256) = 119.07.
  EXPECT_EQ(d.feed(100.0f), 119.0f);

  d.reset();
  EXPECT_EQ(d.pulseAfter(129), 119.0f);
}

TEST(RRInterval, RatesAndGapsOfARegularTrain) {
  Detector d;
  d.reset();
  for (int beat = 0; beat < 5; ++beat) EXPECT_EQ(d.pulseAfter(256), 60.0f) << "beat " << beat;
  EXPECT_EQ(d.pulseAfter(180), 85.0f) << "60 / 0.703125 = 85.33";

  d.displayAsPulse = 0;
  EXPECT_EQ(d.pulseAfter(256), 1000.0f);
  EXPECT_EQ(d.pulseAfter(180), 703.125f);
  d.lower = 25;
  EXPECT_EQ(d.pulseAfter(512), 2000.0f) << "rate 30";
}

TEST(RRInterval, ABeatOutsideTheLimitsIsMinusTwoOrThePreviousResult) {
  Detector d;
  d.reset();
  EXPECT_EQ(d.pulseAfter(256), 60.0f);
  EXPECT_EQ(d.pulseAfter(140), -2.0f) << "rate 109 is above 100";
  EXPECT_EQ(d.pulseAfter(512), -2.0f) << "rate 30 is below 40";

  d.duplicatePrevious = 1;
  EXPECT_EQ(d.pulseAfter(140), 60.0f);
  d.displayAsPulse = 0;
  EXPECT_EQ(d.pulseAfter(140), 1000.0f);
  // A valid beat becomes the new previous result.
  EXPECT_EQ(d.pulseAfter(180), 703.125f);
  EXPECT_EQ(d.pulseAfter(140), 703.125f);

  // Any value but 1 means no duplicates.
  d.duplicatePrevious = 2;
  EXPECT_EQ(d.pulseAfter(140), -2.0f);
}

TEST(RRInterval, ResetForgetsThePreviousResult) {
  Detector d;
  d.reset();
  EXPECT_EQ(d.pulseAfter(256), 60.0f);
  EXPECT_EQ(d.reset(), 0.0f);
  d.duplicatePrevious = 1;
  EXPECT_EQ(d.pulseAfter(140), 0.0f) << "no valid beat since the reset";
  d.displayAsPulse = 0;
  EXPECT_EQ(d.pulseAfter(140), 0.0f);
}

TEST(RRInterval, ASampleEqualToTheFollowerIsNoBeat) {
  Detector d;
  d.agc = 0.0f;  // the follower holds the last peak
  d.lower = 20;
  d.reset();
  EXPECT_EQ(d.pulseAfter(256), 60.0f);
  EXPECT_EQ(d.pulseAfter(256), -1.0f) << "equal height";
  EXPECT_EQ(d.pulseAfter(256, 100.5f), 30.0f) << "512 samples since the last beat";
}

TEST(RRInterval, FollowerDecaysByTheAgcFraction) {
  Detector d;
  d.agc = 0.01f;
  d.reset();
  EXPECT_EQ(d.pulseAfter(256, 1000.0f), 60.0f);
  // The follower loses 1 % a sample: 1000 * 0.99^k after k samples.
  float follower = 1000.0f;
  for (int k = 1; k < 199; ++k) {
    follower *= 1.0f - 0.01f;
    ASSERT_EQ(d.feed(0.0f), -1.0f);
  }
  follower *= 1.0f - 0.01f;
  EXPECT_EQ(d.feed(0.999f * follower), -1.0f) << "just under the follower";
  follower *= 1.0f - 0.01f;
  EXPECT_EQ(d.feed(1.001f * follower), 76.0f) << "just over it, 200 samples on";
}

// A pulse shape like a PPG wave: a rounded bump and a slow tail.
float ppg(int phase) {
  const double t = phase / 256.0;
  return static_cast<float>(500.0 + 400.0 * std::exp(-std::pow((t - 0.15) / 0.04, 2.0)) +
                            120.0 * std::exp(-std::pow((t - 0.35) / 0.08, 2.0)));
}

TEST(RRInterval, PrefilteredPulseWaveGivesItsRate) {
  Detector d;
  d.useFilter = 1;
  d.filterOrder = 2;
  d.agc = 0.005f;
  d.reset();
  std::vector<float> beats;
  // 200 samples a beat: 60 / (200/256) = 76.8.
  for (int n = 0; n < 200 * 20; ++n) {
    const float r = d.feed(ppg(n % 200));
    if (r != -1.0f) beats.push_back(r);
  }
  ASSERT_GE(beats.size(), 18u);
  for (size_t i = 2; i < beats.size(); ++i) EXPECT_EQ(beats[i], 76.0f) << "beat " << i;
}

TEST(RRInterval, AtMostThirtyThreeSectionsAndNoneMeansUnfiltered) {
  auto run = [](int useFilter, int order, float agc) {
    Detector d;
    d.useFilter = useFilter;
    d.filterOrder = order;
    d.agc = agc;
    d.upper = 200;
    d.reset();
    std::vector<float> results;
    for (int n = 0; n < 200 * 12; ++n) results.push_back(d.feed(ppg(n % 200)));
    return results;
  };
  EXPECT_EQ(run(1, 40, 0.005f), run(1, 33, 0.005f));
  EXPECT_NE(run(1, 33, 0.005f), run(1, 32, 0.005f));
  EXPECT_EQ(run(1, 0, 0.02f), run(0, 0, 0.02f));
  EXPECT_EQ(run(1, -3, 0.02f), run(0, 0, 0.02f));
  // Only 1 switches the filter on.
  EXPECT_EQ(run(2, 4, 0.02f), run(0, 4, 0.02f));
}

}  // namespace
