// One tick of the overlay's timer that carries a feedback decision, on the
// Qt backend with real windows: the poll (a library that always has a
// decision ready), the opacity written to the X server, the volume output
// (recorded), the status line and the pending events. The library's own
// wait of up to 50 ms for a message is not part of it. Reports the median
// and the 99th percentile of single ticks.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "forms/frm_lumidrop.h"
#include "forms/frm_main.h"
#include "forms/program.h"
#include "forms/recording_outputs.h"
#include "common/always_deciding.h"
#include "common/percentiles.h"
#include "fixtures/temp_folder.h"
#include "link/telvaris_link.h"
#include "qt/qt_backend.h"
#include "qt/qt_layering.h"
#include "ui/application.h"

namespace {

using benchutil::AlwaysDeciding;

void BM_QtFeedbackTick(benchmark::State& state) {
  if (!getenv("DISPLAY") || !*getenv("DISPLAY")) {
    state.SkipWithError("no display (run under xvfb-run -a)");
    return;
  }
  const std::string folder = fixtures::makeTempFolder("lumidrop-bench");
  benchutil::Latencies ticks;
  {
    ui::QtBackend backend;
    ui::Application app(backend);
    AlwaysDeciding link;
    lumidrop::QtLayering layering(backend);
    lumidrop::RecordingVolume volume;
    lumidrop::Program program(app, link, layering, volume, folder);
    program.queryOsVersion = [] { return platform::OsVersion{true, 2, 6, 1}; };
    app.start(program.panel());
    backend.runUntil([] { return false; }, 500);  // the windows shown and framed
    program.lumidrop().stopFeedback();            // only our ticks
    lumidrop::frmLumidrop& overlay = program.lumidrop();
    for (auto _ : state) {
      const auto start = std::chrono::steady_clock::now();
      app.dispatch([&] { overlay.Timer1_Timer(); });
      ticks.add(std::chrono::steady_clock::now() - start);
      if (volume.changes().size() > 100000) volume.clear();
    }
  }
  std::filesystem::remove_all(folder);
  ticks.report(state);
}
BENCHMARK(BM_QtFeedbackTick)->Iterations(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
