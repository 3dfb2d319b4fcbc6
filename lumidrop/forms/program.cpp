#include "forms/program.h"

#include "forms/frm_lumidrop.h"
#include "forms/frm_main.h"
#include "platform/files.h"

namespace lumidrop {

int16_t WindowsVersion(const platform::OsVersion& version) {
  // Major version 6 or higher: Windows 10 and 11 report 10 to a program
  // that declares them, and they have the endpoint volume too.
  return version.queried && version.platformId == 2 && version.major >= 6 ? True : False;
}

Program::Program(ui::Application& app_, TelvarisLink& telvaris_, WindowLayering& layering_,
                 audio::VolumeOutputs& volume_, std::string folder_)
    : app(app_), telvaris(telvaris_), layering(layering_), volume(volume_), folder(std::move(folder_)) {
  panel_ = std::make_unique<frmMain>(*this);
  app.setMainForm(panel_.get());
}

Program::~Program() {
  // The overlay's window refers to the panel's status line; it goes first.
  overlay_.reset();
  app.setMainForm(nullptr);
  panel_.reset();
}

frmMain& Program::panel() { return *panel_; }

frmLumidrop& Program::lumidrop() {
  if (!overlay_) overlay_ = std::make_unique<frmLumidrop>(*this);
  return *overlay_;
}

std::string Program::file(const std::string& name) const { return platform::joinPath(folder, name); }

}  // namespace lumidrop
