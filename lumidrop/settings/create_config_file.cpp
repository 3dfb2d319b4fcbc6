#include "settings/create_config_file.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/paths.h"

namespace lumidrop {

std::string remoteConfText(const LumidropSettings& s) {
  return "PORT=" + std::to_string(s.ServerPortNumber) + "\r\n" +                //
         "DEBUG_LEVEL=" + std::to_string(s.DebugLevel) + "\r\n" +               //
         "MQTT_ADDRESS=" + s.ServerAddress + "\r\n" +                           //
         "CLIENT_ID=" + s.ClientID + "\r\n" +                                   //
         "SUBSCRIBER_TOPIC=" + s.SubscriberTopic + "\r\n";
}

void CreateConfigFile(LumidropSettings& settings, const std::string& programFolder) {
  const std::string path = platform::joinPath(programFolder, kRemoteConfFileName);
  if (platform::fileExists(path)) return;

  settings.ServerPortNumber = 1883;
  settings.DebugLevel = 0;
  settings.ServerAddress = defaultServerAddress();
  settings.ClientID = "C1-" + settings.Email;
  settings.SubscriberTopic = "/pelorvantis/" + settings.Email + "/feedback";

  if (!platform::replaceFileAtomically(path, remoteConfText(settings))) {
    std::fprintf(stderr, "lumidropRemote: cannot create %s; going on with the default remote settings\n",
                 path.c_str());
  }
}

}  // namespace lumidrop
