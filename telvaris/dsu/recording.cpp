#include "dsu/recording.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

#include "boundary.h"
#include "dsu/debug_log.h"
#include "dsu/link_settings.h"
#include "dsu/session_state.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "telvaris.h"

namespace dsu {
namespace {

// 9987 minutes would pass the 32-bit main storage size.
constexpr int32_t kMostMinutes = 9986;

struct Recording {
  EpochFilter filter;
  int32_t epochPosition = 0;  // where sequential read-out stands
};

Recording& recording() {
  static Recording r;
  return r;
}

const char* text(const char* s) { return s ? s : ""; }

// A read thread runs with its storage in place (monitor mode may switch).
bool sessionStreaming(const SessionState& s) { return readThreadRunning() && s.memoryStatus == 0; }

// Under the storage lock.
void switchToRecordLocked(SessionState& s) {
  if (s.monitorMode != 1) return;
  s.positions = s.savedPositions;
  s.monitorMode = 0;
}

// Whether the folder of `target` takes a new file (a temporary one).
bool folderTakesNewFiles(const std::string& target) {
  const std::string probe = target + ".telvaris-probe";
  std::error_code ignored;
  if (std::filesystem::exists(probe, ignored)) return true;
  FILE* f = std::fopen(probe.c_str(), "ab");
  if (!f) return false;
  std::fclose(f);
  std::filesystem::remove(probe, ignored);
  return true;
}

bool writeInPlace(const std::string& target, std::string_view bytes) {
  FILE* f = std::fopen(target.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

// A CSV line's numbers, written without the locale's say.
class LineWriter {
 public:
  void number(int32_t value) { at_ = std::to_chars(at_, line_ + sizeof line_, value).ptr; }
  void put(char c) { *at_++ = c; }
  bool flush(FILE* f) {
    const size_t n = static_cast<size_t>(at_ - line_);
    at_ = line_;
    return std::fwrite(line_, 1, n, f) == n;
  }

 private:
  char line_[64 * 12];  // 35 numbers of at most 11 characters and their commas
  char* at_ = line_;
};

}  // namespace

float EpochFilter::step(float x) {
  // The history is kept in single precision, the sums are formed in double:
  // the poles sit within 1e-6 of the unit circle, and single-precision sums
  // move the response by ten percent in the pass band and more at its edges.
  for (int i = 0; i < 6; ++i) x_[i] = x_[i + 1];
  x_[6] = static_cast<float>(x / 38.44098);
  for (int i = 0; i < 6; ++i) y_[i] = y_[i + 1];
  const double y = (double {x_[6]} - x_[0]) + 3.0 * (double {x_[2]} - x_[4]) - 0.2263948293 * y_[0] +
                   1.6807888085 * y_[1] - 5.2437753252 * y_[2] + 8.905345974 * y_[3] - 8.6704834651 * y_[4] +
                   4.5545184355 * y_[5];
  y_[6] = static_cast<float>(y);
  return y_[6];
}

int32_t setRecordingLength(int32_t minutes) {
  if (minutes < 1 || minutes > kMostMinutes) {
    log("Recording length of %d minutes refused\n", minutes);
    return TLV_RECORDING_BAD_LENGTH;
  }
  log("Setting recording length to %d minutes\n", minutes);
  SessionState& s = sessionState();
  s.memorySize = minutes * kBytesPerMinute;
  s.numberOfElements = minutes * kPacketsPerMinute;
  log("Memory Size=%d\n", s.memorySize.load());
  log("NumberofElements=%d\n", s.numberOfElements.load());
  return TLV_RECORDING_OK;
}

int32_t monitorMode(int32_t mode) {
  SessionState& s = sessionState();
  switch (mode) {
    case 1: {
      log("Allocating 'Monitor' storage: %d\n", kMonitorStorageSize);
      std::lock_guard lock(s.storageMutex);
      if (s.monitorStorage) return TLV_MONITOR_OK;  // one block, however often it is asked for
      s.monitorStorage = static_cast<uint8_t*>(std::calloc(kMonitorStorageSize, 1));
      if (!s.monitorStorage) {
        setStatus(kAllocationFailure);
        log("Failed to allocate 'Monitor' memory\n");
        return TLV_MONITOR_REFUSED;
      }
      return TLV_MONITOR_OK;
    }
    case 2: {
      log("'Monitor' storage released\n");
      std::lock_guard lock(s.storageMutex);
      if (s.monitorMode == 1) {
        // Bytes must not go on landing in a freed block.
        log("Setting 'Record' Mode\n");
        switchToRecordLocked(s);
      }
      std::free(s.monitorStorage);
      s.monitorStorage = nullptr;
      return TLV_MONITOR_OK;
    }
    case 3: {
      log("Setting 'Monitor' Mode\n");
      std::lock_guard lock(s.storageMutex);
      if (!s.monitorStorage) {
        log("No 'Monitor' storage allocated - mode unchanged\n");
        return TLV_MONITOR_REFUSED;
      }
      if (!sessionStreaming(s)) {
        log("No session running - mode unchanged\n");
        return TLV_MONITOR_REFUSED;
      }
      // Switching again only starts the monitor storage afresh: the saved
      // positions stay main storage's.
      if (s.monitorMode == 0) s.savedPositions = s.positions;
      s.positions = StoragePositions {s.monitorStorage, 0, 0, kMonitorStorageSize};
      s.monitorMode = 1;
      return TLV_MONITOR_OK;
    }
    case 4: {
      log("Setting 'Record' Mode\n");
      std::lock_guard lock(s.storageMutex);
      if (!sessionStreaming(s)) {
        log("No session running - mode unchanged\n");
        return TLV_MONITOR_REFUSED;
      }
      switchToRecordLocked(s);
      return TLV_MONITOR_OK;
    }
    default:
      log("Unknown mode for MONITORMODE: %d\n", mode);
      return TLV_MONITOR_OK;
  }
}

bool writeSessionFile(const uint8_t* bytes, size_t count, const char* path) {
  bool written = false;
  if (path && (bytes || count == 0)) {
    const std::string target = platform::mapPath(path);
    const std::string_view data(reinterpret_cast<const char*>(bytes), count);
    if (platform::replaceFileAtomically(target, data)) {
      written = true;
    } else if (!folderTakesNewFiles(target)) {
      written = writeInPlace(target, data);
    }
  }
  if (written) {
    log("Session data (%d bytes) written to %s\n", static_cast<int>(count), text(path));
  } else {
    log("Failed to write session data to %s\n", text(path));
  }
  return written;
}

int32_t loadSession(const char* path) {
  SessionState& s = sessionState();
  if (readThreadRunning()) {
    log("Cannot load %s while a session is running\n", text(path));
    return TLV_LOAD_SESSION_RUNNING;
  }
  joinFinishedThread();
  s.tally.packetsDecoded = 0;
  s.tally.positioningErrors = 0;
  log("Preparing to open %s\n", text(path));
  FILE* f = path ? std::fopen(platform::mapPath(path).c_str(), "rb") : nullptr;
  if (!f) {
    log("Failed to open file\n");
    return TLV_LOAD_CANNOT_OPEN;
  }
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::rewind(f);
  if (size < 0 || size >= std::numeric_limits<int32_t>::max()) {
    std::fclose(f);
    return size < 0 ? TLV_LOAD_SHORT_READ : TLV_LOAD_NO_MEMORY;
  }
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size) + 1));
  if (!block) {
    std::fclose(f);
    setStatus(kAllocationFailure);
    log("Failed to allocate memory\n");
    return TLV_LOAD_NO_MEMORY;
  }
  log("Filesize = %d\n", static_cast<int>(size));
  const size_t got = std::fread(block, 1, static_cast<size_t>(size), f);
  std::fclose(f);
  if (got < static_cast<size_t>(size)) {
    std::free(block);
    return TLV_LOAD_SHORT_READ;
  }

  // An earlier session's or load's storage goes before this one's comes.
  releaseSessionStorage();
  if (!s.store.allocate(s.numberOfElements)) {
    setStatus(kAllocationFailure);
    std::free(block);
    log("Freed main storage\n");
    return TLV_LOAD_NO_MEMORY;
  }
  ByteRun run {block, 0, static_cast<size_t>(size)};
  decodeP3(run, linkSettings().packetLength, s.store, s.tally, s.buttonRequest);
  std::free(block);
  const int32_t packets = s.tally.packetsDecoded;
  const int64_t skipped = int64_t {size} - int64_t {packets} * linkSettings().packetLength;
  log("Packets=%d, Errors=%d, Skipped=%d\n", packets, s.tally.positioningErrors.load(), static_cast<int>(skipped));
  // A loaded session is whole: an earlier session's overflow is not its own.
  s.outOfMemoryFlag = 0;
  setStatus(kSystemOk);
  return TLV_LOAD_OK;
}

int32_t cleanUpLoadedSession() {
  if (readThreadRunning()) {
    log("Decoded packets in use by the running session - not released\n");
    return TLV_LOAD_SESSION_RUNNING;
  }
  sessionState().store.release();
  return TLV_LOAD_OK;
}

int32_t exportToCsv(const char* sessionPath, const char* csvPath) {
  log("Writing session file %s to CSV file %s\n", text(sessionPath), text(csvPath));
  const int32_t loaded = loadSession(sessionPath);
  if (loaded != TLV_LOAD_OK) return loaded;
  FILE* f = csvPath ? std::fopen(platform::mapPath(csvPath).c_str(), "w") : nullptr;
  if (!f) {
    log("Failed to open %s\n", text(csvPath));
    return TLV_EXPORT_CANNOT_WRITE;
  }
  bool ok = std::fputs("Line #,PacketCounter,AuxByte", f) >= 0;
  for (int32_t c = 0; c < kP3Channels; ++c) ok = ok && std::fprintf(f, ",Channel%d", c) > 0;
  ok = ok && std::fputc('\n', f) != EOF;
  DecodedStore& store = sessionState().store;
  store.readIndex = 0;
  const int32_t packets = store.writeIndex;
  LineWriter line;
  for (int32_t i = 0; i < packets && ok; ++i) {
    line.number(i + 1);
    for (int32_t slot = 0; slot < kP3Slots; ++slot) {
      line.put(',');
      line.number(store.slots[static_cast<size_t>(slot)][i]);
    }
    line.put('\n');
    ok = line.flush(f);
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    // A CSV file cut short is no export.
    log("Failed to write %s\n", text(csvPath));
    return TLV_EXPORT_CANNOT_WRITE;
  }
  log("%d records written to %s\n", packets, text(csvPath));
  cleanUpLoadedSession();
  return TLV_EXPORT_OK;
}

int32_t getEpoch(int32_t channel, int32_t* values, int32_t epochs, int32_t sequential, int32_t raw) {
  SessionState& s = sessionState();
  Recording& r = recording();
  if (s.dsuStatus != kSystemOk) return TLV_EPOCH_NOT_RUNNING;
  const int32_t w = s.store.writeIndex.load(std::memory_order_acquire);
  const int64_t samples = int64_t {epochs} * 256;  // no 32-bit overflow for any epochs
  if (sequential == 0) {
    const int64_t from = int64_t {w} - samples;
    if (from < 0) return TLV_EPOCH_NOT_ENOUGH_DATA;
    r.epochPosition = static_cast<int32_t>(std::min<int64_t>(from, w));
  } else {
    if (r.epochPosition > w || r.epochPosition < 0) r.epochPosition = 0;
    // The whole request must lie in the decoded packets (at least one epoch).
    if (int64_t {r.epochPosition} + std::max<int64_t>(samples, 256) > w) return TLV_EPOCH_NOT_ENOUGH_DATA;
  }
  log("GetEpoch from %d to %d\n", r.epochPosition, w);
  if (samples <= 0) return TLV_EPOCH_OK;
  if (channel < 0 || channel > 7) {
    log("Unknown channel: %d\n", channel);
    return TLV_EPOCH_UNKNOWN_CHANNEL;
  }
  if (!values) return TLV_EPOCH_BAD_ARGUMENT;
  const int32_t* data = s.store.slots[2 + static_cast<size_t>(channel)];
  for (int64_t i = 0; i < samples; ++i) {
    const int32_t x = data[r.epochPosition++];
    if (raw == 1) {
      values[i] = x;
    } else {
      const float y = r.filter.step(static_cast<float>(x));
      // Truncated toward zero; a value beyond int32 (never seen from a
      // stable filter of 11-bit samples) is held at its end.
      values[i] = std::isfinite(y) && std::fabs(y) < 2.1e9f ? static_cast<int32_t>(y) : (y < 0 ? INT32_MIN : INT32_MAX);
    }
  }
  return TLV_EPOCH_OK;
}

int32_t positioningErrors() { return sessionState().tally.positioningErrors.load(std::memory_order_relaxed); }

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL SetRecordingLength(int32_t minutes) { return dsu::setRecordingLength(minutes); }

TLV_API int32_t TLV_CALL MonitorMode(int32_t mode) { return dsu::monitorMode(mode); }

TLV_API int32_t TLV_CALL LoadSession(const char* path) {
  return telvaris::atBoundary(int32_t {TLV_LOAD_NO_MEMORY}, [&] { return dsu::loadSession(path); });
}

TLV_API int32_t TLV_CALL CleanUpLoadedSession(void) { return dsu::cleanUpLoadedSession(); }

TLV_API int32_t TLV_CALL ExportToCSV(const char* sessionPath, const char* csvPath) {
  return telvaris::atBoundary(int32_t {TLV_LOAD_NO_MEMORY}, [&] { return dsu::exportToCsv(sessionPath, csvPath); });
}

TLV_API int32_t TLV_CALL GetEpoch(int32_t /*reserved*/, int32_t channel, int32_t* values, int32_t epochs,
                                  int32_t sequential, int32_t raw) {
  return dsu::getEpoch(channel, values, epochs, sequential, raw);
}

TLV_API int32_t TLV_CALL PositioningErrors(int32_t /*reserved*/) { return dsu::positioningErrors(); }

}  // extern "C"
