// What the fading program spends of its own per decision (the library's
// wait of up to 50 ms aside), and on reading and saving its settings.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "forms/frm_lumidrop.h"
#include "forms/frm_main.h"
#include "forms/program.h"
#include "forms/recording_outputs.h"
#include "common/always_deciding.h"
#include "fixtures/temp_folder.h"
#include "link/telvaris_link.h"
#include "settings/mod_options.h"
#include "ui/application.h"
#include "ui/headless_backend.h"

namespace {

using benchutil::AlwaysDeciding;

void BM_FeedbackTick(benchmark::State& state) {
  const std::string folder = fixtures::makeTempFolder("lumidrop-bench");
  {
    ui::HeadlessBackend backend;
    ui::Application app(backend);
    AlwaysDeciding link;
    lumidrop::RecordingLayering layering;
    lumidrop::RecordingVolume volume;
    lumidrop::Program program(app, link, layering, volume, folder);
    program.queryOsVersion = [] { return platform::OsVersion{true, 2, 6, 1}; };
    app.start(program.panel());
    lumidrop::frmLumidrop& overlay = program.lumidrop();
    for (auto _ : state) {
      app.dispatch([&] { overlay.Timer1_Timer(); });
      if (layering.alphaCalls().size() > 100000) {
        layering.clear();
        volume.clear();
      }
    }
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_FeedbackTick);

void BM_SaveSettings(benchmark::State& state) {
  const std::string folder = fixtures::makeTempFolder("lumidrop-bench");
  const std::string path = lumidrop::settingsPath(folder);
  lumidrop::LumidropSettings settings;
  lumidrop::ModOptions::loadSettings(settings, path);
  for (auto _ : state) benchmark::DoNotOptimize(lumidrop::ModOptions::saveSettings(settings, path));
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SaveSettings)->Unit(benchmark::kMicrosecond);

void BM_LoadSettings(benchmark::State& state) {
  const std::string folder = fixtures::makeTempFolder("lumidrop-bench");
  const std::string path = lumidrop::settingsPath(folder);
  lumidrop::LumidropSettings settings;
  lumidrop::ModOptions::loadSettings(settings, path);
  lumidrop::ModOptions::saveSettings(settings, path);
  for (auto _ : state) {
    lumidrop::LumidropSettings loaded;
    lumidrop::ModOptions::loadSettings(loaded, path);
    benchmark::DoNotOptimize(loaded.CPWidth);
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
