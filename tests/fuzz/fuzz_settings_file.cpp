// The settings file reader: lumidrop.ini as a user or an editor may leave
// it. Whatever the file holds, loading it and saving the settings back must
// lose nothing: a second load and save writes the very same file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "settings/mod_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using lumidrop::LumidropSettings;
  namespace options = lumidrop::ModOptions;
  static const std::string path = fuzzsupport::scratchFile("lumidrop.ini");
  fuzzsupport::writeFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

  LumidropSettings first;
  options::loadSettings(first, path);
  fuzzsupport::require(options::saveSettings(first, path), "the settings can be saved");
  const std::string once = fuzzsupport::readFile(path);

  LumidropSettings second;
  options::loadSettings(second, path);
  fuzzsupport::require(options::saveSettings(second, path), "the settings can be saved again");
  fuzzsupport::require(fuzzsupport::readFile(path) == once, "a load of a saved file gives back what was saved");
  return 0;
}
