// Command-line options "--name N" (whole numbers) for measurement programs.
#pragma once

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace benchutil {

struct IntOption {
  const char* name;
  int* value;
};

// Sets each known option's integer from the word after its name; other
// words are passed over.
inline void readIntOptions(int argc, char** argv, std::initializer_list<IntOption> known) {
  for (int i = 1; i + 1 < argc; i += 2) {
    for (const IntOption& option : known) {
      if (std::strcmp(argv[i], option.name) == 0) *option.value = std::atoi(argv[i + 1]);
    }
  }
}

}  // namespace benchutil
