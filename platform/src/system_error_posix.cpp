#include <errno.h>
#include <string.h>

#include <cstdio>

#include "platform/system_error.h"

namespace platform {

int lastSystemError() { return errno; }

int fileNotFoundError() { return ENOENT; }

std::string systemErrorText(int error) {
  // The serial layer's callers look for the Windows wording of a missing
  // device, so that one text is the same on every platform.
  if (error == ENOENT) return "The system cannot find the file specified.\r\n";
  char buffer[256];
  const char* text = strerror_r(error, buffer, sizeof buffer);  // GNU variant
  return std::string(text) + ".\r\n";
}

void showMessage(const std::string& text, const std::string& title) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

}  // namespace platform
