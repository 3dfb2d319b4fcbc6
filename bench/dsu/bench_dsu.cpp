// The P3 decoder over a long run of 14- and 50-byte packets, against
// memset writing the same decoded bytes to the same store (the store's
// write bandwidth bounds the decoder); and the rate at which a session's
// read thread takes a stream from a pseudo-terminal without losing a
// packet, with a read delay of 100 ms (the default) and of 10 ms.
//
// Each benchmark runs three times in the one process unless
// --benchmark_repetitions says otherwise; the table at the end uses the
// medians.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/repeated_runs.h"
#include "dsu/p3_decoder.h"
#include "fixtures/temp_folder.h"
#include "p3_stream.h"
#include "platform/pseudo_terminal.h"
#include "telvaris.h"

namespace {

using Clock = std::chrono::steady_clock;

// The packet store's default size: 55 MB (14-byte packets: counter,
// auxiliary byte, 8 channels) and 188 MB (50 bytes: 32 channels) written
// per pass, beyond the caches as in a session.
constexpr int32_t kPackets = 1382400;

int32_t slotsWritten(int length) { return 2 + dsu::channelsCarried(length); }

struct DecodeRun {
  std::vector<uint8_t> bytes;
  dsu::DecodedStore store;
  dsu::DecodeTally tally;
  std::atomic<int32_t> button {0};

  explicit DecodeRun(int length) {
    p3synth::P3Stream stream(length, 1024);
    stream.append(bytes, kPackets);
    if (!store.allocate(kPackets)) std::abort();
  }
};

void decoder(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  DecodeRun run(length);
  for (auto _ : state) {
    run.store.writeIndex = 0;  // the same entries written again each pass
    dsu::ByteRun bytes {run.bytes.data(), 0, run.bytes.size()};
    if (dsu::decodeP3(bytes, length, run.store, run.tally, run.button) != dsu::kDecodeDone ||
        run.store.writeIndex != kPackets) {
      state.SkipWithError("not every packet decoded");
      return;
    }
    benchmark::DoNotOptimize(run.store.slots[2][kPackets - 1]);
    benchmark::ClobberMemory();
  }
  if (run.tally.positioningErrors != 0) state.SkipWithError("positioning errors");
  state.SetItemsProcessed(state.iterations() * kPackets);
  state.SetBytesProcessed(state.iterations() * kPackets * slotsWritten(length) * int64_t {4});
}

void memsetSameBytes(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  DecodeRun run(length);
  int value = 0;
  for (auto _ : state) {
    for (int32_t slot = 0; slot < slotsWritten(length); ++slot) {
      std::memset(run.store.slots[static_cast<size_t>(slot)], ++value & 0x7F, kPackets * sizeof(int32_t));
    }
    benchmark::DoNotOptimize(run.store.slots[2][kPackets - 1]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPackets);
  state.SetBytesProcessed(state.iterations() * kPackets * slotsWritten(length) * int64_t {4});
}

BENCHMARK(decoder)->Arg(14)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(memsetSameBytes)->Arg(14)->Arg(50)->Unit(benchmark::kMillisecond);

// A session on a pseudo-terminal (COM9 of a root of its own, taken without
// a scan) fed as fast as the line takes 14-byte packets for two seconds;
// the pass ends once the session has stored all of it. The line's own
// flow control holds the writer back, so the rate is the reader's.
void ingest(benchmark::State& state) {
  const int delayMs = static_cast<int>(state.range(0));
  const std::string root = fixtures::makeTempFolder("bench-dsu");
  setenv("TELVARIS_ROOT", root.c_str(), 1);
  platform::PseudoTerminal wire;
  wire.linkAsCom(root, 9);
  SetComPorts(0, 1, 50, 8);
  OverrideCOMPortScan(0, 1);
  ReadDelay(delayMs);
  SetDSUPacketLength(0, 14);
  SetRecordingLength(360);  // a packet store as large as main storage: the rate is not cut by a full store

  std::vector<uint8_t> chunk;  // 256 packets: the counters run on across chunks
  p3synth::P3Stream(14, 256).append(chunk, 256);
  int64_t written = 0;
  for (auto _ : state) {
    if (InitialiseDSU(0) != TLV_INIT_STARTED) {
      state.SkipWithError("no session");
      break;
    }
    const auto ready = Clock::now() + std::chrono::seconds(10);
    while (GetSystemStatus(0) != TLV_DSU_SYSTEM_OK && Clock::now() < ready)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the start signals are through

    const auto start = Clock::now();
    const auto stop = start + std::chrono::seconds(2);
    size_t at = 0;
    written = 0;
    while (Clock::now() < stop) {
      pollfd p {wire.nearFd(), POLLOUT, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::write(wire.nearFd(), chunk.data() + at, chunk.size() - at);
      if (n <= 0) continue;
      written += n;
      at = (at + static_cast<size_t>(n)) % chunk.size();
    }
    // Whole packets only, then wait for the session to hold all of it.
    while (at != 0) {
      pollfd p {wire.nearFd(), POLLOUT, 0};
      ::poll(&p, 1, 20);
      const ssize_t n = ::write(wire.nearFd(), chunk.data() + at, chunk.size() - at);
      if (n > 0) {
        written += n;
        at = (at + static_cast<size_t>(n)) % chunk.size();
      }
    }
    const auto drained = Clock::now() + std::chrono::seconds(10);
    while (TotalBytesRead(0) < written && Clock::now() < drained)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    const bool whole = TotalBytesRead(0) == written && PacketsInBuffer(0) == written / 14;
    TerminateDSU(0, 0, nullptr);
    if (!whole) {
      state.SkipWithError("packets lost");
      break;
    }
  }
  state.SetItemsProcessed(written / 14 * state.iterations());
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

BENCHMARK(ingest)->Arg(100)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      const auto rate = run.counters.find("items_per_second");
      if (rate != run.counters.end()) rates_[name].push_back(rate->second.value);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nDecoder, median packets a second, and its share of memset's rate writing the same bytes:\n");
    for (const char* length : {"14", "50"}) {
      const std::string own = std::string("decoder/") + length, ref = std::string("memsetSameBytes/") + length;
      if (!rates_.count(own) || !rates_.count(ref)) continue;
      const double decoded = median(rates_[own]), filled = median(rates_[ref]);
      std::printf("  %s-byte packets: %.3g packets/s, memset %.3g packets/s, ratio %.2f\n", length, decoded, filled,
                  decoded / filled);
    }
    std::printf("Read thread from a pseudo-terminal, 14-byte packets, none lost:\n");
    for (const char* delay : {"100", "10"}) {
      const std::string name = std::string("ingest/") + delay;
      if (!rates_.count(name)) continue;
      const double rate = median(rates_[name]);
      std::printf("  read delay %3s ms: %.3g packets/s (%.3g bytes/s)\n", delay, rate, rate * 14);
    }
  }

 private:
  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2.0;
  }

  std::map<std::string, std::vector<double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  // Three runs of each benchmark by default; a repetition count on the
  // command line wins.
  RatioReporter reporter;
  return benchutil::runRepeated(argc, argv, reporter);
}
