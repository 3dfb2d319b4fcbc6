#include "dsu/debug_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"
#include "boundary.h"
#include "serial/comports.h"
#include "telvaris.h"
#include "telvaris_version.h"

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

// False when the stamp could not be made (no memory for its text).
bool writeStamp(FILE* f) noexcept {
  try {
    std::fputs(platform::utcTimeText("[%Y-%m-%d %H:%M:%S] - ").c_str(), f);
    return true;
  } catch (...) {
    return false;
  }
}

void writeLocked(LogState& s, bool stamped, const char* format, va_list args) noexcept {
  if (!s.loggingOn || !s.file) return;
  if (stamped && !writeStamp(s.file)) return;  // the message is dropped whole
  std::vfprintf(s.file, format, args);
  std::fflush(s.file);  // write errors are ignored
}

void writeHeaderLocked(LogState& s) noexcept {
  writeStamp(s.file);
  std::fprintf(s.file, "Telvaris DLL v%d.%d.%d Debug Listing\n", TELVARIS_VERSION_MAJOR, TELVARIS_VERSION_MINOR,
               TELVARIS_VERSION_BUILD);
  writeStamp(s.file);
  std::fprintf(s.file, "Using Telvaris version %d.%d.%d\n", s.callerMajor.load(), s.callerMinor.load(),
               s.callerBuild.load());
  std::fflush(s.file);
}

}  // namespace

bool loggingOn() { return state().loggingOn != 0; }
int32_t debugLevel() { return state().debugLevel; }

void log(const char* format, ...) noexcept {
  LogState& s = state();
  if (!s.loggingOn) return;
  std::lock_guard lock(s.mutex);
  va_list args;
  va_start(args, format);
  writeLocked(s, true, format, args);
  va_end(args);
}

void logMore(const char* format, ...) noexcept {
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

int32_t setDebugMode(int32_t mode, const char* path) {
  LogState& s = state();
  std::lock_guard lock(s.mutex);
  if (mode != 0) {
    if (s.openedByDebugMode) return TLV_LOG_OK;
    if (!path) return TLV_LOG_CANNOT_OPEN;
    const std::string mapped = platform::mapPath(path);  // the one step that may throw
    FILE* f = std::fopen(mapped.c_str(), mode == 1 ? "w" : "a+");
    if (!f) return TLV_LOG_CANNOT_OPEN;
    s.file = f;
    s.openedByDebugMode = 1;
    s.loggingOn = 1;
    writeHeaderLocked(s);
    return TLV_LOG_OK;
  }
  if (s.openedByDebugMode && s.file) {
    std::fclose(s.file);
    s.file = s.autoFile;  // an automatically opened file stays open until unload
  }
  s.openedByDebugMode = 0;
  s.loggingOn = 0;
  return TLV_LOG_OK;
}

void setDebugLevel(int32_t level) { state().debugLevel = level; }

int32_t insertMessage(const char* tag, const char* message) {
  if (!loggingOn()) return TLV_LOG_OFF;
  log("%s: %s\n", tag ? tag : "", message ? message : "");
  return TLV_LOG_OK;
}

void saveCallerVersion(int32_t major, int32_t minor, int32_t build) {
  LogState& s = state();
  s.callerMajor = major;
  s.callerMinor = minor;
  s.callerBuild = build;
}

void reportVersion(int32_t* major, int32_t* minor, int32_t* build) {
  if (major) *major = TELVARIS_VERSION_MAJOR;
  if (minor) *minor = TELVARIS_VERSION_MINOR;
  if (build) *build = TELVARIS_VERSION_BUILD;
}

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL SetDebugMode(int32_t /*reserved*/, int32_t mode, const char* path) {
  return telvaris::atBoundary(int32_t {TLV_LOG_CANNOT_OPEN}, [&] { return dsu::setDebugMode(mode, path); });
}

TLV_API int32_t TLV_CALL SetDebugLevel(int32_t /*reserved*/, int32_t level) {
  dsu::setDebugLevel(level);
  return TLV_LOG_OK;
}

TLV_API int32_t TLV_CALL InsertLogMessage(const char* tag, const char* message) {
  return dsu::insertMessage(tag, message);
}

TLV_API int32_t TLV_CALL ReportVersion(int32_t* major, int32_t* minor, int32_t* build) {
  dsu::reportVersion(major, minor, build);
  return TLV_LOG_OK;
}

TLV_API int32_t TLV_CALL SaveVersionInfo(int32_t major, int32_t minor, int32_t build) {
  dsu::saveCallerVersion(major, minor, build);
  return TLV_LOG_OK;
}

}  // extern "C"
