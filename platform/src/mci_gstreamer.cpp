// The MCI strings of the MP3 player over GStreamer: one playbin per alias,
// audio only, to the default sound server.
//
// No GLib main loop runs here, so nothing would ever take the messages off
// a pipeline's bus: they are dropped as they are posted (state changes are
// read from the pipeline itself). Looping plays the file as a segment: at
// its end the pipeline says so instead of ending, and a seek back to the
// start (made from GStreamer's own thread pool, as seeks may not be made
// from the streaming thread that reports the end) plays it again without a
// gap and without a state change, so a pause at any moment stays a pause.
#include <gst/gst.h>

#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/mci.h"
#include "platform/mci_command.h"
#include "platform/paths.h"

namespace platform {
namespace {

constexpr auto kOpenTimeout = 10 * GST_SECOND;
// playbin's "flags": audio only. Without its own volume element the volume
// is the sound server's for the stream, applied as the server mixes: a
// change is heard at once, not after the samples already buffered.
constexpr int kPlayAudio = 0x02;
constexpr const char* kRepeatKey = "telvaris-repeat";

bool mediaReady() {
  static const bool ready = gst_init_check(nullptr, nullptr, nullptr);
  return ready;
}

bool repeating(GstElement* playbin) { return g_object_get_data(G_OBJECT(playbin), kRepeatKey) != nullptr; }

// Plays the file from `position` as one segment: its end is reported as
// SEGMENT_DONE, not as the end of the stream.
bool playSegment(GstElement* playbin, gint64 position, bool flush) {
  const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_SEGMENT | (flush ? GST_SEEK_FLAG_FLUSH : 0));
  return gst_element_seek(playbin, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, position, GST_SEEK_TYPE_NONE,
                          GST_CLOCK_TIME_NONE);
}

void playAgain(GstElement* playbin, gpointer flush) {
  if (repeating(playbin)) playSegment(playbin, 0, flush != nullptr);
}

// Runs on a streaming thread and touches nothing but the pipeline. The
// segment's end loops; an end of stream (a file that would not play as a
// segment) starts it again with a flush.
GstBusSyncReply onMessage(GstBus*, GstMessage* message, gpointer playbin) {
  const auto type = GST_MESSAGE_TYPE(message);
  if ((type == GST_MESSAGE_SEGMENT_DONE || type == GST_MESSAGE_EOS) && repeating(GST_ELEMENT(playbin)))
    gst_element_call_async(GST_ELEMENT(playbin), playAgain, type == GST_MESSAGE_EOS ? playbin : nullptr, nullptr);
  return GST_BUS_DROP;
}

MciStatus::State stateOf(GstState s) {
  switch (s) {
    case GST_STATE_READY:
      return MciStatus::State::kReady;
    case GST_STATE_PAUSED:
      return MciStatus::State::kPaused;
    case GST_STATE_PLAYING:
      return MciStatus::State::kPlaying;
    default:
      return MciStatus::State::kNull;
  }
}

class GstMci : public Mci {
 public:
  ~GstMci() override {
    for (auto& [alias, device] : devices_) release(device);
  }

  bool sendString(const char* command) override {
    const std::optional<MciCommand> c = parseMciCommand(command);
    if (!c || !mediaReady()) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (c->verb == MciCommand::Verb::kOpen) return open(*c);

    auto found = devices_.find(c->alias);
    if (found == devices_.end()) return false;
    Device& d = found->second;
    switch (c->verb) {
      case MciCommand::Verb::kPlay:
        g_object_set_data(G_OBJECT(d.playbin), kRepeatKey, GINT_TO_POINTER(c->repeat));
        if (c->repeat && !d.looping) {
          // From where it stands (its start, after the open).
          gint64 position = 0;
          if (!gst_element_query_position(d.playbin, GST_FORMAT_TIME, &position)) position = 0;
          d.looping = playSegment(d.playbin, position, true);
        }
        d.mode = Mode::kPlaying;
        return gst_element_set_state(d.playbin, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
      case MciCommand::Verb::kPause:
        if (d.mode == Mode::kPlaying) d.mode = Mode::kPaused;
        return gst_element_set_state(d.playbin, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
      case MciCommand::Verb::kResume:
        if (d.mode == Mode::kStopped) return false;  // nothing was playing
        d.mode = Mode::kPlaying;
        return gst_element_set_state(d.playbin, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
      case MciCommand::Verb::kSetVolume:
        g_object_set(d.playbin, "volume", c->volume / 1000.0, nullptr);
        return true;
      case MciCommand::Verb::kClose:
        release(d);
        devices_.erase(found);
        return true;
      case MciCommand::Verb::kOpen:
        break;
    }
    return false;
  }

  MciStatus status(const char* alias) override {
    MciStatus out;
    if (!alias || !mediaReady()) return out;
    const std::optional<std::string> name = parseMciAlias(alias);
    if (!name) return out;
    std::lock_guard<std::mutex> hold(lock_);
    auto found = devices_.find(*name);
    if (found == devices_.end()) return out;
    GstElement* playbin = found->second.playbin;
    GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(playbin, &current, &pending, 0);
    gdouble volume = 0;
    g_object_get(playbin, "volume", &volume, nullptr);
    out.open = true;
    out.state = stateOf(current);
    out.pending = stateOf(pending);
    out.volume = static_cast<int>(std::lround(volume * 1000));
    return out;
  }

 private:
  enum class Mode { kStopped, kPlaying, kPaused };
  struct Device {
    GstElement* playbin = nullptr;
    Mode mode = Mode::kStopped;
    bool looping = false;  // playing as a segment
  };

  bool open(const MciCommand& c) {
    const std::string& alias = c.alias;
    if (devices_.count(alias)) return false;  // in use
    const std::string file = mapPath(c.path);
    if (file.empty() || !fileExists(file)) return false;

    gchar* uri = gst_filename_to_uri(file.c_str(), nullptr);
    GstElement* playbin = uri ? gst_element_factory_make("playbin", nullptr) : nullptr;
    if (!playbin) {
      g_free(uri);
      return false;
    }
    gst_object_ref_sink(playbin);
    g_object_set(playbin, "uri", uri, "flags", kPlayAudio, nullptr);
    g_free(uri);
    if (GstBus* bus = gst_element_get_bus(playbin)) {
      // The pipeline outlives its bus's handler: no reference needed.
      gst_bus_set_sync_handler(bus, onMessage, playbin, nullptr);
      gst_object_unref(bus);
    }
    // Loaded and at its start, paused, as an opened MCI device is; a file
    // that does not play fails here.
    GstStateChangeReturn change = gst_element_set_state(playbin, GST_STATE_PAUSED);
    if (change != GST_STATE_CHANGE_FAILURE) change = gst_element_get_state(playbin, nullptr, nullptr, kOpenTimeout);
    if (change == GST_STATE_CHANGE_FAILURE || change == GST_STATE_CHANGE_ASYNC) {
      Device failed {playbin, Mode::kStopped, false};
      release(failed);
      return false;
    }
    devices_[alias] = Device {playbin, Mode::kStopped, false};
    return true;
  }

  static void release(Device& d) {
    if (!d.playbin) return;
    gst_element_set_state(d.playbin, GST_STATE_NULL);
    gst_object_unref(d.playbin);
    d.playbin = nullptr;
  }

  std::mutex lock_;
  std::map<std::string, Device> devices_;  // by alias in lower case
};

}  // namespace

std::unique_ptr<Mci> makeMci() { return std::make_unique<GstMci>(); }

}  // namespace platform
