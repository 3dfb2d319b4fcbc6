// One MCI command string read into what it asks for, before any device is
// touched: the interpreter (mci.h) carries out what this reads, and refuses
// what it does not.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct MciCommand {
  enum class Verb { kOpen, kPlay, kPause, kResume, kSetVolume, kClose };
  Verb verb = Verb::kClose;
  std::string alias;    // in lower case
  std::string path;     // open: the file as written, without enclosing double quotes
  bool repeat = false;  // play ... repeat
  int volume = 0;       // setaudio: 0..1000
};

// The command in `text` (the forms of mci.h; words are separated by white
// space, keywords and aliases compared without regard to case), or nothing
// for any other text, NULL included.
std::optional<MciCommand> parseMciCommand(const char* text);

// The alias a status query names: one word, in lower case; nothing for any
// other text, NULL included.
std::optional<std::string> parseMciAlias(const char* text);

}  // namespace platform
