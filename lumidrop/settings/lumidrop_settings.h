// The fading program's settings record: one field per key of lumidrop.ini,
// named as the key, but for "CAFile", which the link reads by itself
// (settings/mod_options.h). Every field starts at 0 or empty; loadSettings
// fills it in.
#pragma once

#include <cstdint>
#include <string>

namespace lumidrop {

// The relay service's broker, which a first run connects to.
inline constexpr const char* kRelayBrokerHost = "broker.pelorvantis.com";
// "tcp://" followed by the host: the default of "ServerAddress".
std::string defaultServerAddress();

struct LumidropSettings {
  // [General]
  int16_t AudioActive = 0;
  int16_t VideoActive = 0;
  int16_t UpdateFrequency = 0;
  int32_t VolumeInhibit = 0;
  int16_t OpacityInhibit = 0;
  int16_t AutoFade = 0;
  int16_t TestMode = 0;
  int16_t ProgressiveFeedback = 0;
  int16_t InvertSound = 0;
  int16_t DisplayStatistics = 0;
  int16_t OneSD = 0;
  int16_t Top = 0;
  int16_t Left = 0;
  int16_t Height = 0;
  int16_t Width = 0;
  int16_t CPTop = 0;
  int16_t CPLeft = 0;
  int16_t CPHeight = 0;
  int16_t CPWidth = 0;
  int16_t VolumeMaximum = 0;
  int16_t OpacityMinimum = 0;
  int16_t InitialiseLumiDropToMinimumOpacity = 0;
  int16_t QELTAActive = 0;
  std::string Email;
  // [MQTT]
  int32_t DSUid = 0;
  int32_t ServerPortNumber = 0;
  std::string ServerAddress;
  int32_t DebugLevel = 0;
  std::string PublisherTopic;
  std::string SubscriberTopic;
  std::string ClientID;
};

}  // namespace lumidrop
