// The library's FFT against FFTW at every power of two from 256 to the
// largest length it allows, and GenerateCoherenceValues on two channels of
// 2048 samples. Both FFTs run in place on split real/imaginary arrays and
// restore their input before each transform, so the ratio compares the
// transforms alone.
//
// Each benchmark runs three times in the one process unless
// --benchmark_repetitions says otherwise; the ratio table at the end uses
// the median of those runs, so one disturbed run on a shared machine does
// not decide a ratio.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/repeated_runs.h"
#include "dsp/fft.h"
#include "telvaris.h"

namespace {

struct Signal {
  std::vector<double> re, im;
  explicit Signal(int n) : re(n), im(n) {
    for (int i = 0; i < n; ++i) {
      re[i] = std::sin(0.37 * i) + 0.25 * std::cos(1.3 * i);
      im[i] = std::cos(0.11 * i) - 0.5 * std::sin(2.9 * i);
    }
  }
};

void ownFft(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Signal input(n);
  std::vector<double> re(n), im(n);
  dsp::Fft fft;
  if (!fft.prepare(n)) {
    state.SkipWithError("no plan");
    return;
  }
  for (auto _ : state) {
    std::memcpy(re.data(), input.re.data(), n * sizeof(double));
    std::memcpy(im.data(), input.im.data(), n * sizeof(double));
    fft.forward(re.data(), im.data());
    benchmark::DoNotOptimize(re.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void fftwFft(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Signal input(n);
  double* re = fftw_alloc_real(n);
  double* im = fftw_alloc_real(n);
  fftw_iodim dim {n, 1, 1};
  // FFTW's split format runs the forward transform with the arrays swapped
  // on input and output of the inverse convention; re/im in, re/im out.
  fftw_plan plan = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, re, im, re, im, FFTW_MEASURE);
  for (auto _ : state) {
    std::memcpy(re, input.re.data(), n * sizeof(double));
    std::memcpy(im, input.im.data(), n * sizeof(double));
    fftw_execute(plan);
    benchmark::DoNotOptimize(re);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  fftw_destroy_plan(plan);
  fftw_free(re);
  fftw_free(im);
}

void coherence(benchmark::State& state) {
  const int count = 2048;
  std::vector<int32_t> a(count), b(count);
  for (int i = 0; i < count; ++i) {
    a[i] = static_cast<int32_t>(1000.0 * std::sin(0.2 * i) + (i * 7919) % 311);
    b[i] = static_cast<int32_t>(800.0 * std::sin(0.2 * i + 0.5) + (i * 104729) % 197);
  }
  std::vector<double> out(128);
  const int pps = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (GenerateCoherenceValues(count, a.data(), b.data(), out.data(), 1, 256, pps, 0) != 0) {
      state.SkipWithError("coherence failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
}

constexpr int kShortest = 256;

BENCHMARK(ownFft)->RangeMultiplier(2)->Range(kShortest, dsp::kMaxFftLength);
BENCHMARK(fftwFft)->RangeMultiplier(2)->Range(kShortest, dsp::kMaxFftLength);
BENCHMARK(coherence)->Arg(256)->Unit(benchmark::kMicrosecond);

// Prints the time ratio of the two FFTs after the usual table: the median
// over the repetitions of each one's time per transform.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      real_[name].push_back(run.GetAdjustedRealTime());
      cpu_[name].push_back(run.GetAdjustedCPUTime());
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nFFT time ratio (library / FFTW), in place, split arrays, CPU time (wall-clock ratio),\n"
                "median of each one's runs:\n");
    for (int n = kShortest; n <= dsp::kMaxFftLength; n *= 2) {
      const std::string own = "ownFft/" + std::to_string(n), ref = "fftwFft/" + std::to_string(n);
      if (!cpu_.count(own) || !cpu_.count(ref)) continue;
      const double ownCpu = median(cpu_[own]), refCpu = median(cpu_[ref]);
      std::printf("  N = %5d: %9.1f ns vs %9.1f ns, ratio %.2f (%.2f), %zu run(s) each\n", n, ownCpu, refCpu,
                  ownCpu / refCpu, median(real_[own]) / median(real_[ref]),
                  std::min(cpu_[own].size(), cpu_[ref].size()));
    }
  }

 private:
  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2.0;
  }

  std::map<std::string, std::vector<double>> real_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  // Three runs of each benchmark by default; a repetition count on the
  // command line wins.
  RatioReporter reporter;
  return benchutil::runRepeated(argc, argv, reporter);
}
