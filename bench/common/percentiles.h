// Latency samples for benchmarks that report a median, a 99th percentile
// and the worst case next to Google Benchmark's own figures.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace benchutil {

class Latencies {
 public:
  void reserve(size_t n) { microseconds_.reserve(n); }
  void add(std::chrono::nanoseconds d) { addMicroseconds(std::chrono::duration<double, std::micro>(d).count()); }
  void addMicroseconds(double us) { microseconds_.push_back(us); }

  // Sets the counters median_us, p99_us and max_us on `state`.
  void report(benchmark::State& state) {
    if (microseconds_.empty()) return;
    std::sort(microseconds_.begin(), microseconds_.end());
    auto at = [&](double q) {
      return microseconds_[static_cast<size_t>(q * static_cast<double>(microseconds_.size() - 1))];
    };
    state.counters["median_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = microseconds_.back();
  }

 private:
  std::vector<double> microseconds_;
};

}  // namespace benchutil
