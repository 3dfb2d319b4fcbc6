#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace platform {

std::string utcTimeText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm utc {};
  gmtime_s(&utc, &now);
  char buffer[128];
  const size_t n = std::strftime(buffer, sizeof buffer, format, &utc);
  return std::string(buffer, n);
}

uint32_t tickMs() { return GetTickCount(); }

void sleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace platform
