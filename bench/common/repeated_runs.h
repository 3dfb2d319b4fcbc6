// The main of a benchmark program that reports through a reporter of its
// own and runs each benchmark three times unless the command line says how
// often.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace benchutil {

inline int runRepeated(int argc, char** argv, benchmark::BenchmarkReporter& reporter) {
  std::vector<char*> args(argv, argv + argc);
  char repeat[] = "--benchmark_repetitions=3";
  const bool counted = std::any_of(args.begin() + (argc > 0 ? 1 : 0), args.end(), [](const char* a) {
    return std::string_view(a).starts_with("--benchmark_repetitions");
  });
  if (!counted) args.insert(args.begin() + (argc > 0 ? 1 : 0), repeat);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace benchutil
