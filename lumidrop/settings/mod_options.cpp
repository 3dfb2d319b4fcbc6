#include "settings/mod_options.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>
#include <variant>

#include "platform/files.h"
#include "platform/profile.h"

namespace lumidrop {

std::string defaultServerAddress() { return std::string("tcp://") + kRelayBrokerHost; }

std::string settingsPath(const std::string& programFolder) {
  return platform::joinPath(programFolder, kSettingsFileName);
}

namespace {

using Field = std::variant<int16_t LumidropSettings::*, int32_t LumidropSettings::*, std::string LumidropSettings::*>;

struct Key {
  const char* section;
  const char* name;
  Field field;
  // Default as the text handed to the read; ClientID's depends on Email.
  const char* defaultText;
};

constexpr const char* kGeneral = "General";
constexpr const char* kMqtt = "MQTT";

const Key* findKey(std::string_view name);

// Every key once, with its field and default.
const Key kKeys[] = {
    {kGeneral, "AudioActive", &LumidropSettings::AudioActive, "1"},
    {kGeneral, "VideoActive", &LumidropSettings::VideoActive, "1"},
    {kGeneral, "UpdateFrequency", &LumidropSettings::UpdateFrequency, "100"},
    {kGeneral, "VolumeInhibit", &LumidropSettings::VolumeInhibit, "0"},
    {kGeneral, "OpacityInhibit", &LumidropSettings::OpacityInhibit, "100"},
    {kGeneral, "AutoFade", &LumidropSettings::AutoFade, "1"},
    {kGeneral, "TestMode", &LumidropSettings::TestMode, "0"},
    {kGeneral, "ProgressiveFeedback", &LumidropSettings::ProgressiveFeedback, "0"},
    {kGeneral, "InvertSound", &LumidropSettings::InvertSound, "0"},
    {kGeneral, "DisplayStatistics", &LumidropSettings::DisplayStatistics, "0"},
    {kGeneral, "OneSD", &LumidropSettings::OneSD, "0"},
    {kGeneral, "Top", &LumidropSettings::Top, "0"},
    {kGeneral, "Left", &LumidropSettings::Left, "0"},
    {kGeneral, "Height", &LumidropSettings::Height, "0"},
    {kGeneral, "Width", &LumidropSettings::Width, "0"},
    {kGeneral, "CPTop", &LumidropSettings::CPTop, "0"},
    {kGeneral, "CPLeft", &LumidropSettings::CPLeft, "0"},
    {kGeneral, "CPHeight", &LumidropSettings::CPHeight, "0"},
    {kGeneral, "CPWidth", &LumidropSettings::CPWidth, "0"},
    {kGeneral, "VolumeMaximum", &LumidropSettings::VolumeMaximum, "100"},
    {kGeneral, "OpacityMinimum", &LumidropSettings::OpacityMinimum, "0"},
    {kGeneral, "InitialiseLumiDropToMinimumOpacity", &LumidropSettings::InitialiseLumiDropToMinimumOpacity, "0"},
    {kGeneral, "QELTAActive", &LumidropSettings::QELTAActive, "0"},
    {kGeneral, "Email", &LumidropSettings::Email, ""},
    {kMqtt, "DSUid", &LumidropSettings::DSUid, "1"},
    {kMqtt, "ServerPortNumber", &LumidropSettings::ServerPortNumber, "1883"},
    {kMqtt, "ServerAddress", &LumidropSettings::ServerAddress, nullptr},
    {kMqtt, "DebugLevel", &LumidropSettings::DebugLevel, "0"},
    {kMqtt, "PublisherTopic", &LumidropSettings::PublisherTopic, "data"},
    {kMqtt, "SubscriberTopic", &LumidropSettings::SubscriberTopic, "feedback"},
    {kMqtt, "ClientID", &LumidropSettings::ClientID, nullptr},
};

const char* const kLoadOrder[] = {
    "VideoActive", "AudioActive", "UpdateFrequency", "VolumeInhibit", "OpacityInhibit", "AutoFade", "TestMode",
    "ProgressiveFeedback", "InvertSound", "DisplayStatistics", "OneSD", "Top", "Left", "Height", "Width", "CPTop",
    "CPLeft", "CPHeight", "CPWidth", "VolumeMaximum", "OpacityMinimum", "InitialiseLumiDropToMinimumOpacity",
    "QELTAActive", "Email",
    // [MQTT]
    "DSUid", "ServerPortNumber", "ServerAddress", "DebugLevel", "PublisherTopic", "SubscriberTopic", "ClientID"};

// TestMode is read only: the user sets it by hand.
const char* const kSaveOrder[] = {
    "AudioActive", "VideoActive", "UpdateFrequency", "VolumeInhibit", "OpacityInhibit", "AutoFade",
    "ProgressiveFeedback", "InvertSound", "DisplayStatistics", "OneSD", "Top", "Left", "Height", "Width", "CPTop",
    "CPLeft", "CPHeight", "CPWidth", "VolumeMaximum", "OpacityMinimum", "InitialiseLumiDropToMinimumOpacity",
    "QELTAActive", "Email",
    // [MQTT]
    "DSUid", "ServerPortNumber", "DebugLevel", "ServerAddress", "PublisherTopic", "SubscriberTopic", "ClientID"};

const Key* findKey(std::string_view name) {
  for (const Key& k : kKeys) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

// A number as the settings file may hold it: blanks around it, a sign,
// digits and an optional fraction, which rounds to the nearest whole number
// (halves to even). Anything else is not a number.
std::optional<int64_t> parseNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const size_t dot = text.find('.');
  std::string_view whole = text.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  for (char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  for (char c : fraction) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  int64_t value = 0;
  for (char c : whole) {
    value = value * 10 + (c - '0');
    if (value > (int64_t{1} << 40)) return std::nullopt;  // far outside every field
  }
  if (!fraction.empty()) {
    // Compare the fraction with one half, digit by digit.
    int cmp = 0;
    if (fraction[0] > '5') {
      cmp = 1;
    } else if (fraction[0] < '5') {
      cmp = -1;
    } else {
      cmp = fraction.find_first_not_of('0', 1) == std::string_view::npos ? 0 : 1;
    }
    if (cmp > 0 || (cmp == 0 && value % 2 == 1)) ++value;
  }
  return negative ? -value : value;
}

template <typename Int>
bool assignNumber(Int& field, std::string_view text) {
  auto v = parseNumber(text);
  if (!v || *v < std::numeric_limits<Int>::min() || *v > std::numeric_limits<Int>::max()) return false;
  field = static_cast<Int>(*v);
  return true;
}

std::string valueText(const LumidropSettings& s, const Key& key) {
  return std::visit(
      [&s](auto member) -> std::string {
        using T = std::decay_t<decltype(s.*member)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return "\"" + s.*member + "\"";
        } else {
          return ModOptions::numberText(s.*member);
        }
      },
      key.field);
}

}  // namespace

namespace ModOptions {

std::string numberText(int64_t value) { return (value >= 0 ? " " : "") + std::to_string(value); }

std::string readSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                        const std::string& defaultValue) {
  return platform::getPrivateProfileString(section, key, defaultValue, kSettingBufferSize, iniPath);
}

bool writeSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                  const std::string& value) {
  return platform::writePrivateProfileString(section, key, value, iniPath);
}

void loadSettings(LumidropSettings& settings, const std::string& iniPath) {
  // One read of the file serves every key; each key is still looked up
  // and converted by itself.
  const platform::ProfileFile file = platform::ProfileFile::load(iniPath);
  for (const char* name : kLoadOrder) {
    const Key& key = *findKey(name);
    std::string fallback;
    if (key.defaultText) {
      fallback = key.defaultText;
    } else if (key.field == Field(&LumidropSettings::ClientID)) {
      fallback = "C1-" + settings.Email;
    } else {
      fallback = defaultServerAddress();
    }
    const std::string text = file.get(key.section, key.name, fallback, kSettingBufferSize);
    std::visit(
        [&](auto member) {
          auto& field = settings.*member;
          using T = std::decay_t<decltype(field)>;
          if constexpr (std::is_same_v<T, std::string>) {
            field = text;
          } else {
            assignNumber(field, text);
          }
        },
        key.field);
  }
}

bool saveSettings(const LumidropSettings& settings, const std::string& iniPath) {
  platform::ProfileFile file = platform::ProfileFile::load(iniPath);
  for (const char* name : kSaveOrder) {
    const Key& key = *findKey(name);
    file.set(key.section, key.name, valueText(settings, key));
  }
  return file.save();
}

}  // namespace ModOptions

}  // namespace lumidrop
