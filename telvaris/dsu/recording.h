// Recording: the recording length, monitor mode (streaming into a
// throw-away store so that the recording is not extended), session files
// (writing, loading, CSV export) and the epoch read-out with its band
// filter. telvaris.h lists each export's results.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dsu {

// 1 to 9986 minutes (main storage: minutes x 215040 bytes, which must stay
// below 2^31; decoded packets: minutes x 15360); from the next session or
// load on.
int32_t setRecordingLength(int32_t minutes);
int32_t monitorMode(int32_t mode);

// The session file: exactly `count` bytes of `bytes`. Written to a
// temporary file beside `path` that then takes its name, so a failure
// leaves an older file whole; in place where the folder takes no new file.
// Logs the outcome. False when it could not be written.
bool writeSessionFile(const uint8_t* bytes, size_t count, const char* path);

int32_t loadSession(const char* path);
int32_t cleanUpLoadedSession();
int32_t exportToCsv(const char* sessionPath, const char* csvPath);
int32_t getEpoch(int32_t channel, int32_t* values, int32_t epochs, int32_t sequential, int32_t raw);
// The decoder's resynchronisations since the last load (sessions add to them).
int32_t positioningErrors();

// The epoch filter: a sixth-order band-pass (about 0.5 to 30 Hz at 256
// samples a second, unit gain in its pass band), one step per sample, its
// seven inputs and outputs kept in single precision. GetEpoch uses one for
// the whole library, never reset.
class EpochFilter {
 public:
  float step(float x);

 private:
  float x_[7] = {};
  float y_[7] = {};
};

}  // namespace dsu
