#include "dsu/debug_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace dsu {
namespace {

// The read thread and the caller's thread both log; one lock per message
// keeps a line whole and keeps a close from pulling the file away mid-write.
struct LogState {
  std::mutex mutex;
  FILE* file = nullptr;      // where messages go
  FILE* autoFile = nullptr;  // opened at session start; stays open until unload
  std::atomic<int32_t> loggingOn {0};
  std::atomic<int32_t> openedByDebugMode {0};
  std::atomic<int32_t> debugLevel {1};
  std::atomic<int32_t> callerMajor {0}, callerMinor {0}, callerBuild {0};

  ~LogState() {
    // Library unload: every open file is flushed and closed.
    std::lock_guard lock(mutex);
    if (file && file != autoFile) std::fclose(file);
    if (autoFile) std::fclose(autoFile);
    file = autoFile = nullptr;
  }
};

LogState& state() {
  static LogState s;
  return s;
}

void writeStamp(FILE* f) {
  std::fputs(platform::utcTimeText("[%Y-%m-%d %H:%M:%S] - ").c_str(), f);
}

void writeLocked(LogState& s, bool stamped, const char* format, va_list args) {
  if (!s.loggingOn || !s.file) return;
  if (stamped) writeStamp(s.file);
  std::vfprintf(s.file, format, args);
  std::fflush(s.file);  // write errors are ignored
}

void writeHeaderLocked(LogState& s) {
  writeStamp(s.file);
  std::fprintf(s.file, "Telvaris DLL v%d.%d.%d Debug Listing\n", kVersionMajor, kVersionMinor, kVersionBuild);
  writeStamp(s.file);
  std::fprintf(s.file, "Using Telvaris version %d.%d.%d\n", s.callerMajor.load(), s.callerMinor.load(),
               s.callerBuild.load());
  std::fflush(s.file);
}

}  // namespace

bool loggingOn() { return state().loggingOn != 0; }
int32_t debugLevel() { return state().debugLevel; }

void log(const char* format, ...) {
  LogState& s = state();
  if (!s.loggingOn) return;
  std::lock_guard lock(s.mutex);
  va_list args;
  va_start(args, format);
  writeLocked(s, true, format, args);
  va_end(args);
}

void logMore(const char* format, ...) {
  LogState& s = state();
  if (!s.loggingOn) return;
  std::lock_guard lock(s.mutex);
  va_list args;
  va_start(args, format);
  writeLocked(s, false, format, args);
  va_end(args);
}

void startLogIfPresent() {
  LogState& s = state();
  const std::string path = platform::mapPath(kAutoLogFile);
  FILE* probe = std::fopen(path.c_str(), "r");
  if (!probe) return;
  std::fclose(probe);
  std::lock_guard lock(s.mutex);
  // A file the caller chose with SetDebugMode keeps the messages.
  if (s.openedByDebugMode) return;
  if (s.autoFile) {
    // A later session in this process empties the same file again.
    if (s.file == s.autoFile) s.file = nullptr;
    std::fclose(s.autoFile);
    s.autoFile = nullptr;
  }
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return;  // logging stays off
  s.autoFile = s.file = f;
  s.loggingOn = 1;
  writeHeaderLocked(s);
}

int32_t reportError(int32_t code) {
  if (code >= 0 || !loggingOn()) return code;
  if (code == comports::kSystemError) {
    char text[81];
    const int32_t error = comports::PortSystemErrorText(text, sizeof text);
    log("Windows Error %d: %s\n", error, text);
  } else {
    log("Errorcheck code=%d\n", code);
  }
  return code;
}

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL SetDebugMode(int32_t /*reserved*/, int32_t mode, const char* path) {
  dsu::LogState& s = dsu::state();
  std::lock_guard lock(s.mutex);
  if (mode != 0) {
    if (s.openedByDebugMode) return 0;
    if (!path) return -1;
    const std::string mapped = platform::mapPath(path);
    FILE* f = std::fopen(mapped.c_str(), mode == 1 ? "w" : "a+");
    if (!f) return -1;
    s.file = f;
    s.openedByDebugMode = 1;
    s.loggingOn = 1;
    dsu::writeHeaderLocked(s);
    return 0;
  }
  if (s.openedByDebugMode && s.file) {
    std::fclose(s.file);
    s.file = s.autoFile;  // an automatically opened file stays open until unload
  }
  s.openedByDebugMode = 0;
  s.loggingOn = 0;
  return 0;
}

TLV_API int32_t TLV_CALL SetDebugLevel(int32_t /*reserved*/, int32_t level) {
  dsu::state().debugLevel = level;
  return 0;
}

TLV_API int32_t TLV_CALL InsertLogMessage(const char* tag, const char* message) {
  if (!dsu::loggingOn()) return 1;
  dsu::log("%s: %s\n", tag ? tag : "", message ? message : "");
  return 0;
}

TLV_API int32_t TLV_CALL ReportVersion(int32_t* major, int32_t* minor, int32_t* build) {
  if (major) *major = dsu::kVersionMajor;
  if (minor) *minor = dsu::kVersionMinor;
  if (build) *build = dsu::kVersionBuild;
  return 0;
}

TLV_API int32_t TLV_CALL SaveVersionInfo(int32_t major, int32_t minor, int32_t build) {
  dsu::LogState& s = dsu::state();
  s.callerMajor = major;
  s.callerMinor = minor;
  s.callerBuild = build;
  return 0;
}

}  // extern "C"
