// CreateConfigFile: the first run's remote-link defaults and remote.conf.
#pragma once

#include <string>

#include "settings/lumidrop_settings.h"

namespace lumidrop {

inline constexpr const char* kRemoteConfFileName = "remote.conf";

// When remote.conf is missing from `programFolder`: sets the five link
// fields of `settings` to the first-run defaults and writes remote.conf.
// When it cannot be written the defaults stay in memory and a note goes to
// standard error. When remote.conf exists nothing changes.
void CreateConfigFile(LumidropSettings& settings, const std::string& programFolder);

// The five lines of remote.conf for `settings`.
std::string remoteConfText(const LumidropSettings& settings);

}  // namespace lumidrop
