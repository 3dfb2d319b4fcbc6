// lumidropRemote: the fading program. Starts the control panel, which
// loads the settings, opens the remote feedback link and starts the
// overlay. With a display (DISPLAY or WAYLAND_DISPLAY set) it shows real
// windows; without one it runs headless and writes what it would show to
// standard output. On Windows its windows are the system's own.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "audio/endpoint_volume.h"
#include "audio/system_volume.h"
#include "audio/volume_restore.h"
#include "forms/frm_main.h"
#include "forms/program.h"
#include "forms/recording_outputs.h"
#include "link/telvaris_link.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "settings/mod_options.h"
#include "ui/application.h"
#if defined(_WIN32)
#include "app/start_win32.h"
#include "win32/win32_backend.h"
#include "win32/win32_layering.h"
#else
#include "qt/qt_backend.h"
#include "qt/qt_layering.h"
#include "ui/headless_backend.h"
#endif

namespace {

// A variable of the program's environment; empty when it is not set.
std::string environmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

#if !defined(_WIN32)
// A Yes/No question without a screen: the answer is read from standard
// input ("y" or "yes"); anything else, no input, or a termination request
// while waiting (the box's own way out) is No.
ui::MessageBoxResult askOnConsole(const ui::HeadlessBackend::ShownMessage& shown) {
  if (shown.buttons != ui::MessageBoxButtons::YesNo) return ui::MessageBoxResult::Ok;
  std::cout << shown.text << " [y/N] " << std::flush;
  std::string answer;
  if (!platform::readLineUnlessTerminated(answer)) {
    std::cout << std::endl;
    return ui::MessageBoxResult::No;
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" ? ui::MessageBoxResult::Yes
                                                                              : ui::MessageBoxResult::No;
}

bool displayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}
#endif

// The system volume the program drives: the sound server's default sink,
// or the mixer.
std::unique_ptr<lumidrop::audio::VolumeOutputs> makeVolumeOutputs() {
  return std::make_unique<lumidrop::audio::SystemVolumeOutputs>();
}

// LUMIDROP_HOME names the program's folder (its settings, remote.conf and
// marker, the library first) instead of the executable's. A program
// installed for every user (in /usr/bin, say) cannot keep its files beside
// itself: it keeps them in the user's configuration folder instead
// (~/.config/lumidrop), and finds the library the system's way.
std::string programFolder() {
  const std::string chosen = environmentText("LUMIDROP_HOME");
  if (!chosen.empty()) return chosen;
  const std::string own = platform::programFolder();
  return platform::folderWritable(own) ? own : platform::userConfigFolder("lumidrop");
}

std::string versionText() {
  const lumidrop::ProgramVersion& v = lumidrop::kProgramVersion;
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision);
}

// --help and --version: what the program is, its version and where its
// settings are.
void describe(bool usage) {
  std::printf("lumidropRemote %s, the Telvaris LumiDrop fading program\n", versionText().c_str());
  if (usage) {
    std::printf(
        "Usage: lumidropRemote [--help | --version]\n"
        "It takes no other arguments: it dims an overlay and lowers the system volume as the\n"
        "feedback of a training session arrives from the relay service's broker.\n");
  }
  std::printf("Settings: %s (LUMIDROP_HOME when set, else the program's folder, or ~/.config/lumidrop\n"
              "where the program's folder cannot be written)\n",
              lumidrop::settingsPath(programFolder()).c_str());
}

// Should the program die without closing down, a guardian process gives
// the system volume back as closing down would have.
void restoreVolumeAsOrphan(const std::string& instruction) {
  const auto restore = lumidrop::audio::parseRestoreInstruction(instruction);
  if (!restore) return;
  lumidrop::audio::SystemVolumeOutputs outputs;
  lumidrop::audio::restoreVolume(*restore, outputs);
  std::fprintf(stderr, "lumidropRemote ended without closing down: system volume set back to %d %%\n",
               static_cast<int>(restore->level));
}

// Runs the program on `backend` with `layering` for the overlay's window
// calls; returns its exit code.
int runProgram(ui::Backend& backend, lumidrop::WindowLayering& layering, ui::Application& app,
               platform::Guardian& guardian) {
  std::unique_ptr<lumidrop::audio::VolumeOutputs> volume = makeVolumeOutputs();
  const std::string folder = programFolder();
  // The link keeps the library loaded once bound (the MQTT client's thread
  // may outlive the program's last call into it).
  lumidrop::LibraryTelvarisLink telvaris(folder, [&app](const std::string& why) {
    platform::showMessage(why, "lumidropRemote");
    app.end(1);
  });
  lumidrop::Program program(app, telvaris, layering, *volume, folder);
  program.guardVolume = [&guardian](const lumidrop::audio::VolumeRestore& restore) {
    guardian.instruct(lumidrop::audio::restoreInstruction(restore));
  };
#if !defined(_WIN32)
  // LUMIDROP_LEGACY_AUDIO=1: the system reports an older Windows, so the
  // program drives the mixer. The endpoint road needs a sound server that
  // answers at start-up; without one the program drives the mixer, as on
  // an older system. On Windows the version query alone decides.
  const bool legacyAudio = environmentText("LUMIDROP_LEGACY_AUDIO") == "1";
  program.queryOsVersion = [legacyAudio] {
    platform::OsVersion version = platform::osVersion(legacyAudio);
    if (!lumidrop::audio::soundServerAnswers()) version.major = 5;
    return version;
  };
#endif
  return app.run(program.panel());
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  lumidrop::useStartingConsole();
#endif
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
    describe(std::strcmp(argv[1], "--help") == 0);
    return 0;
  }
  if (argc > 1) {
    std::fprintf(stderr, "lumidropRemote: unknown argument '%s'\nUsage: lumidropRemote [--help | --version]\n",
                 argv[1]);
    return 2;
  }
  // Before any thread starts (the guardian is a fork of this process).
  platform::Guardian guardian;
  guardian.start(restoreVolumeAsOrphan);
  // Ctrl+C and a termination request close the program as closing its
  // window does: volume and opacity restored, settings saved, marker gone.
  platform::catchTerminationRequests();

#if defined(_WIN32)
  lumidrop::WindowsStart windows;
  ui::Win32Backend backend;
  ui::Application app(backend);
  lumidrop::Win32Layering layering(&std::cout);
  return runProgram(backend, layering, app, guardian);
#else
  if (displayAvailable()) {
    ui::QtBackend backend;
    ui::Application app(backend);
    lumidrop::QtLayering layering(backend, &std::cout);
    return runProgram(backend, layering, app, guardian);
  }
  ui::HeadlessBackend backend(ui::HeadlessBackend::Clock::Real, &std::cout);
  backend.fallbackAnswer = askOnConsole;
  ui::Application app(backend);
  lumidrop::RecordingLayering layering(&std::cout);
  return runProgram(backend, layering, app, guardian);
#endif
}
