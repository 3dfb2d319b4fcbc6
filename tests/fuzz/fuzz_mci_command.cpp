// The MCI command interpreter's reading of a command string. What it takes
// names a one-word alias in lower case, a volume of 0 to 1000, and for an
// open a path that stands in the command as written.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/mci_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto command = platform::parseMciCommand(text.c_str());
  if (!command) return 0;
  const std::string& alias = command->alias;
  fuzzsupport::require(!alias.empty(), "an alias is named");
  for (char c : alias) {
    fuzzsupport::require(!std::isspace(static_cast<unsigned char>(c)), "an alias is one word");
    fuzzsupport::require(c == static_cast<char>(std::tolower(static_cast<unsigned char>(c))),
                         "an alias is in lower case");
  }
  fuzzsupport::require(command->volume >= 0 && command->volume <= 1000, "a volume is 0 to 1000");
  if (command->verb == platform::MciCommand::Verb::kOpen) {
    fuzzsupport::require(!command->path.empty() || text.find("\"\"") != std::string::npos, "an open names a file");
    fuzzsupport::require(text.find(command->path) != std::string::npos, "the path is as the command wrote it");
  }
  return 0;
}
