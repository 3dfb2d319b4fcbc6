// Coherence estimates: closed-form cases, agreement with
// scipy.signal.coherence, segment and epoch bookkeeping, and the CSV export.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/temp_root.h"
#include "oracle.h"
#include "telvaris.h"

namespace {

constexpr double kUntouched = -123.0;
constexpr double kPi = std::numbers::pi;

// Deterministic noise.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed) {}
  int32_t next(int32_t span) {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<int32_t>((state_ >> 8) % static_cast<uint32_t>(2 * span + 1)) - span;
  }

 private:
  uint32_t state_;
};

// Two channels that share a band-limited part: coherence varies over the
// bins instead of sitting at 0 or 1.
void correlatedChannels(int count, std::vector<int32_t>& a, std::vector<int32_t>& b) {
  Noise noise(7);
  a.resize(count);
  b.resize(count);
  double smooth = 0.0;
  for (int i = 0; i < count; ++i) {
    smooth = 0.8 * smooth + noise.next(1000);
    a[i] = static_cast<int32_t>(smooth) + noise.next(300) + 20 * i;
    b[i] = static_cast<int32_t>(0.7 * smooth) + noise.next(600) - 5 * i;
  }
}

std::vector<double> untouchedOutput(size_t n) { return std::vector<double>(n, kUntouched); }

TEST(Coherence, IdenticalChannelsGiveOneInEveryBin) {
  std::vector<int32_t> a, b;
  correlatedChannels(4224, a, b);
  auto out = untouchedOutput(256);
  ASSERT_EQ(GenerateCoherenceValues(4224, a.data(), a.data(), out.data(), 2, 256, 256, 0), 0);
  for (int k = 0; k < 256; ++k) EXPECT_NEAR(out[k], 1.0, 1e-12) << "element " << k;
}

TEST(Coherence, BinsWithoutPowerGiveOne) {
  std::vector<int32_t> zero(1024, 0);
  auto out = untouchedOutput(128);
  ASSERT_EQ(GenerateCoherenceValues(1024, zero.data(), zero.data(), out.data(), 1, 256, 256, 0), 0);
  for (double v : out) EXPECT_EQ(v, 1.0);
}

TEST(Coherence, ASinePairDoesNotDependOnThePhaseShift) {
  // A sine in the middle of bin 20 (20 Hz at 256 samples per second, N 256).
  const int count = 2176, bin = 20;
  std::vector<double> atBin;
  for (double shift : {0.0, kPi / 4, kPi / 2, 2.0, kPi}) {
    std::vector<int32_t> a(count), b(count);
    for (int i = 0; i < count; ++i) {
      a[i] = static_cast<int32_t>(std::lround(1e6 * std::sin(2.0 * kPi * bin * i / 256.0)));
      b[i] = static_cast<int32_t>(std::lround(1e6 * std::sin(2.0 * kPi * bin * i / 256.0 + shift)));
    }
    auto out = untouchedOutput(128);
    ASSERT_EQ(GenerateCoherenceValues(count, a.data(), b.data(), out.data(), 1, 256, 256, 0), 0);
    for (int k = bin - 1; k <= bin + 1; ++k) EXPECT_GT(out[k], 0.9999) << "shift " << shift << ", bin " << k;
    atBin.push_back(out[bin]);
  }
  for (double v : atBin) EXPECT_NEAR(v, atBin[0], 1e-6);
}

// The epoch's segments, all full, against scipy on the same stretch.
TEST(Coherence, AgreesWithScipyWhereEverySegmentIsFull) {
  fixtures::TempRoot scratch;
  double worst = 0.0;
  for (int pps : {100, 200, 256, 511, 512}) {
    const int step = pps / 2;
    int n = 2;
    while (n < pps) n *= 2;
    const int perEpoch = std::min(n / 2, 128);
    // Two epochs of 16 full segments; the second starts 16 steps on.
    const int count = 32 * step + pps;
    std::vector<int32_t> a, b;
    correlatedChannels(count, a, b);
    auto out = untouchedOutput(128 + perEpoch + 8);
    ASSERT_EQ(GenerateCoherenceValues(count, a.data(), b.data(), out.data(), 2, 256, pps, 0), 0);

    const std::string file = scratch.file("channels.bin");
    {
      std::ofstream f(file, std::ios::binary);
      f.write(reinterpret_cast<const char*>(a.data()), static_cast<std::streamsize>(count * sizeof(int32_t)));
      f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(count * sizeof(int32_t)));
    }
    const auto lines = dsptest::runOracle("coherence " + file + " " + std::to_string(pps) + " 0 " +
                                          std::to_string(16 * step));
    ASSERT_EQ(lines.size(), 2u) << "pps " << pps;
    for (int epoch = 0; epoch < 2; ++epoch) {
      const auto reference = dsptest::numbers(lines[epoch]);
      ASSERT_EQ(reference.size(), static_cast<size_t>(n / 2 + 1)) << "pps " << pps;
      for (int k = 0; k < perEpoch; ++k) {
        const double want = reference[k];
        const double got = out[128 * epoch + k];
        worst = std::max(worst, std::fabs(got - want));
        EXPECT_NEAR(got, want, 1e-9) << "pps " << pps << ", epoch " << epoch << ", bin " << k;
      }
      // Below 128 values an epoch leaves the rest of its block alone.
      for (int k = perEpoch; k < 128 && epoch == 0; ++k) EXPECT_EQ(out[k], kUntouched) << "pps " << pps;
    }
    for (size_t k = 128 + perEpoch; k < out.size(); ++k) EXPECT_EQ(out[k], kUntouched) << "pps " << pps;
  }
  std::printf("worst difference from scipy: %.3g\n", worst);
}

TEST(Coherence, SegmentsAdvanceByHalfAndEpochsCarryOn) {
  std::vector<int32_t> a, b;
  correlatedChannels(2176, a, b);
  // 2048 samples, pps 256: fifteen full segments and a sixteenth of the last
  // 128 samples use everything, so a second epoch finds nothing.
  auto out = untouchedOutput(256);
  ASSERT_EQ(GenerateCoherenceValues(2048, a.data(), b.data(), out.data(), 2, 256, 256, 0), 0);
  for (int k = 0; k < 128; ++k) {
    EXPECT_GE(out[k], 0.0);
    EXPECT_LE(out[k], 1.0 + 1e-12);
  }
  for (int k = 128; k < 256; ++k) ASSERT_EQ(out[k], kUntouched) << "element " << k;

  // 128 more samples: the first epoch's sixteenth segment is full and the
  // second epoch starts 2048 samples in, with one half segment to read.
  out = untouchedOutput(256);
  ASSERT_EQ(GenerateCoherenceValues(2176, a.data(), b.data(), out.data(), 2, 256, 256, 0), 0);
  for (int k = 128; k < 256; ++k) EXPECT_NE(out[k], kUntouched) << "element " << k;
}

TEST(Coherence, ASingleSampleSegmentIsNotDetrended) {
  const int32_t a[] = {5}, b[] = {-9};
  auto out = untouchedOutput(4);
  // pps 4: N 4, two values; the one sample is windowed to 0.
  ASSERT_EQ(GenerateCoherenceValues(1, a, b, out.data(), 1, 256, 4, 0), 0);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 1.0);
  EXPECT_EQ(out[2], kUntouched);
}

TEST(Coherence, InvalidArgumentsComputeNothing) {
  std::vector<int32_t> a(1024, 3), b(1024, 4);
  auto out = untouchedOutput(128);
  for (int pps : {1, 0, -256, 32769}) {
    EXPECT_EQ(GenerateCoherenceValues(1024, a.data(), b.data(), out.data(), 1, 256, pps, 0), -3) << pps;
  }
  EXPECT_EQ(GenerateCoherenceValues(1024, nullptr, b.data(), out.data(), 1, 256, 256, 0), -3);
  EXPECT_EQ(GenerateCoherenceValues(1024, a.data(), b.data(), nullptr, 1, 256, 256, 0), -3);
  for (double v : out) EXPECT_EQ(v, kUntouched);
  // Nothing to read and nothing to write is fine.
  EXPECT_EQ(GenerateCoherenceValues(0, nullptr, nullptr, nullptr, 0, 256, 256, 0), 0);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// An epoch's line of the export: "%f," for each value.
std::string csvValues(const double* values, int count) {
  std::string line;
  char value[64];
  for (int k = 0; k < count; ++k) {
    std::snprintf(value, sizeof value, "%f,", values[k]);
    line += value;
  }
  return line;
}

class CoherenceExport : public fixtures::RootedTest {
 protected:
  std::string exportFile() const { return root.file("telvaris/export/coherence.csv"); }
};

TEST_F(CoherenceExport, WritesSamplesArgumentsAndEachEpochsValues) {
  fixtures::writeFile(exportFile(), "old export\n");
  std::vector<int32_t> a, b;
  correlatedChannels(2176, a, b);
  auto out = untouchedOutput(256);
  ASSERT_EQ(GenerateCoherenceValues(2176, a.data(), b.data(), out.data(), 2, 256, 256, 1), 0);

  const auto text = lines(fixtures::readFile(exportFile()));
  ASSERT_EQ(text.size(), 103u);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(text[i], std::to_string(a[i]) + ", " + std::to_string(b[i])) << "line " << i;
  }
  EXPECT_EQ(text[100], "counter=2176, numEpochs=2, sampfreq=256.000000, pps=256");
  for (int epoch = 0; epoch < 2; ++epoch) EXPECT_EQ(text[101 + epoch], csvValues(&out[128 * epoch], 100)) << epoch;
  EXPECT_FALSE(fixtures::pathExists(exportFile() + ".tmp"));
}

TEST_F(CoherenceExport, EachLineShowsAHundredValuesOfItsBlockTheLastNoMoreThanTheArrayHolds) {
  std::filesystem::create_directories(root.file("telvaris/export"));
  std::vector<int32_t> a, b;
  correlatedChannels(2176, a, b);
  // pps 100: N 128, 64 values an epoch, and an array that ends 64 past the
  // last block's start, as the caller may size it.
  auto out = untouchedOutput(128 + 64);
  ASSERT_EQ(GenerateCoherenceValues(2176, a.data(), b.data(), out.data(), 2, 256, 100, 1), 0);
  const auto text = lines(fixtures::readFile(exportFile()));
  ASSERT_EQ(text.size(), 103u);
  std::string untouched;
  for (int k = 64; k < 100; ++k) untouched += "-123.000000,";
  EXPECT_EQ(text[101], csvValues(&out[0], 64) + untouched);
  EXPECT_EQ(text[102], csvValues(&out[128], 64));
}

TEST_F(CoherenceExport, ShortInputsWriteWhatTheyHave) {
  std::filesystem::create_directories(root.file("telvaris/export"));
  const int32_t a[] = {1, 2, 3}, b[] = {-1, -2, -3};
  auto out = untouchedOutput(64);
  // pps 8: N 8, four values an epoch.
  ASSERT_EQ(GenerateCoherenceValues(3, a, b, out.data(), 1, 100, 8, 1), 0);
  const auto text = lines(fixtures::readFile(exportFile()));
  ASSERT_EQ(text.size(), 5u);
  EXPECT_EQ(text[0], "1, -1");
  EXPECT_EQ(text[2], "3, -3");
  EXPECT_EQ(text[3], "counter=3, numEpochs=1, sampfreq=100.000000, pps=8");
  EXPECT_EQ(std::count(text[4].begin(), text[4].end(), ','), 4);
  EXPECT_EQ(out[4], kUntouched);
}

TEST_F(CoherenceExport, WithoutTheExportFolderNothingIsComputed) {
  std::vector<int32_t> a(1024, 1), b(1024, 2);
  auto out = untouchedOutput(128);
  EXPECT_EQ(GenerateCoherenceValues(1024, a.data(), b.data(), out.data(), 1, 256, 256, 1), -1);
  for (double v : out) EXPECT_EQ(v, kUntouched);
  // Without the debug flag the folder does not matter.
  EXPECT_EQ(GenerateCoherenceValues(1024, a.data(), b.data(), out.data(), 1, 256, 256, 0), 0);
  EXPECT_FALSE(fixtures::pathExists(root.file("telvaris/export")));
}

}  // namespace
