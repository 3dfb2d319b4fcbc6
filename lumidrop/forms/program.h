// What the whole fading program shares: the settings record, the Windows
// version flag, the library link, the outputs, and its two forms. The
// control panel is made with the program; the overlay is made at its first
// use and then kept for the whole run (its window comes and goes).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/volume.h"
#include "audio/volume_restore.h"
#include "forms/window_layering.h"
#include "link/telvaris_link.h"
#include "platform/process.h"
#include "settings/lumidrop_settings.h"
#include "ui/application.h"

namespace lumidrop {

class frmMain;
class frmLumidrop;

struct ProgramVersion {
  int major;
  int minor;
  int revision;
};

// The fading program's own version (the title shows it).
inline constexpr ProgramVersion kProgramVersion{1, 0, 0};

// Booleans of the program: True is -1.
inline constexpr int16_t True = -1;
inline constexpr int16_t False = 0;

// WindowsVersion: True when the version query worked and reports the NT
// platform (2) with major version 6 or higher (the systems with the
// endpoint volume).
int16_t WindowsVersion(const platform::OsVersion& version);

class Program {
 public:
  Program(ui::Application& app, TelvarisLink& telvaris, WindowLayering& layering, audio::VolumeOutputs& volume,
          std::string folder);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  ui::Application& app;
  TelvarisLink& telvaris;
  WindowLayering& layering;
  audio::VolumeOutputs& volume;
  // The program's own folder: its settings, remote.conf and marker file.
  const std::string folder;

  LumidropSettings settings;
  int16_t isWindowsNT6 = False;
  ProgramVersion version = kProgramVersion;
  std::function<platform::OsVersion()> queryOsVersion = [] { return platform::osVersion(); };
  // Told, each time the overlay has set the system volume, what closing
  // down would set it back to: someone outside the program can then do it
  // should the program die first.
  std::function<void(const audio::VolumeRestore&)> guardVolume;

  frmMain& panel();
  frmLumidrop& lumidrop();
  bool overlayMade() const { return overlay_ != nullptr; }

  std::string file(const std::string& name) const;

 private:
  std::unique_ptr<frmMain> panel_;
  std::unique_ptr<frmLumidrop> overlay_;
};

}  // namespace lumidrop
