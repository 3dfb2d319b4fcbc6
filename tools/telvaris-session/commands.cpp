#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

#include "plot.h"

namespace session_tool {

std::atomic<bool> g_stopRequested {false};

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char buffer[512];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  return buffer;
}

// "12.5 s", or "1:02:03.5" from a minute on.
std::string duration(double seconds) {
  if (seconds < 60) return format("%.1f s", seconds);
  const long whole = static_cast<long>(seconds);
  return format("%ld:%02ld:%04.1f", whole / 3600, whole / 60 % 60, seconds - static_cast<double>(whole / 60 * 60));
}

// A line that follows long work: on a terminal it is rewritten in place;
// elsewhere (a log, a pipe) a line is written every `every` seconds.
class ProgressLine {
 public:
  explicit ProgressLine(double every) : terminal_(isatty(STDOUT_FILENO) == 1), every_(every) {}
  ~ProgressLine() { done(); }
  void show(const std::string& text) {
    if (terminal_) {
      std::printf("\r\033[K%s", text.c_str());
      std::fflush(stdout);
      shown_ = true;
    } else if (!started_ || secondsSince(last_) >= every_) {
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
      last_ = Clock::now();
      started_ = true;
    }
  }
  void done() {
    if (shown_) std::printf("\r\033[K");
    std::fflush(stdout);
    shown_ = false;
  }

 private:
  bool terminal_;
  double every_;
  bool shown_ = false, started_ = false;
  Clock::time_point last_ = Clock::now();
};

// Room in the decoded store for every packet `bytes` can hold.
int minutesFor(uintmax_t bytes, int length) {
  const double packets = static_cast<double>(bytes) / length + 1;
  return static_cast<int>(std::clamp(std::ceil(packets / 15360.0), 1.0, 9986.0));
}

// The session file can be read; its size. Otherwise reports why and
// returns false.
bool readableSession(const std::string& path, uintmax_t& size, int& status) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    status = fail(path + " is a folder, not a session file");
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    status = fail("cannot read " + path + ": " + std::strerror(errno));
    return false;
  }
  std::fclose(f);
  size = fs::file_size(path, error);
  if (error) {
    status = fail("cannot read " + path + ": " + error.message());
    return false;
  }
  return true;
}

// A new file can go to `path`: its folder is there; a failure reported.
bool folderThere(const std::string& path, int& status) {
  const fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  if (folder.empty() || fs::is_directory(folder, error)) return true;
  status = fail("cannot write " + path + ": no folder " + folder.string());
  return false;
}

// LoadSession with room for the whole file; a failure reported.
bool loadSession(TelvarisLibrary& t, const Options& o, const std::string& path, uintmax_t size, int& status) {
  t.SetDSUPacketLength(0, o.length);
  t.SetRecordingLength(minutesFor(size, o.length));
  const int32_t loaded = t.LoadSession(path.c_str());
  if (loaded == TLV_LOAD_OK) return true;
  if (loaded == TLV_LOAD_NO_MEMORY)
    status = fail(format("not enough memory to load %s (%ju bytes)", path.c_str(), size));
  else
    status = fail(format("cannot read %s (LoadSession %d)", path.c_str(), loaded));
  return false;
}

std::string roadName(const Options& o) {
  switch (o.road) {
    case Road::kSerial:
      return format("COM%d", o.com);
    case Road::kTcp:
      return format("tcp %s:%d", o.tcpHost.c_str(), o.tcpPort);
    case Road::kMqtt:
      return format("mqtt %s:%d", o.brokerAddress.c_str(), o.brokerPort);
    case Road::kRelay:
      return format("relay %s:%d", o.brokerAddress.c_str(), o.brokerPort);
    default:
      return "?";
  }
}

// Packets a second over the last two seconds.
class PacketRate {
 public:
  double add(double t, int32_t packets) {
    samples_.emplace_back(t, packets);
    while (samples_.size() > 2 && t - samples_[1].first >= 2.0) samples_.pop_front();
    const auto& [t0, p0] = samples_.front();
    return t > t0 ? (packets - p0) / (t - t0) : 0.0;
  }

 private:
  std::deque<std::pair<double, int32_t>> samples_;
};

// The storage stays with the library until it is saved: another path is
// tried when the first cannot be written.
bool saveSession(TelvarisLibrary& t, const std::string& path, std::string& savedTo) {
  if (t.TerminateDSU(0, 1, path.c_str()) == TLV_TERMINATE_OK) {
    savedTo = path;
    return true;
  }
  const std::string name = format("telvaris-session-%d.session", static_cast<int>(getpid()));
  for (const std::string& other : {(fs::temp_directory_path() / name).string(), name}) {
    if (t.TerminateDSU(0, 1, other.c_str()) == TLV_TERMINATE_OK) {
      savedTo = other;
      return false;
    }
  }
  t.TerminateDSU(0, 0, "");
  savedTo.clear();
  return false;
}

}  // namespace

int fail(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "telvaris-session: %s\n", message.c_str());
  return 1;
}

int record(const Options& o, TelvarisLibrary& t) {
  const std::string& path = o.files[0];
  std::error_code error;
  if (fs::exists(path, error) && !o.force) return fail(path + " exists (--force replaces it)");
  int failed = 0;
  if (!folderThere(path, failed)) return failed;
  if (!o.logPath.empty() && t.SetDebugMode(0, 1, o.logPath.c_str()) != TLV_LOG_OK)
    return fail("cannot write the log " + o.logPath);

  const std::string user = o.user.empty() ? format("telvaris-session-%d", static_cast<int>(getpid())) : o.user;
  int32_t mode = TLV_ROAD_BAD_TEXT, wanted = TLV_ROAD_SERIAL;
  switch (o.road) {
    case Road::kSerial:
      mode = t.SetDataTransferMode(TLV_ROAD_SERIAL, "", 0, "", "", "", "", "", "");
      // The port named is tested first (index 0, COM1, is the scan's own start).
      t.SetComPorts(0, 1, o.com, o.com - 1);
      break;
    case Road::kTcp:
      wanted = TLV_ROAD_TCPIP;
      mode = t.SetDataTransferMode(TLV_ROAD_TCPIP, o.tcpHost.c_str(), o.tcpPort, "", "", "", "", "", "");
      break;
    case Road::kMqtt:
      wanted = TLV_ROAD_MQTT;
      mode = t.SetDataTransferMode(TLV_ROAD_MQTT, o.brokerAddress.c_str(), o.brokerPort, user.c_str(),
                                   o.publishTopic.c_str(), o.subscribeTopic.c_str(), "", "", "");
      break;
    case Road::kRelay:
      // Monitor (4) is the relay road (3) with another start message.
      wanted = TLV_ROAD_RELAY;
      mode = t.SetDataTransferMode(o.monitor ? TLV_ROAD_RELAY_MONITOR : TLV_ROAD_RELAY, o.brokerAddress.c_str(),
                                   o.brokerPort, user.c_str(), o.publishTopic.c_str(), o.subscribeTopic.c_str(),
                                   o.words[0].c_str(), o.words[1].c_str(), o.words[2].c_str());
      break;
    default:
      break;
  }
  if (mode != wanted) return fail("the library refused the road " + roadName(o) + " (a name or topic too long?)");
  t.SetDSUPacketLength(0, o.length);
  const int minutes = o.minutes > 0 ? o.minutes : static_cast<int>(std::min(9986.0, std::ceil(o.seconds / 60) + 1));
  t.SetRecordingLength(minutes);
  const int32_t errorsBefore = t.PositioningErrors(0);

  if (t.InitialiseDSU(0) != TLV_INIT_STARTED) return fail("the library could not start a session");
  auto giveUp = [&](const std::string& why) {
    t.TerminateDSU(0, 0, "");
    t.terminateMQTTConnection();
    return fail(why);
  };

  // Until the first packet.
  ProgressLine line(1.0);
  const Clock::time_point asked = Clock::now();
  int32_t status = t.GetSystemStatus(0);
  while (t.PacketsInBuffer(0) <= 0) {
    status = t.GetSystemStatus(0);
    if (g_stopRequested) {
      line.done();
      t.TerminateDSU(0, 0, "");
      t.terminateMQTTConnection();
      std::printf("stopped before any data came; nothing recorded\n");
      return 130;
    }
    if (status == TLV_DSU_SERIAL_PORT_FAILURE) {
      line.done();
      return giveUp(
          o.road == Road::kSerial
              ? format("no DSU answered on COM%d or any other port present (%s)", o.com, tlvDsuStatusName(status))
              : format("no connection to %s (%s)", roadName(o).c_str(), tlvDsuStatusName(status)));
    }
    if (status == TLV_DSU_ALLOCATION_FAILURE) {
      line.done();
      return giveUp(
          format("not enough memory for %d minutes (%s): try fewer --minutes", minutes, tlvDsuStatusName(status)));
    }
    if (status == TLV_DSU_CLOSEDOWN_COMPLETE) {
      line.done();
      return giveUp("the session on " + roadName(o) + " ended before any data came");
    }
    const double waited = secondsSince(asked);
    if (waited >= o.waitSeconds) {
      line.done();
      if ((o.road == Road::kMqtt || o.road == Road::kRelay) && status == TLV_DSU_WAITING_FOR_DSU)
        return giveUp(format("no connection to the broker %s:%d within %.0f s%s", o.brokerAddress.c_str(), o.brokerPort,
                             o.waitSeconds, o.logPath.empty() ? " (--log FILE tells why)" : ""));
      return giveUp(format("no data from the DSU on %s within %.0f s (%s)", roadName(o).c_str(), o.waitSeconds,
                           tlvDsuStatusName(status)));
    }
    line.show(format("waiting for the DSU on %s: %.1f s, %s", roadName(o).c_str(), waited, tlvDsuStatusName(status)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  line.done();
  const std::string from = o.road == Road::kSerial ? format("COM%d", t.ActiveComPort(0) + 1) : roadName(o);
  std::printf("recording %s from %s into %s\n", duration(o.seconds).c_str(), from.c_str(), path.c_str());
  std::fflush(stdout);

  // Until the time is up, the storage full, the road closed or Ctrl+C.
  ProgressLine progress(o.seconds <= 60 ? 1.0 : 10.0);
  PacketRate rate;
  const Clock::time_point start = Clock::now();
  int32_t packets = 0, errors = 0;
  double elapsed = 0;
  for (;;) {
    elapsed = std::min(secondsSince(start), o.seconds);
    status = t.GetSystemStatus(0);
    packets = t.PacketsInBuffer(0);
    errors = t.PositioningErrors(0) - errorsBefore;
    progress.show(format("%s of %s: %d packets, %.1f a second, %d framing errors, %s", duration(elapsed).c_str(),
                         duration(o.seconds).c_str(), packets, rate.add(elapsed, packets), errors,
                         tlvDsuStatusName(status)));
    if (elapsed >= o.seconds || g_stopRequested || status == TLV_DSU_END_OF_MEMORY ||
        status == TLV_DSU_CLOSEDOWN_COMPLETE)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  progress.done();

  std::string savedTo;
  const bool saved = saveSession(t, path, savedTo);
  t.terminateMQTTConnection();
  if (savedTo.empty()) return fail("cannot write " + path + " nor anywhere else: the recording is lost");
  const uintmax_t bytes = fs::file_size(savedTo, error);
  std::printf("recorded %s from %s: %d packets (%.1f a second), %d framing errors; %ju bytes in %s\n",
              duration(elapsed).c_str(), from.c_str(), packets, elapsed > 0 ? packets / elapsed : 0.0, errors, bytes,
              savedTo.c_str());
  if (!saved) return fail("cannot write " + path + ": the recording went to " + savedTo + " instead");
  if (status == TLV_DSU_END_OF_MEMORY)
    return fail(format("the storage for %d minutes filled after %s: record with more --minutes", minutes,
                       duration(elapsed).c_str()));
  if (status == TLV_DSU_CLOSEDOWN_COMPLETE)
    return fail("the road " + roadName(o) + " closed after " + duration(elapsed) + "; what came is saved");
  if (g_stopRequested) {
    std::printf("stopped early; what came is saved\n");
    return 130;
  }
  return 0;
}

int info(const Options& o, TelvarisLibrary& t) {
  const std::string& path = o.files[0];
  uintmax_t size = 0;
  int status = 0;
  if (!readableSession(path, size, status) || !loadSession(t, o, path, size, status)) return status;
  const int32_t packets = t.PacketsInBuffer(0);
  const int32_t errors = t.PositioningErrors(0);
  // As the library's own load statistics count them.
  const intmax_t skipped = static_cast<intmax_t>(size) - static_cast<intmax_t>(packets) * o.length;
  std::vector<int32_t> marks;
  int32_t formatOut = 0, counter = 0, aux = 0;
  for (int32_t i = 0; t.GetP3Data(nullptr, 0, &formatOut, &counter, &aux) == TLV_P3_OK; ++i) {
    if (aux == -1) marks.push_back(i);
  }
  t.CleanUpLoadedSession();

  std::printf("%s: %ju bytes of %d-byte packets (%d channels)\n", path.c_str(), size, o.length,
              channelsCarried(o.length));
  std::printf("  packets:        %d\n", packets);
  std::printf("  framing errors: %d\n", errors);
  std::printf("  skipped bytes:  %jd\n", skipped);
  std::printf("  duration:       %s at %d packets a second\n", duration(static_cast<double>(packets) / o.rate).c_str(),
              o.rate);
  std::printf("  button marks:   %zu", marks.size());
  for (size_t i = 0; i < marks.size() && i < 10; ++i)
    std::printf("%s%s", i == 0 ? " (at " : ", ", duration(static_cast<double>(marks[i]) / o.rate).c_str());
  std::printf("%s\n", marks.empty() ? "" : marks.size() > 10 ? ", ...)" : ")");
  if (size > 0 && errors > packets / 10)
    std::printf("  many framing errors for %d-byte packets: is the packet length right (--length)?\n", o.length);
  return 0;
}

int exportCsv(const Options& o, TelvarisLibrary& t) {
  const std::string& path = o.files[0];
  const std::string& csv = o.files[1];
  uintmax_t size = 0;
  int status = 0;
  if (!readableSession(path, size, status)) return status;
  if (!folderThere(csv, status)) return status;
  t.SetDSUPacketLength(0, o.length);
  t.SetRecordingLength(minutesFor(size, o.length));

  // One call does it all; its file grows meanwhile.
  std::atomic<bool> finished {false};
  int32_t result = 0;
  std::thread worker([&] {
    result = t.ExportToCSV(path.c_str(), csv.c_str());
    finished = true;
  });
  ProgressLine progress(5.0);
  const Clock::time_point start = Clock::now();
  while (!finished) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::error_code ignored;
    const uintmax_t written = fs::file_size(csv, ignored);
    if (!finished && secondsSince(start) >= 1.0)
      progress.show(format("writing %s: %.1f MB", csv.c_str(), static_cast<double>(written) / 1e6));
  }
  worker.join();
  progress.done();
  if (result == TLV_EXPORT_CANNOT_WRITE) return fail("cannot write " + csv);
  if (result == TLV_LOAD_NO_MEMORY) return fail(format("not enough memory to load %s (%ju bytes)", path.c_str(), size));
  if (result != TLV_EXPORT_OK) return fail(format("cannot read %s (ExportToCSV %d)", path.c_str(), result));

  std::ifstream in(csv, std::ios::binary);
  long lines = 0;
  char chunk[1 << 16];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) lines += std::count(chunk, chunk + in.gcount(), '\n');
  std::error_code ignored;
  std::printf("wrote %s: a header and %ld packets, %.1f MB\n", csv.c_str(), std::max(lines - 1, 0L),
              static_cast<double>(fs::file_size(csv, ignored)) / 1e6);
  return 0;
}

int plot(const Options& o, TelvarisLibrary& t) {
  const std::string& path = o.files[0];
  const std::string& png = o.files[1];
  uintmax_t size = 0;
  int status = 0;
  if (!readableSession(path, size, status)) return status;
  if (!folderThere(png, status)) return status;
  if (!loadSession(t, o, path, size, status)) return status;
  const int32_t total = t.PacketsInBuffer(0);
  const double length = static_cast<double>(total) / o.rate;
  if (total <= 0) {
    t.CleanUpLoadedSession();
    return fail(format("%s holds no %d-byte packets", path.c_str(), o.length));
  }
  if (o.from >= length) {
    t.CleanUpLoadedSession();
    return fail(format("--from %g lies past the end of the recording (%s)", o.from, duration(length).c_str()));
  }
  const int32_t first = static_cast<int32_t>(std::floor(o.from * o.rate));
  const int32_t last = o.to < 0 ? total : std::min<int32_t>(total, static_cast<int32_t>(std::ceil(o.to * o.rate)));

  PlotData data;
  data.rate = o.rate;
  data.startSeconds = static_cast<double>(first) / o.rate;
  data.channels = o.channels;
  if (data.channels.empty()) {
    for (int c = 0; c < std::min(channelsCarried(o.length), 8); ++c) data.channels.push_back(c);
  }
  data.samples.assign(data.channels.size(), {});
  for (auto& row : data.samples) row.reserve(static_cast<size_t>(last - first));

  t.SetPacketNumber(0, first);
  ProgressLine progress(5.0);
  const Clock::time_point start = Clock::now();
  int32_t channels[32] = {}, formatOut = 0, counter = 0, aux = 0;
  for (int32_t i = first; i < last; ++i) {
    if (t.GetP3Data(channels, 32, &formatOut, &counter, &aux) != TLV_P3_OK) break;
    for (size_t c = 0; c < data.channels.size(); ++c) data.samples[c].push_back(channels[data.channels[c]]);
    if (aux == -1) data.marks.push_back(static_cast<size_t>(i - first));
    if ((i & 0xFFFF) == 0 && secondsSince(start) >= 1.0)
      progress.show(format("reading %s: %d%%", path.c_str(), static_cast<int>(100.0 * (i - first) / (last - first))));
  }
  progress.done();
  t.CleanUpLoadedSession();

  const double end = data.startSeconds + static_cast<double>(data.samples[0].size()) / o.rate;
  std::string list;
  for (int c : data.channels) list += (list.empty() ? "" : ",") + std::to_string(c);
  data.title =
      format("%s  channels %s  %.2f s to %.2f s  (%zu packets, %d a second)", fs::path(path).filename().c_str(),
             list.c_str(), data.startSeconds, end, data.samples[0].size(), o.rate);
  std::string error;
  if (!renderPlot(data, o.width, o.height, png, error)) return fail(error);
  std::printf("drew channels %s from %.2f s to %.2f s (%zu packets, %zu button marks) into %s, %dx%d\n", list.c_str(),
              data.startSeconds, end, data.samples[0].size(), data.marks.size(), png.c_str(), o.width, o.height);
  return 0;
}

}  // namespace session_tool
