#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace platform {

std::string utcTimeText(const char* format) {
  time_t now = time(nullptr);
  struct tm utc {};
  gmtime_r(&now, &utc);
  char buffer[128];
  size_t n = strftime(buffer, sizeof buffer, format, &utc);
  return std::string(buffer, n);
}

uint32_t tickMs() {
  timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void sleepMs(uint32_t ms) {
  timespec ts {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
