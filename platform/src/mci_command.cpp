#include "platform/mci_command.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace platform {
namespace {

struct Word {
  std::string lower;
  size_t begin, end;  // in the command string
};

std::vector<Word> words(std::string_view text) {
  std::vector<Word> out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i == text.size()) break;
    const size_t begin = i;
    while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    Word w {std::string(text.substr(begin, i - begin)), begin, i};
    for (char& c : w.lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.push_back(std::move(w));
  }
  return out;
}

// "open <path> type mpegvideo alias <alias>": the path may hold spaces, and
// may stand in double quotes.
std::optional<MciCommand> openCommand(std::string_view text, const std::vector<Word>& w) {
  const size_t n = w.size();
  if (n < 6 || w[n - 2].lower != "alias" || w[n - 4].lower != "type" || w[n - 3].lower != "mpegvideo") {
    return std::nullopt;
  }
  MciCommand c;
  c.verb = MciCommand::Verb::kOpen;
  c.alias = w[n - 1].lower;
  c.path = std::string(text.substr(w[1].begin, w[n - 5].end - w[1].begin));
  if (c.path.size() >= 2 && c.path.front() == '"' && c.path.back() == '"') c.path = c.path.substr(1, c.path.size() - 2);
  return c;
}

}  // namespace

std::optional<MciCommand> parseMciCommand(const char* text) {
  if (!text) return std::nullopt;
  const std::string_view command(text);
  const std::vector<Word> w = words(command);
  if (w.size() < 2) return std::nullopt;
  const std::string& verb = w[0].lower;
  if (verb == "open") return openCommand(command, w);

  MciCommand c;
  c.alias = w[1].lower;
  if (verb == "play" && (w.size() == 2 || (w.size() == 3 && w[2].lower == "repeat"))) {
    c.verb = MciCommand::Verb::kPlay;
    c.repeat = w.size() == 3;
    return c;
  }
  if ((verb == "pause" || verb == "resume" || verb == "close") && w.size() == 2) {
    c.verb = verb == "pause"    ? MciCommand::Verb::kPause
             : verb == "resume" ? MciCommand::Verb::kResume
                                : MciCommand::Verb::kClose;
    return c;
  }
  if (verb == "setaudio" && w.size() == 5 && w[2].lower == "volume" && w[3].lower == "to") {
    const std::string& value = w[4].lower;
    if (value.empty() || value.size() > 4) return std::nullopt;
    int level = 0;
    for (char digit : value) {
      if (!std::isdigit(static_cast<unsigned char>(digit))) return std::nullopt;
      level = level * 10 + (digit - '0');
    }
    if (level > 1000) return std::nullopt;
    c.verb = MciCommand::Verb::kSetVolume;
    c.volume = level;
    return c;
  }
  return std::nullopt;
}

std::optional<std::string> parseMciAlias(const char* text) {
  if (!text) return std::nullopt;
  const std::vector<Word> w = words(text);
  if (w.size() != 1) return std::nullopt;
  return w[0].lower;
}

}  // namespace platform
