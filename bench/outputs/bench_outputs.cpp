// The MP3 player on the real road (GStreamer, a private pulseaudio with a
// null sink):
// - IdleMp3Player: the process's CPU time over ten seconds in which only an
//   idle player thread runs (it sleeps until the command word changes; the
//   goal is no measurable time at all): just started (opened:0), and with
//   its file opened and muted, the paused pipeline's own threads included
//   (opened:1);
// - PlayToPlaying: from playMP3 on a muted, paused player to the pipeline
//   playing again (the command word, the player waking, "resume" and the
//   volume strings, the pipeline's state change);
// - MidiFirstNote: from MidiVoice with no player running to the note on,
//   which waits for the synthesizer to load its sound font and connect to
//   the sound server (later notes of the same run find it loaded).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <thread>

#include "common/percentiles.h"
#include "fixtures/pulse_server.h"
#include "fixtures/temp_root.h"
#include "outputs/midi_voice.h"
#include "outputs/mp3_player.h"
#include "platform/mci.h"
#include "platform/midi_out.h"
#include "telvaris.h"

namespace {

using State = platform::MciStatus::State;

fixtures::PulseServer& server() {
  static fixtures::PulseServer s({"bench"});
  return s;
}

// Two seconds of a 440 Hz tone as an MP3 made by lame.
std::string makeMp3(const fixtures::TempRoot& root) {
  const std::string raw = root.file("tone.raw"), file = root.file("tone.mp3");
  std::ofstream out(raw, std::ios::binary);
  for (int i = 0; i < 2 * 44100; ++i) {
    const auto s = static_cast<int16_t>(16384 * std::sin(2 * std::numbers::pi * 440 * i / 44100.0));
    out.write(reinterpret_cast<const char*>(&s), 2);
  }
  out.close();
  const std::string command =
      "lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -m m '" + raw + "' '" + file + "' 2>/dev/null";
  return std::system(command.c_str()) == 0 ? file : "";
}

bool reaches(platform::Mci& mci, State state, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    const auto s = mci.status("myFile");
    if (s.open && s.state == state && s.pending == State::kNull) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

void IdleMp3Player(benchmark::State& state) {
  fixtures::TempRoot root;
  server().useFromThisProcess();
  std::shared_ptr<platform::Mci> mci = platform::makeMci();
  outputs::mp3::useMci(mci);
  const std::string file = makeMp3(root);
  if (file.empty() || InitialiseMP3(file.c_str()) != TLV_MP3_OK) state.SkipWithError("no player");
  if (state.range(0)) {
    // Opened, then muted: paused and waiting, as between two rewards.
    openMP3();
    reaches(*mci, State::kPlaying, std::chrono::seconds(10));
    muteMP3();
    reaches(*mci, State::kPaused, std::chrono::seconds(10));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (auto _ : state) {
    const std::clock_t before = std::clock();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const std::clock_t after = std::clock();
    state.SetIterationTime(10.0);
    state.counters["cpu_ms_per_10s"] = 1000.0 * static_cast<double>(after - before) / CLOCKS_PER_SEC;
  }
  terminateMP3();
  outputs::mp3::useMci(nullptr);
}
BENCHMARK(IdleMp3Player)->ArgName("opened")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void PlayToPlaying(benchmark::State& state) {
  fixtures::TempRoot root;
  server().useFromThisProcess();
  std::shared_ptr<platform::Mci> mci = platform::makeMci();
  outputs::mp3::useMci(mci);
  const std::string file = makeMp3(root);
  if (file.empty() || InitialiseMP3(file.c_str()) != TLV_MP3_OK) state.SkipWithError("no player");
  openMP3();
  reaches(*mci, State::kPlaying, std::chrono::seconds(10));
  benchutil::Latencies latencies;
  for (auto _ : state) {
    state.PauseTiming();
    muteMP3();
    reaches(*mci, State::kPaused, std::chrono::seconds(10));
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    playMP3();
    if (!reaches(*mci, State::kPlaying, std::chrono::seconds(10))) state.SkipWithError("never played");
    latencies.add(std::chrono::steady_clock::now() - start);
  }
  latencies.report(state);
  terminateMP3();
  outputs::mp3::useMci(nullptr);
}
BENCHMARK(PlayToPlaying)->Iterations(50)->Unit(benchmark::kMillisecond);

// The system's synthesizer, telling when its first note starts.
class Timed : public platform::MidiOut {
 public:
  explicit Timed(std::chrono::steady_clock::time_point* opened) : out_(platform::makeMidiOut("")), opened_(opened) {}
  bool open() override {
    const bool ok = out_->open();
    if (*opened_ == std::chrono::steady_clock::time_point()) *opened_ = std::chrono::steady_clock::now();
    return ok;
  }
  void shortMessage(uint32_t message) override { out_->shortMessage(message); }
  void close() override { out_->close(); }
  int keepMs() const override { return out_->keepMs(); }

 private:
  std::unique_ptr<platform::MidiOut> out_;
  std::chrono::steady_clock::time_point* opened_;
};

void MidiFirstNote(benchmark::State& state) {
  server().useFromThisProcess();
  std::chrono::steady_clock::time_point opened;
  outputs::midi::useMidiOut([&opened] { return std::make_unique<Timed>(&opened); });
  benchutil::Latencies latencies;
  for (auto _ : state) {
    opened = {};
    const auto start = std::chrono::steady_clock::now();
    MidiVoice(50, 100, 73, 58);
    state.PauseTiming();
    if (!outputs::midi::waitIdle(30000)) state.SkipWithError("the player did not end");
    latencies.add(opened - start);
    state.ResumeTiming();
  }
  latencies.report(state);
  outputs::midi::useMidiOut({});
}
BENCHMARK(MidiFirstNote)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
