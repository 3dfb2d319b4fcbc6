// The filter designer against scipy.signal, against closed forms for the
// designs scipy has no counterpart for, and on every rejected option string.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "dsp/band_filters.h"
#include "dsp/filter_gen.h"
#include "dsp/rr_interval.h"
#include "oracle.h"
#include "telvaris.h"

namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

struct Result {
  int32_t code = 0;
  double gains[3];
  std::vector<double> c;  // the coefficients written
};

// Runs FilterGen with NaN-filled outputs; the coefficients written are the
// ones before the first NaN.
Result design(const std::string& options) {
  Result r;
  double coefficients[dsp::filtergen::kMaxCoefficients + 4];
  for (double& v : coefficients) v = std::nan("");
  for (double& g : r.gains) g = std::nan("");
  r.code = FilterGen(0, options.c_str(), r.gains, coefficients);
  for (double v : coefficients) {
    if (std::isnan(v)) break;
    r.c.push_back(v);
  }
  return r;
}

// The monic denominator sum d_i z^i rebuilt from the feedback coefficients.
Complex denominatorAt(const std::vector<double>& c, Complex z) {
  Complex sum = 1.0;
  for (size_t i = c.size(); i-- > 0;) sum = sum * z - c[i];
  return sum;
}

// How far z is from being a root of the denominator, relative to the size
// of the terms that cancel there.
double rootResidual(const std::vector<double>& c, Complex z) {
  double scale = std::pow(std::abs(z), static_cast<double>(c.size()));
  for (size_t i = 0; i < c.size(); ++i) scale += std::fabs(c[i]) * std::pow(std::abs(z), static_cast<double>(i));
  return std::abs(denominatorAt(c, z)) / scale;
}

Complex bilinear(Complex s) { return (2.0 + s) / (2.0 - s); }
double warped(double alpha) { return std::tan(kPi * alpha) / kPi; }

bool closeRelative(double a, double b, double tolerance) {
  return std::fabs(a - b) <= tolerance * std::fabs(b);
}

// ---- agreement with scipy ------------------------------------------------

struct Case {
  std::string prototype;  // Bu, Ch, Be
  std::string band;       // Lp, Hp, Bp, Bs
  int order;
  double alpha1, alpha2;
  bool prewarp;
  double ripple;

  std::string options() const {
    std::ostringstream s;
    s.precision(17);
    s << "design -" << prototype;
    if (prototype == "Ch") s << " " << ripple;
    s << " -" << band << " -o " << order << " -a " << alpha1;
    if (band == "Bp" || band == "Bs") s << " " << alpha2;
    if (!prewarp) s << " -w";
    return s.str();
  }
  std::string oracleLine() const {
    std::ostringstream s;
    s.precision(17);
    s << prototype << " " << band << " " << order << " " << alpha1 << " " << alpha2 << " " << (prewarp ? 1 : 0) << " "
      << ripple << "\n";
    return s.str();
  }
};

std::vector<Case> sweep() {
  std::vector<Case> cases;
  const char* prototypes[] = {"Bu", "Ch", "Be"};
  const char* bands[] = {"Lp", "Hp", "Bp", "Bs"};
  const int orders[] = {1, 2, 3, 4, 5, 6, 8, 10};
  const double single[][2] = {{0.05, 0.05}, {0.23, 0.23}};
  const double pairs[][2] = {{0.08, 0.16}, {0.2, 0.35}};
  const double ripples[] = {-0.5, -1.0, -3.0};
  int variant = 0;
  for (const char* prototype : prototypes) {
    for (const char* band : bands) {
      const bool twoCorners = std::string(band) == "Bp" || std::string(band) == "Bs";
      for (int order : orders) {
        for (int corner = 0; corner < 2; ++corner) {
          for (bool prewarp : {true, false}) {
            const double* a = twoCorners ? pairs[corner] : single[corner];
            cases.push_back({prototype, band, order, a[0], a[1], prewarp, ripples[variant++ % 3]});
          }
        }
      }
    }
  }
  return cases;
}

TEST(FilterGenOracle, AgreesWithScipyForEveryPrototypeBandOrderAndWarping) {
  const auto cases = sweep();
  std::string input;
  for (const Case& c : cases) input += c.oracleLine();
  const auto lines = dsptest::runOracle("design", input);
  ASSERT_EQ(lines.size(), cases.size());

  double worstCoefficient = 0.0, worstGain = 0.0;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string options = cases[i].options();
    const auto expected = dsptest::numbers(lines[i]);
    ASSERT_GE(expected.size(), 4u) << lines[i];
    const size_t m = static_cast<size_t>(expected[0]);
    ASSERT_EQ(expected.size(), m + 4);

    const Result r = design(options);
    ASSERT_EQ(r.code, 0) << options;
    ASSERT_EQ(r.c.size(), m) << options;
    const bool twoCorners = cases[i].band == "Bp" || cases[i].band == "Bs";
    EXPECT_EQ(m, static_cast<size_t>(twoCorners ? 2 * cases[i].order : cases[i].order)) << options;

    for (size_t k = 0; k < m; ++k) {
      const double want = expected[1 + k];
      const double error = std::fabs(r.c[k] - want) / std::fabs(want);
      worstCoefficient = std::max(worstCoefficient, error);
      EXPECT_LE(error, 1e-9) << options << ": coefficient " << k << " " << r.c[k] << " vs " << want;
    }
    const double largest = std::max({expected[m + 1], expected[m + 2], expected[m + 3]});
    for (int g = 0; g < 3; ++g) {
      const double want = expected[m + 1 + g];
      // A gain at an exact zero of the response (DC of a high-pass, say)
      // is 0 on both sides up to rounding.
      if (want <= 1e-13 * largest) {
        EXPECT_LE(r.gains[g], 1e-12 * largest) << options << ": gain " << g;
        continue;
      }
      const double error = std::fabs(r.gains[g] - want) / want;
      worstGain = std::max(worstGain, error);
      EXPECT_LE(error, 1e-9) << options << ": gain " << g << " " << r.gains[g] << " vs " << want;
    }
  }
  RecordProperty("cases", static_cast<int>(cases.size()));
  std::printf("worst relative error over %zu designs: coefficients %.3g, gains %.3g\n", cases.size(),
              worstCoefficient, worstGain);
}

TEST(FilterGenOracle, BesselTableMatchesAnIndependentWorking) {
  const std::string command = std::string("/usr/bin/python3 ") + TELVARIS_DSP_BESSEL_SCRIPT;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  int order = 0;
  double re = 0.0, im = 0.0;
  int entry = 0;
  while (std::fscanf(pipe, "%d %lf %lf", &order, &re, &im) == 3) {
    ASSERT_LT(entry, 30);
    EXPECT_EQ(entry >= order * order / 4 && entry < (order + 1) * (order + 1) / 4, true) << "entry " << entry;
    EXPECT_NEAR(dsp::filtergen::kBesselPoles[entry].re, re, 1e-15 * std::fabs(re)) << "entry " << entry;
    EXPECT_NEAR(dsp::filtergen::kBesselPoles[entry].im, im, 1e-15 * std::fabs(im) + 1e-300) << "entry " << entry;
    ++entry;
  }
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(entry, 30);
}

// ---- designs the library's other filters rely on --------------------------

TEST(FilterGen, ReproducesTheBrainMapBands) {
  for (int band = 0; band < dsp::kBrainMapBands; ++band) {
    const dsp::BrainMapBand& b = dsp::kBrainMapBandTable[band];
    char options[100];
    std::snprintf(options, sizeof options, "bands -Bu -Bp -o 3 -a %.17g %.17g", b.lowCorner, b.highCorner);
    const Result r = design(options);
    ASSERT_EQ(r.code, 0);
    ASSERT_EQ(r.c.size(), 6u) << options;
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(r.c[k], b.c[k], 1e-9) << "band " << band + 1 << " c" << k;
    EXPECT_TRUE(closeRelative(r.gains[1], b.gain, 1e-7)) << "band " << band + 1 << ": " << r.gains[1];
  }
}

TEST(FilterGen, ReproducesTheHeartBeatPrefilter) {
  char options[100];
  std::snprintf(options, sizeof options, "rr -Bu -Bp -o 1 -a %.17g %.17g", dsp::rr::kPrefilterLow,
                dsp::rr::kPrefilterHigh);
  const Result r = design(options);
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.c.size(), 2u);
  EXPECT_NEAR(r.c[0], dsp::rr::kPrefilterC0, 1e-9);
  EXPECT_NEAR(r.c[1], dsp::rr::kPrefilterC1, 1e-9);
  EXPECT_TRUE(closeRelative(r.gains[1], dsp::rr::kPrefilterGain, 1e-9)) << r.gains[1];
}

// ---- closed forms ----------------------------------------------------------

TEST(FilterGen, MatchedZTransformPutsPolesAtTheExponentialOfTheAnaloguePoles) {
  const double alpha = 0.05;
  const Result r = design("m -Bu -Lp -o 3 -z -a 0.05");
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.c.size(), 3u);
  Complex product = 1.0, atNyquist = 1.0;
  for (double degrees : {120.0, 180.0, 240.0}) {
    // No pre-warping with z: the analogue poles sit at radius 2 pi alpha.
    const Complex s = 2.0 * kPi * alpha * std::polar(1.0, degrees * kPi / 180.0);
    const Complex z = std::exp(s);
    EXPECT_NEAR(std::abs(z), std::exp(s.real()), 1e-15);
    EXPECT_LT(rootResidual(r.c, z), 1e-13) << "pole at radius " << std::abs(z) << ", angle " << std::arg(z);
    product *= 1.0 - z;
    atNyquist *= -1.0 - z;
  }
  // No zeros: the gains are 1 / |prod(z - p)|.
  EXPECT_TRUE(closeRelative(r.gains[0], 1.0 / std::abs(product), 1e-12)) << r.gains[0];
  EXPECT_TRUE(closeRelative(r.gains[2], 1.0 / std::abs(atNyquist), 1e-12)) << r.gains[2];

  // A matched high-pass has its zeros at z = 1 and none at -1.
  const Result high = design("m -Bu -Hp -o 2 -z -a 0.1");
  ASSERT_EQ(high.code, 0);
  EXPECT_EQ(high.c.size(), 2u);
  EXPECT_EQ(high.gains[0], 0.0);
  EXPECT_GT(high.gains[2], 0.5);
}

TEST(FilterGen, BandPassResonatorHasZeroPhaseAtItsCentre) {
  for (double q : {2.0, 5.0, 50.0}) {
    const double alpha = 0.1, theta = 2.0 * kPi * alpha;
    const std::string options = "r -Re " + std::to_string(q) + " -Bp -a 0.1";
    const Result r = design(options);
    ASSERT_EQ(r.code, 0) << options;
    ASSERT_EQ(r.c.size(), 2u);
    // Poles r e^(+-i phi): z^2 - 2 r cos(phi) z + r^2.
    const double radius = std::exp(-theta / (2.0 * q));
    EXPECT_NEAR(-r.c[0], radius * radius, 1e-15) << options;
    const Complex centre = std::polar(1.0, theta);
    const Complex h = (centre * centre - 1.0) / denominatorAt(r.c, centre);
    EXPECT_LT(std::fabs(h.imag() / h.real()), 1e-9) << options;
    EXPECT_TRUE(closeRelative(r.gains[1], std::abs(h), 1e-12)) << options;
    EXPECT_EQ(r.gains[0], 0.0);
    EXPECT_EQ(r.gains[2], 0.0);
  }
}

TEST(FilterGen, InfiniteQPutsTheResonatorPolesOnTheUnitCircle) {
  const double theta = 2.0 * kPi * 0.125;
  const Result r = design("r -Re Inf -Bp -a 0.125");
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.c.size(), 2u);
  EXPECT_NEAR(r.c[0], -1.0, 1e-15);
  EXPECT_NEAR(r.c[1], 2.0 * std::cos(theta), 1e-15);
  EXPECT_EQ(r.gains[0], 0.0);
  EXPECT_EQ(r.gains[2], 0.0);
  EXPECT_GT(r.gains[1], 1e10) << "a pole on the centre frequency";
}

TEST(FilterGen, BandStopAndAllPassResonatorsKeepTheBandPassPoles) {
  const double q = 8.0, theta = 2.0 * kPi * 0.2;
  const Result pass = design("r -Re 8 -Bp -a 0.2");
  const Result stop = design("r -Re 8 -Bs -a 0.2");
  const Result all = design("r -Re 8 -Ap -a 0.2");
  ASSERT_EQ(pass.code, 0);
  ASSERT_EQ(stop.code, 0);
  ASSERT_EQ(all.code, 0);
  EXPECT_EQ(stop.c, pass.c);
  EXPECT_EQ(all.c, pass.c);

  // Band-stop zeros sit exactly on the centre frequency.
  EXPECT_LT(stop.gains[1], 1e-12);
  const double dcNumerator = 2.0 - 2.0 * std::cos(theta);
  EXPECT_TRUE(closeRelative(stop.gains[0], dcNumerator / std::abs(denominatorAt(pass.c, 1.0)), 1e-12));

  // All-pass zeros mirror the poles: |H| is 1/r^2 = e^(theta/Q) everywhere.
  const double flat = std::exp(theta / q);
  for (double g : all.gains) EXPECT_TRUE(closeRelative(g, flat, 1e-12)) << g << " vs " << flat;
}

TEST(FilterGen, ProportionalIntegralSectionHasItsPoleAtDc) {
  const double alpha = 0.1;
  struct Variant {
    std::string options;
    double zero;  // z-plane zero
  } variants[] = {
      {"pi -Pi -o 1 -a 0.1", bilinear(-2.0 * kPi * warped(alpha)).real()},
      {"pi -Pi -o 1 -w -a 0.1", bilinear(-2.0 * kPi * alpha).real()},
      {"pi -Pi -o 1 -z -a 0.1", std::exp(-2.0 * kPi * alpha)},
  };
  for (const Variant& v : variants) {
    const Result r = design(v.options);
    ASSERT_EQ(r.code, 0) << v.options;
    ASSERT_EQ(r.c.size(), 1u);
    EXPECT_EQ(r.c[0], 1.0) << "pole at z = 1";
    EXPECT_TRUE(std::isinf(r.gains[0])) << v.options;
    EXPECT_TRUE(closeRelative(r.gains[2], (1.0 + v.zero) / 2.0, 1e-12)) << v.options;
    const Complex corner = std::polar(1.0, 2.0 * kPi * alpha);
    EXPECT_TRUE(closeRelative(r.gains[1], std::abs((corner - v.zero) / (corner - 1.0)), 1e-12)) << v.options;
  }
}

TEST(FilterGen, PoleMaskKeepsOnlyTheListedPrototypePoles) {
  // Butterworth order 4: left-half-plane poles at 112.5, 157.5, 202.5 and
  // 247.5 degrees, numbered 0 to 3; 0/3 and 1/2 are conjugate pairs.
  const Result full = design("p -Bu -Lp -o 4 -a 0.1");
  const Result outer = design("p -Bu -Lp -o 4 -p 0 3 -a 0.1");
  const Result inner = design("p -Bu -Lp -o 4 -p 2 1 -a 0.1");
  ASSERT_EQ(full.code, 0);
  ASSERT_EQ(outer.code, 0);
  ASSERT_EQ(inner.code, 0);
  ASSERT_EQ(outer.c.size(), 2u);
  ASSERT_EQ(inner.c.size(), 2u);
  const double w1 = 2.0 * kPi * warped(0.1);
  for (double degrees : {112.5, 247.5}) {
    EXPECT_LT(rootResidual(outer.c, bilinear(w1 * std::polar(1.0, degrees * kPi / 180.0))), 1e-14) << degrees;
  }
  for (double degrees : {157.5, 202.5}) {
    EXPECT_LT(rootResidual(inner.c, bilinear(w1 * std::polar(1.0, degrees * kPi / 180.0))), 1e-14) << degrees;
  }
  // The two halves multiply back to the full design.
  const double a[3] = {-outer.c[0], -outer.c[1], 1.0}, b[3] = {-inner.c[0], -inner.c[1], 1.0};
  double product[5] = {};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) product[i + j] += a[i] * b[j];
  }
  ASSERT_EQ(full.c.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(-product[i], full.c[i], 1e-13) << i;

  // Bessel order 3: pole 0 is the real one.
  const Result real = design("p -Be -Lp -o 3 -p 0 -a 0.1");
  ASSERT_EQ(real.code, 0);
  ASSERT_EQ(real.c.size(), 1u);
  EXPECT_NEAR(real.c[0], bilinear(w1 * dsp::filtergen::kBesselPoles[2].re).real(), 1e-15);

  // Numbers above 31 count as 31, which is beyond any order.
  EXPECT_EQ(design("p -Bu -Lp -o 4 -p 99 -a 0.1").code, -1);
}

TEST(FilterGen, ExtraZeroPairAddsZerosAndPadsPolesAtTheOrigin) {
  const Result base = design("x -Bu -Lp -o 2 -a 0.1");
  const Result zeros = design("x -Bu -Lp -o 2 -a 0.1 -Z 0.25");
  ASSERT_EQ(base.code, 0);
  ASSERT_EQ(zeros.code, 0);
  ASSERT_EQ(zeros.c.size(), 4u);
  EXPECT_EQ(zeros.c[0], 0.0);
  EXPECT_EQ(zeros.c[1], 0.0);
  EXPECT_NEAR(zeros.c[2], base.c[0], 1e-15);
  EXPECT_NEAR(zeros.c[3], base.c[1], 1e-15);
  // Zeros at +-i: the factor (z - i)(z + i) = z^2 + 1 over z^2.
  EXPECT_TRUE(closeRelative(zeros.gains[0], 2.0 * base.gains[0], 1e-12));
  EXPECT_EQ(zeros.gains[2], 0.0) << "the bilinear zeros at -1 stay";

  // A matched design has no zeros of its own: two poles already match the
  // new pair, so none is added.
  const Result matched = design("x -Bu -Lp -o 2 -z -a 0.1");
  const Result matchedZeros = design("x -Bu -Lp -o 2 -z -a 0.1 -Z 0.25");
  ASSERT_EQ(matchedZeros.code, 0);
  EXPECT_EQ(matchedZeros.c, matched.c);
  EXPECT_TRUE(closeRelative(matchedZeros.gains[0], 2.0 * matched.gains[0], 1e-12));
  EXPECT_TRUE(closeRelative(matchedZeros.gains[2], 2.0 * matched.gains[2], 1e-12));

  // Zeros on the corner frequency take the response there to 0.
  const Result notch = design("x -Bu -Lp -o 2 -a 0.1 -Z 0.1");
  ASSERT_EQ(notch.code, 0);
  EXPECT_LT(notch.gains[1], 1e-12);

  // The largest design: a band-stop of order 10 with an extra pair.
  const Result largest = design("x -Bu -Bs -o 10 -Z 0.4 -a 0.1 0.2");
  ASSERT_EQ(largest.code, 0);
  EXPECT_EQ(largest.c.size(), 22u);
}

TEST(FilterGen, SecondOrderLowPassFromTheStringsOwnExample) {
  const Result r = design("anything -Bu -Lp -o 2 -a 0.1");
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.c.size(), 2u);
  EXPECT_TRUE(closeRelative(r.gains[1] / r.gains[0], std::sqrt(0.5), 1e-12)) << "3 dB down at the corner";
  EXPECT_EQ(r.gains[2], 0.0);
}

TEST(FilterGen, LetterRunsReadTheirValuesInTheFixedOrder) {
  const Result separate = design("x -Bu -Bp -o 3 -a 0.1 0.2");
  // o before a in the word, values still corners first.
  const Result joined = design("x -Bu -Bp -oa 0.1 0.2 3");
  const Result withNoEffect = design("x -Bu -Bp -lwa 0.1 0.2 -o 3");
  ASSERT_EQ(separate.code, 0);
  ASSERT_EQ(joined.code, 0);
  EXPECT_EQ(joined.c, separate.c);
  ASSERT_EQ(withNoEffect.code, 0);
  EXPECT_EQ(withNoEffect.c, design("x -Bu -Bp -o 3 -a 0.1 0.2 -w").c);
}

TEST(FilterGen, LongStringsAreReadWhole) {
  // Twenty-one words, well past a ten-word table.
  const std::string padded = "x -l -l -l -l -l -l -l -l -l -l -l -l -l -Bu -Lp -o 2 -a 0.1";
  const Result r = design(padded);
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.c, design("x -Bu -Lp -o 2 -a 0.1").c);

  std::string limit = "x -Bu -Lp -o 2 -a 0.1";
  limit += std::string(127 - limit.size(), '0');  // "0.1000..." is still 0.1
  ASSERT_EQ(limit.size(), 127u);
  EXPECT_EQ(design(limit).code, 0);
  EXPECT_EQ(design(limit + "0").code, -1) << "128 characters";
}

TEST(FilterGen, RejectedStringsReturnMinusOneAndLeaveEverythingAlone) {
  const char* rejected[] = {
      "",
      "x",
      "-Bu -Lp -o 2 -a 0.1",                 // no program name: read from -Lp on, no prototype
      "x -Bu -Be -Lp -o 2 -a 0.1",           // rule 1: two prototypes
      "x -Lp -o 2 -a 0.1",                   // rule 1: none
      "x -Re 10 -a 0.1",                     // rule 2: no form
      "x -Re 10 -Bp -Bs -a 0.1",             // rule 2: two forms
      "x -Re 10 -Bp -Lp -a 0.1",             // rule 2: low-pass
      "x -Re 10 -Bp -Hp -a 0.1",             // rule 2: high-pass
      "x -Re 10 -Bp -o 2 -a 0.1",            // rule 2: order
      "x -Re 10 -Bp -p 0 -a 0.1",            // rule 2: pole mask
      "x -Re 10 -Bp -w -a 0.1",              // rule 2: no pre-warp
      "x -Re 10 -Bp -z -a 0.1",              // rule 2: matched z
      "x -Pi -Lp -o 1 -a 0.1",               // rule 3: a band form
      "x -Pi -Bs -o 1 -a 0.1",               // rule 3
      "x -Pi -Ap -o 1 -a 0.1",               // rule 3
      "x -Pi -a 0.1",                        // rule 3: no order
      "x -Pi -o 2 -a 0.1",                   // rule 3: order 2
      "x -Bu -o 2 -a 0.1",                   // rule 4: no band form
      "x -Bu -Lp -Bp -o 2 -a 0.1",           // rule 4: two
      "x -Bu -Lp -Ap -o 2 -a 0.1",           // rule 4: all-pass
      "x -Bu -Lp -a 0.1",                    // rule 4: no order
      "x -Be -Lp -o 0 -a 0.1",               // rule 4: order 0
      "x -Ch -1 -Lp -o 11 -a 0.1",           // rule 4: order 11
      "x -Bu -Lp -o 3 -p 3 -a 0.1",          // rule 4: pole number equal to the order
      "x -Bu -Lp -o 2",                      // rule 5: no corner
      "x -Re 5 -Bp",                         // rule 5
      "x Bu -Lp -o 2 -a 0.1",                // a word without '-'
      "x -Bu  -Lp -o 2 -a 0.1",              // two spaces: an empty word
      "x -Bu -Lp -o 2 -a 0.1 -q",            // unknown letter
      "x -Bux -Lp -o 2 -a 0.1",              // not a two-letter option, B is no letter
      "x -Bu -Lp -a 0.1 -o",                 // order missing at the end
      "x -Bu -Lp -o 2 -a",                   // corner missing at the end
      "x -Bu -Lp -o 2 -a 0.1 -Z",            // extra-zero frequency missing
      "x -Re",                               // Q missing
      "x -Ch",                               // ripple missing
      "x -Ch 0 -Lp -o 2 -a 0.1",             // ripple 0
      "x -Ch 0.5 -Lp -o 2 -a 0.1",           // ripple above 0
      "x -Bu -Lp -o 4 -p 0 -a 0.1",          // a complex pole without its conjugate
      "x -Be -Bp -o 2 -p 1 -a 0.1 0.2",      // the same for Bessel
      "x -Bu -Bp -o 2 -a 0.1 0.1",           // no band width: no finite coefficients
      "x -Bu -Lp -o 2 -a inf",               // no finite corner
      "x -Re nan -Bp -a 0.1",                // no finite Q
  };
  double gains[3] = {-7.0, -7.0, -7.0};
  double coefficients[dsp::filtergen::kMaxCoefficients];
  for (double& v : coefficients) v = -7.0;
  for (const char* options : rejected) {
    EXPECT_EQ(FilterGen(0, options, gains, coefficients), -1) << '"' << options << '"';
  }
  EXPECT_EQ(FilterGen(0, nullptr, gains, coefficients), -1);
  EXPECT_EQ(FilterGen(0, "x -Bu -Lp -o 2 -a 0.1", nullptr, coefficients), -1);
  EXPECT_EQ(FilterGen(0, "x -Bu -Lp -o 2 -a 0.1", gains, nullptr), -1);
  for (double g : gains) EXPECT_EQ(g, -7.0);
  for (double v : coefficients) EXPECT_EQ(v, -7.0);
  // And the process is still here to design.
  EXPECT_EQ(design("x -Bu -Lp -o 2 -a 0.1").c.size(), 2u);
}

TEST(FilterGen, ARejectedStringDoesNotDisturbTheNextDesign) {
  const Result before = design("x -Ch -0.5 -Bp -o 3 -a 0.1 0.2");
  ASSERT_EQ(before.code, 0);
  // Parsed as far as a new ripple before it fails.
  ASSERT_EQ(design("x -Ch -3 -Bp -o 11 -a 0.3 0.4").code, -1);
  ASSERT_EQ(design("x -Re 3 -Bp -o 2 -a 0.3").code, -1);
  const Result after = design("x -Ch -0.5 -Bp -o 3 -a 0.1 0.2");
  EXPECT_EQ(after.c, before.c);
  for (int g = 0; g < 3; ++g) EXPECT_EQ(after.gains[g], before.gains[g]);
}

}  // namespace
