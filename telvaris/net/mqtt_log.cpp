#include "net/mqtt_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/paths.h"

namespace net::mqttlog {
namespace {

struct LogState {
  std::mutex mutex;  // keeps a line whole and the file in place while it is written
  std::atomic<int32_t> level {0};
  FILE* file = nullptr;

  ~LogState() {
    std::lock_guard lock(mutex);
    if (file) std::fclose(file);
    file = nullptr;
  }
};

LogState& state() {
  static LogState s;
  return s;
}

std::string vformat(const char* fmt, va_list args) {
  va_list again;
  va_copy(again, args);
  char small[256];
  const int needed = std::vsnprintf(small, sizeof small, fmt, args);
  std::string out;
  if (needed < 0) {
    va_end(again);
    return out;
  }
  if (static_cast<size_t>(needed) < sizeof small) {
    out.assign(small, static_cast<size_t>(needed));
  } else {
    out.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, again);
    out.resize(static_cast<size_t>(needed));
  }
  va_end(again);
  return out;
}

}  // namespace

void setLevel(int32_t debugLevel) {
  LogState& s = state();
  std::lock_guard lock(s.mutex);
  s.level = debugLevel;
  if (debugLevel == 0 || s.file) return;
  FILE* f = std::fopen(platform::mapPath(kFile).c_str(), "w");
  if (!f) return;
  std::setvbuf(f, nullptr, _IONBF, 0);
  s.file = f;
}

void line(const char* fmt, ...) noexcept {
  LogState& s = state();
  if (s.level == 0) return;
  std::string text;
  va_list args;
  va_start(args, fmt);
  try {
    text = vformat(fmt, args);
  } catch (...) {
    // No memory to form the line: it is lost, as a failed write would be.
  }
  va_end(args);
  if (text.empty()) return;
  std::lock_guard lock(s.mutex);
  if (s.level == 0 || !s.file) return;
  std::fwrite(text.data(), 1, text.size(), s.file);  // write errors are ignored
}

void prepare() { state(); }

void close() {
  LogState& s = state();
  std::lock_guard lock(s.mutex);
  if (s.file) std::fclose(s.file);
  s.file = nullptr;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = vformat(fmt, args);
  va_end(args);
  return text;
}

}  // namespace net::mqttlog
