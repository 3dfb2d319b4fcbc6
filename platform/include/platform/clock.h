// Wall-clock time stamps, the millisecond tick and sleeping.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The current time in UTC formatted with strftime-style `format`.
std::string utcTimeText(const char* format);

// Milliseconds since an arbitrary start (boot), wrapping at 2^32 like the
// Windows tick count. Differences of two ticks stay right across the wrap.
uint32_t tickMs();

void sleepMs(uint32_t ms);

}  // namespace platform
