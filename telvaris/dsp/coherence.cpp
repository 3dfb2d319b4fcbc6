// Magnitude-squared coherence of two recorded channels, epoch by epoch.
//
// Each epoch averages up to 16 segments of `pps` samples that overlap by
// half: every segment is detrended, windowed (symmetric Hann) and
// transformed together with its partner from the other channel as one
// complex sequence, whose transform is split into the two spectra again.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <numbers>
#include <string>
#include <system_error>

#include "dsp/fft.h"
#include "platform/paths.h"
#include "telvaris.h"

namespace dsp {
namespace {

constexpr const char* kCoherenceFile = "c:\\telvaris\\export\\coherence.csv";
constexpr int kEpochStride = 128;
constexpr int kSegmentsPerEpoch = 16;
constexpr int kCsvSamples = 100;
constexpr int kCsvValues = 100;

enum Result : int32_t { kOk = 0, kNoFile = -1, kNoMemory = -2, kBadArgument = -3 };

// The diagnostic export, written beside its final name and moved there
// whole at the end, so an interrupted run leaves the previous file. Both
// paths are made up front: moving and discarding allocate nothing, so
// neither can fail for memory once the run has begun.
class CsvExport {
 public:
  ~CsvExport() { discard(); }

  bool create() {
    path_ = platform::mapPath(kCoherenceFile);
    temp_ = path_;
    temp_ += ".tmp";
    file_ = std::fopen(temp_.string().c_str(), "w");
    return file_ != nullptr;
  }
  FILE* file() const { return file_; }
  bool open() const { return file_ != nullptr; }

  bool commit() noexcept {
    if (!file_) return true;
    const bool written = std::fclose(file_) == 0;
    file_ = nullptr;
    std::error_code error;
    if (written) std::filesystem::rename(temp_, path_, error);
    if (!written || error) {
      std::filesystem::remove(temp_, error);
      return false;
    }
    return true;
  }

  void discard() noexcept {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
  }

 private:
  std::filesystem::path path_, temp_;
  FILE* file_ = nullptr;
};

std::unique_ptr<double[]> zeroed(int n) { return std::unique_ptr<double[]>(new (std::nothrow) double[n]()); }

class Estimator {
 public:
  Estimator(int32_t counter, const int32_t* channel1, const int32_t* channel2, int32_t pps)
      : counter_(counter), channel1_(channel1), channel2_(channel2), pps_(pps) {
    n_ = 2;
    while (n_ < pps_) n_ *= 2;
    bins_ = n_ / 2 + 1;
  }

  int length() const { return n_; }

  bool allocate() {
    re_ = zeroed(n_);
    im_ = zeroed(n_);
    window_ = zeroed(n_);
    auto1_ = zeroed(bins_);
    auto2_ = zeroed(bins_);
    crossRe_ = zeroed(bins_);
    crossIm_ = zeroed(bins_);
    if (!re_ || !im_ || !window_ || !auto1_ || !auto2_ || !crossRe_ || !crossIm_) return false;
    for (int i = 0; i < pps_; ++i) window_[i] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * i / (pps_ - 1)));
    return fft_.prepare(n_);
  }

  // One epoch from the current read position. Writes `count` coherence
  // values when at least one segment was read; false when none was.
  bool epoch(double* out, int count) {
    for (int k = 0; k < bins_; ++k) auto1_[k] = auto2_[k] = crossRe_[k] = crossIm_[k] = 0.0;
    int segments = 0;
    while (segments < kSegmentsPerEpoch) {
      const int c = readSegment();
      if (c == 0) break;
      detrend(re_.get(), c);
      detrend(im_.get(), c);
      for (int i = 0; i < c; ++i) {
        re_[i] *= window_[i];
        im_[i] *= window_[i];
      }
      fft_.forward(re_.get(), im_.get());
      accumulate();
      ++segments;
    }
    if (segments == 0) return false;
    for (int k = 0; k < count; ++k) {
      if (auto1_[k] == 0.0 || auto2_[k] == 0.0) {
        out[k] = 1.0;
        continue;
      }
      const double a1 = auto1_[k] / 4.0, a2 = auto2_[k] / 4.0;
      const double cr = crossRe_[k] / 2.0, ci = crossIm_[k] / 4.0;
      out[k] = (cr * cr + ci * ci) / (a1 * a2);
    }
    return true;
  }

 private:
  // Channel 1 into the real part, channel 2 into the imaginary part; the
  // next segment starts half a segment on, or after what was read.
  int readSegment() {
    int c = 0;
    for (int i = 0; i < pps_ && position_ + i < counter_; ++i, ++c) {
      re_[i] = channel1_[position_ + i];
      im_[i] = channel2_[position_ + i];
    }
    for (int i = c; i < n_; ++i) re_[i] = im_[i] = 0.0;
    position_ += c < pps_ / 2 ? c : pps_ / 2;
    return c;
  }

  // Removes the least-squares line through (1, v[0]) .. (c, v[c-1]). A
  // single sample has no line.
  static void detrend(double* v, int c) {
    if (c < 2) return;
    double sum = 0.0, weighted = 0.0;
    for (int i = 0; i < c; ++i) {
      sum += v[i];
      weighted += (i + 1) * v[i];
    }
    const double cc = c;
    const double mean = sum / cc;
    const double slope = 12.0 * weighted / (cc * (cc * cc - 1.0)) - 6.0 * mean / (cc - 1.0);
    const double intercept = mean - slope * (cc + 1.0) / 2.0;
    for (int i = 0; i < c; ++i) v[i] -= slope * (i + 1) + intercept;
  }

  // Separates the two spectra from the one transform Z: with E + iG = Z_j
  // and F + iH = Z_(n-j), 4|X_j|^2, 4|Y_j|^2, 2 Re and -4 Im of X_j conj(Y_j).
  void accumulate() {
    const double e0 = re_[0], g0 = im_[0];
    auto1_[0] += 4.0 * e0 * e0;
    auto2_[0] += 4.0 * g0 * g0;
    crossRe_[0] += 2.0 * e0 * g0;
    crossIm_[0] = 0.0;
    for (int j = 1; j < n_ / 2; ++j) {
      const double e = re_[j], g = im_[j], f = re_[n_ - j], h = im_[n_ - j];
      auto1_[j] += (e + f) * (e + f) + (g - h) * (g - h);
      auto2_[j] += (g + h) * (g + h) + (e - f) * (e - f);
      crossRe_[j] += e * h + f * g;
      crossIm_[j] += f * f + h * h - e * e - g * g;
    }
  }

  int64_t counter_;
  const int32_t* channel1_;
  const int32_t* channel2_;
  int pps_;
  int n_ = 2;
  int bins_ = 2;
  int64_t position_ = 0;
  Fft fft_;
  std::unique_ptr<double[]> re_, im_, window_, auto1_, auto2_, crossRe_, crossIm_;
};

void writeCsvHead(FILE* f, int32_t counter, const int32_t* channel1, const int32_t* channel2, int32_t numEpochs,
                  int32_t sampfreq, int32_t pps) {
  for (int i = 0; i < kCsvSamples && i < counter; ++i) std::fprintf(f, "%" PRId32 ", %" PRId32 "\n", channel1[i], channel2[i]);
  std::fprintf(f, "counter=%" PRId32 ", numEpochs=%" PRId32 ", sampfreq=%f, pps=%" PRId32 "\n", counter, numEpochs,
               static_cast<double>(sampfreq), pps);
}

int32_t generate(int32_t counter, const int32_t* channel1, const int32_t* channel2, double* output, int32_t numEpochs,
                 int32_t sampfreq, int32_t pps, int32_t debug) {
  if (pps < 2 || pps > kMaxFftLength) return kBadArgument;
  if (counter > 0 && (!channel1 || !channel2)) return kBadArgument;
  if (numEpochs > 0 && !output) return kBadArgument;

  CsvExport csv;
  if (debug == 1) {
    if (!csv.create()) return kNoFile;
    writeCsvHead(csv.file(), counter, channel1, channel2, numEpochs, sampfreq, pps);
  }

  Estimator estimator(counter, channel1, channel2, pps);
  if (!estimator.allocate()) return kNoMemory;
  // An epoch owns 128 elements of the output, whatever the segment length.
  const int perEpoch = estimator.length() / 2 < kEpochStride ? estimator.length() / 2 : kEpochStride;
  double* block = output;
  for (int32_t e = 0; e < numEpochs; ++e, block += kEpochStride) {
    estimator.epoch(block, perEpoch);
    if (csv.open()) {
      // A line shows 100 elements of the epoch's block; the caller's array
      // reaches only N/2 past the last block's start.
      const int shown = e + 1 < numEpochs ? kCsvValues : std::min(kCsvValues, estimator.length() / 2);
      for (int k = 0; k < shown; ++k) std::fprintf(csv.file(), "%f,", block[k]);
      std::fputc('\n', csv.file());
    }
  }
  return csv.commit() ? kOk : kNoFile;
}

}  // namespace

int32_t generateCoherenceValues(int32_t counter, const int32_t* channel1, const int32_t* channel2, double* output,
                                int32_t numEpochs, int32_t sampfreq, int32_t pps, int32_t debug) noexcept {
  try {
    return generate(counter, channel1, channel2, output, numEpochs, sampfreq, pps, debug);
  } catch (...) {
    // Only allocations throw here (the export's paths), all before any
    // value is computed.
    return kNoMemory;
  }
}

}  // namespace dsp

extern "C" {

TLV_API int32_t TLV_CALL GenerateCoherenceValues(int32_t counter, const int32_t* channel1, const int32_t* channel2,
                                                 double* output, int32_t numEpochs, int32_t sampfreq, int32_t pps,
                                                 int32_t debug) {
  return dsp::generateCoherenceValues(counter, channel1, channel2, output, numEpochs, sampfreq, pps, debug);
}

}  // extern "C"
