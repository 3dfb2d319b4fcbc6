// The cost of one volume change on each road, as the overlay's applyVolume
// makes it: on the endpoint road a new endpoint-volume object bound to the
// default sink and one master-scalar change; on the mixer road one pass of
// setMixerVolume through ALSA's default device. Against a private
// pulseaudio with a null sink.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "audio/endpoint_volume.h"
#include "audio/alsa_mixer.h"
#include "audio/volume.h"
#include "common/percentiles.h"
#include "fixtures/pulse_server.h"

namespace {

namespace audio = lumidrop::audio;

fixtures::PulseServer& server() {
  static fixtures::PulseServer s({"bench"});
  return s;
}

void EndpointVolumeChange(benchmark::State& state) {
  server().useFromThisProcess();
  benchutil::Latencies latencies;
  std::unique_ptr<audio::CAudioEndpointVolume> held;
  int level = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    held = std::make_unique<audio::CAudioEndpointVolume>();  // the previous one goes, as in applyVolume
    held->SetMasterVolumeLevelScalar(static_cast<float>(level) / 100.0f);
    latencies.add(std::chrono::steady_clock::now() - start);
    level = (level + 7) % 101;
  }
  if (!held || held->lastHResult() != audio::kSOk) state.SkipWithError("the volume change failed");
  latencies.report(state);
}
BENCHMARK(EndpointVolumeChange)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void MixerVolumeChange(benchmark::State& state) {
  server().useFromThisProcess();
  benchutil::Latencies latencies;
  audio::AlsaMixer mixer;
  int level = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    audio::setMixerVolume(mixer, level, 1);
    latencies.add(std::chrono::steady_clock::now() - start);
    level = (level + 7) % 101;
  }
  latencies.report(state);
}
BENCHMARK(MixerVolumeChange)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
