// MCI command strings as Windows has them: mciSendStringA itself, with no
// return buffer and no callback window, as the MP3 player sends them.
//
// status() asks MCI the alias's mode and volume. MCI reports a state once
// it is reached, so nothing is ever pending; a device that does not keep a
// volume (or will not say it) reports 0.
#include <windows.h>

#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/mci.h"

namespace platform {
namespace {

// One "status" query's answer; false when MCI refused it.
bool ask(const std::string& command, std::string& answer) {
  char text[128] = {};
  if (mciSendStringA(command.c_str(), text, sizeof text, nullptr) != 0) return false;
  answer = text;
  return true;
}

class WindowsMci : public Mci {
 public:
  bool sendString(const char* command) override {
    return command && mciSendStringA(command, nullptr, 0, nullptr) == 0;
  }

  MciStatus status(const char* alias) override {
    MciStatus s;
    std::string mode;
    if (!alias || !ask(std::string("status ") + alias + " mode", mode)) return s;
    s.open = true;
    if (_stricmp(mode.c_str(), "playing") == 0) {
      s.state = MciStatus::State::kPlaying;
    } else if (_stricmp(mode.c_str(), "paused") == 0) {
      s.state = MciStatus::State::kPaused;
    } else if (_stricmp(mode.c_str(), "not ready") != 0) {
      s.state = MciStatus::State::kReady;  // stopped, seeking, open
    }
    std::string volume;
    if (ask(std::string("status ") + alias + " volume", volume)) s.volume = std::atoi(volume.c_str());
    return s;
  }
};

}  // namespace

std::unique_ptr<Mci> makeMci() { return std::make_unique<WindowsMci>(); }

}  // namespace platform
