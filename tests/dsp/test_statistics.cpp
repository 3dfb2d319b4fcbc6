// Least-squares line and correlation on data with known answers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "telvaris.h"

namespace {

TEST(LinearRegression, ExactLine) {
  const double x[] = {1, 2, 3}, y[] = {2, 4, 6};
  double slope = 9, intercept = 9, r = 9;
  EXPECT_EQ(LinearRegression(3, x, y, &slope, &intercept, &r), 0);
  EXPECT_DOUBLE_EQ(slope, 2.0);
  EXPECT_NEAR(intercept, 0.0, 1e-12);
  EXPECT_DOUBLE_EQ(r, 1.0);
}

TEST(LinearRegression, NoisyDataWithAKnownFit) {
  // y = 3 - 0.5 x + e with e = (+1, -1, -1, +1): symmetric about the line,
  // so the least-squares line is y = 3 - 0.5 x and
  // r = Sxy / sqrt(Sxx Syy) = -2.5 / sqrt(5 * 5.25).
  const double x[] = {1, 2, 3, 4};
  std::vector<double> y;
  const double e[] = {1, -1, -1, 1};
  for (int i = 0; i < 4; ++i) y.push_back(3.0 - 0.5 * x[i] + e[i]);
  double slope = 0, intercept = 0, r = 0;
  EXPECT_EQ(LinearRegression(4, x, y.data(), &slope, &intercept, &r), 0);
  EXPECT_NEAR(slope, -0.5, 1e-12);
  EXPECT_NEAR(intercept, 3.0, 1e-12);
  EXPECT_NEAR(r, -2.5 / std::sqrt(5.0 * 5.25), 1e-12);
  // The coefficient pointer may be null.
  EXPECT_EQ(LinearRegression(4, x, y.data(), &slope, &intercept, nullptr), 0);
  EXPECT_NEAR(slope, -0.5, 1e-12);
}

TEST(LinearRegression, ConstantXGivesOneAndZeros) {
  const double x[] = {5, 5, 5}, y[] = {1, 2, 3};
  double slope = 9, intercept = 9, r = 9;
  EXPECT_EQ(LinearRegression(3, x, y, &slope, &intercept, &r), 1);
  EXPECT_EQ(slope, 0.0);
  EXPECT_EQ(intercept, 0.0);
  EXPECT_EQ(r, 0.0);
  EXPECT_EQ(LinearRegression(0, x, y, &slope, &intercept, nullptr), 1);
  EXPECT_EQ(LinearRegression(3, nullptr, y, &slope, &intercept, &r), -1);
  EXPECT_EQ(LinearRegression(3, x, y, nullptr, &intercept, &r), -1);
}

TEST(Correl, KnownCoefficients) {
  const double x[] = {1, 2, 3, 4, 5};
  const double up[] = {2, 4, 6, 8, 10}, down[] = {10, 8, 6, 4, 2}, bent[] = {1, 4, 9, 16, 25};
  EXPECT_NEAR(correl(x, up, 5), 1.0, 1e-15);
  EXPECT_NEAR(correl(x, down, 5), -1.0, 1e-15);
  // x against x^2 over 1..5: 60 / sqrt(10 * 374) (n-scaled sums 300 and 50, 1870).
  EXPECT_NEAR(correl(x, bent, 5), 60.0 / std::sqrt(10.0 * 374.0), 1e-14);
  const double flat[] = {3, 3, 3, 3, 3};
  EXPECT_FALSE(std::isfinite(correl(x, flat, 5))) << "no variation: no coefficient";
  EXPECT_TRUE(std::isnan(correl(nullptr, up, 5)));
}

}  // namespace
