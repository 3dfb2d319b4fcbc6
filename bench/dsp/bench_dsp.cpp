// The library's FFT against FFTW at the lengths the coherence estimate uses
// and the largest it allows, and GenerateCoherenceValues on two channels of
// 2048 samples. Both FFTs run in place on split real/imaginary arrays and
// restore their input before each transform, so the ratio compares the
// transforms alone.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

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

BENCHMARK(ownFft)->Arg(256)->Arg(1024)->Arg(4096)->Arg(32768);
BENCHMARK(fftwFft)->Arg(256)->Arg(1024)->Arg(4096)->Arg(32768);
BENCHMARK(coherence)->Arg(256)->Unit(benchmark::kMicrosecond);

// Prints the time ratio of the two FFTs after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) {
        real_[run.benchmark_name()] = run.GetAdjustedRealTime();
        cpu_[run.benchmark_name()] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nFFT time ratio (library / FFTW), in place, split arrays, CPU time (wall-clock ratio):\n");
    for (int n : {256, 1024, 4096, 32768}) {
      const std::string own = "ownFft/" + std::to_string(n), ref = "fftwFft/" + std::to_string(n);
      if (!cpu_.count(own) || !cpu_.count(ref)) continue;
      std::printf("  N = %5d: %9.1f ns vs %9.1f ns, ratio %.2f (%.2f)\n", n, cpu_[own], cpu_[ref],
                  cpu_[own] / cpu_[ref], real_[own] / real_[ref]);
    }
  }

 private:
  std::map<std::string, double> real_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
