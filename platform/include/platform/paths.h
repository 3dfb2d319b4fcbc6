// Where the system's fixed files live on this machine.
//
// The library and the fading program name their fixed files the way the
// Windows build does ("c:\telvaris\MQTT.log"). On Linux every drive-letter
// path is mapped under one root, TELVARIS_ROOT (default
// ~/.local/share/telvaris): "c:\telvaris\MQTT.log" becomes
// "$TELVARIS_ROOT/telvaris/MQTT.log". Paths without a drive letter are used
// as they are.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The root that stands for the drive. Created when missing (a drive always
// exists); folders below it are not, as on Windows.
std::string telvarisRoot();

// Maps a path that may name a drive ("c:\dir\file", "C:/dir/file") onto this
// machine. Other paths come back unchanged.
std::string mapPath(std::string_view path);

// The folder that holds the running executable, or `overrideFolder` when
// it is not empty (a program may let its user name another).
std::string programFolder(std::string_view overrideFolder = {});

bool fileExists(const std::string& path);

// Whether this process may create files in `folder`.
bool folderWritable(const std::string& folder);

// The user's own folder for the settings of the program `name`, created
// when missing: $XDG_CONFIG_HOME/name (or ~/.config/name) here,
// %APPDATA%\name on Windows.
std::string userConfigFolder(const std::string& name);

}  // namespace platform
