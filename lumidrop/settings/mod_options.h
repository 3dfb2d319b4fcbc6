// ModOptions: the settings file lumidrop.ini in the program's folder.
//
// Numbers are written as signed number text (a blank before a non-negative
// number: "AudioActive= 1"), strings in double quotes. Reading takes every
// key by itself: a key that is missing gets its default; a key whose text
// does not convert to its field keeps what the field held.
#pragma once

#include <string>

#include "settings/lumidrop_settings.h"

namespace lumidrop {

inline constexpr const char* kSettingsFileName = "lumidrop.ini";
// The fixed buffer the profile read goes through: values come back cut to
// one character less.
inline constexpr size_t kSettingBufferSize = 255;

// [MQTT] "CAFile": for an ssl:// ServerAddress, the CA certificate file
// (PEM) that a private broker's certificate must chain to; a relative path
// is in the program's folder. Without it the system's trust store decides.
// Read only, like "TestMode": the user writes it, a save keeps it as it
// stands. It is not in LumidropSettings: the link reads it when it opens
// the connection and hands it to the library (link/telvaris_link.h).
inline constexpr const char* kCAFileSection = "MQTT";
inline constexpr const char* kCAFileKey = "CAFile";

namespace ModOptions {

// The value of `key` in `section` of `iniPath`, or `defaultValue`.
std::string readSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                        const std::string& defaultValue);
// Writes one key (creating the file and the section when missing). False
// when the file cannot be written; it is then unchanged.
bool writeSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                  const std::string& value);

// Reads every key into `settings`.
void loadSettings(LumidropSettings& settings, const std::string& iniPath);
// Writes every key from `settings` in one atomic replacement of the file.
// False when the file cannot be written; it is then unchanged.
bool saveSettings(const LumidropSettings& settings, const std::string& iniPath);

// "Str" of a number: " 5", "-5".
std::string numberText(int64_t value);

}  // namespace ModOptions

// The settings file of the program whose folder is `programFolder`.
std::string settingsPath(const std::string& programFolder);

}  // namespace lumidrop
