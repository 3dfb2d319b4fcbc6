// MCI command strings: mciSendStringA on Windows; here a small interpreter
// of the strings the MP3 player sends, over GStreamer's playbin.
//
// Understood, with keywords and aliases compared without regard to case:
//   open <path> type mpegvideo alias <alias>   loads the file, paused at its start
//   play <alias> [repeat]                      plays; with repeat, loops for ever
//   pause <alias>                              pauses where it is
//   resume <alias>                             plays on after a pause
//   setaudio <alias> volume to <0..1000>       sets the volume (1000: full)
//   close <alias>                              stops and forgets the alias
// A path with a drive letter is mapped as every fixed file is (paths.h).
// Anything else, an alias that is not open and an alias opened twice are
// errors, as MCI has them; errors change nothing.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// What an alias's device is doing, for diagnostics and tests.
struct MciStatus {
  enum class State { kNull, kReady, kPaused, kPlaying };
  bool open = false;             // the alias is open; the rest holds only then
  State state = State::kNull;    // the media pipeline's current state
  State pending = State::kNull;  // where it is going, when a change is under way; else kNull
  int volume = 0;                // 0..1000
};

class Mci {
 public:
  virtual ~Mci() = default;
  // Carries out one command string; false on any error. Safe from any
  // thread; one string at a time.
  virtual bool sendString(const char* command) = 0;
  virtual MciStatus status(const char* alias) = 0;
};

// The process's media device interpreter. Never null: when the media
// framework cannot start, every string is an error.
std::unique_ptr<Mci> makeMci();

}  // namespace platform
