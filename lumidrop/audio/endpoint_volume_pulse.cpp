// The endpoint volume on Linux: the sound server's default sink through
// libpulse. One connection serves every instance of the process; each
// instance binds to the sink that was the default when it was created.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <condition_variable>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/endpoint_volume.h"

namespace lumidrop::audio {

struct CAudioEndpointVolume::Device {
  uint32_t sinkIndex = PA_INVALID_INDEX;
  std::string sinkName;
  uint8_t channels = 0;
  uint32_t volumeSteps = 101;
  pa_sink_flags_t flags {};
  Guid eventContext;

  // Change notifications (touched only under the notifier's lock).
  std::vector<AudioEndpointVolumeCallback*> callbacks;
  bool knownValid = false;
  pa_cvolume knownVolume {};
  int knownMute = 0;
  bool ownPending = false;  // the next matching change is one this program made
  pa_cvolume ownVolume {};
  int ownMute = 0;
};

namespace {

using Device = CAudioEndpointVolume::Device;

// A sink's state as one query returns it.
struct SinkState {
  bool found = false;
  uint32_t index = PA_INVALID_INDEX;
  std::string name;
  pa_cvolume volume {};
  pa_channel_map map {};
  int mute = 0;
  uint32_t volumeSteps = 0;
  pa_sink_flags_t flags {};
};

void copySink(const pa_sink_info* info, SinkState& out) {
  out.found = true;
  out.index = info->index;
  out.name = info->name ? info->name : "";
  out.volume = info->volume;
  out.map = info->channel_map;
  out.mute = info->mute;
  out.volumeSteps = info->n_volume_steps;
  out.flags = info->flags;
}

}  // namespace

// A sound-server connection driven on the calling thread: each request runs
// the connection's own main loop until the answer is in. The program calls
// from its window thread only; a lock keeps other callers in line.
class PulseConnection {
 public:
  ~PulseConnection() {
    if (context_) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_) pa_mainloop_free(loop_);
  }

  // A fresh connection, or nullptr when no server answers.
  static std::unique_ptr<PulseConnection> open(const char* name) {
    std::unique_ptr<PulseConnection> c(new PulseConnection);
    if (!c->connect(name)) return nullptr;
    return c;
  }

  bool alive() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }
  pa_context* context() const { return context_; }
  pa_mainloop* loop() const { return loop_; }

  // Runs `start`'s operation to its end; false when it could not finish.
  template <typename Start>
  bool run(Start start) {
    if (!alive()) return false;
    pa_operation* op = start(context_);
    if (!op) return false;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && alive()) {
      if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) break;
    }
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return done;
  }

  bool defaultSinkName(std::string& name) {
    name.clear();
    return run([&](pa_context* c) {
             return pa_context_get_server_info(
                 c,
                 [](pa_context*, const pa_server_info* info, void* user) {
                   if (info && info->default_sink_name) *static_cast<std::string*>(user) = info->default_sink_name;
                 },
                 &name);
           }) &&
           !name.empty();
  }

  bool sinkByName(const std::string& name, SinkState& out) {
    return querySink(out, [&](pa_context* c, pa_sink_info_cb_t cb, void* user) {
      return pa_context_get_sink_info_by_name(c, name.c_str(), cb, user);
    });
  }

  bool sinkByIndex(uint32_t index, SinkState& out) {
    return querySink(out, [&](pa_context* c, pa_sink_info_cb_t cb, void* user) {
      return pa_context_get_sink_info_by_index(c, index, cb, user);
    });
  }

  bool setVolume(uint32_t index, const pa_cvolume& volume) {
    return runSuccess([&](pa_context* c, pa_context_success_cb_t cb, void* user) {
      return pa_context_set_sink_volume_by_index(c, index, &volume, cb, user);
    });
  }

  bool setMute(uint32_t index, int mute) {
    return runSuccess([&](pa_context* c, pa_context_success_cb_t cb, void* user) {
      return pa_context_set_sink_mute_by_index(c, index, mute, cb, user);
    });
  }

 private:
  PulseConnection() = default;

  bool connect(const char* name) {
    loop_ = pa_mainloop_new();
    if (!loop_) return false;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), name);
    if (!context_) return false;
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    for (;;) {
      const pa_context_state_t state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) return true;
      if (!PA_CONTEXT_IS_GOOD(state)) return false;
      if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) return false;
    }
  }

  template <typename Issue>
  bool querySink(SinkState& out, Issue issue) {
    out = SinkState {};
    const bool ran = run([&](pa_context* c) {
      return issue(
          c,
          [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            if (eol == 0 && info) copySink(info, *static_cast<SinkState*>(user));
          },
          &out);
    });
    return ran && out.found;
  }

  template <typename Issue>
  bool runSuccess(Issue issue) {
    int success = 0;
    const bool ran = run([&](pa_context* c) {
      return issue(
          c, [](pa_context*, int ok, void* user) { *static_cast<int*>(user) = ok; }, &success);
    });
    return ran && success;
  }

  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

namespace {

// Change notifications arrive on a thread of their own with a second
// connection subscribed to sink changes, as Windows delivers them on one of
// its own threads. Devices with callbacks are listed here.
class Notifier {
 public:
  void listen(const std::shared_ptr<Device>& device) {
    std::unique_lock lock(mutex_);
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(), [](auto& w) { return w.expired(); }),
                     listeners_.end());
    for (auto& w : listeners_)
      if (w.lock() == device) return;
    listeners_.push_back(device);
    if (!thread_.joinable()) {
      thread_ = std::thread([this] { run(); });
      // Registration is complete only once the subscription stands, so no
      // change made after it goes unreported.
      ready_.wait(lock, [this] { return subscribed_; });
    }
  }

  std::mutex& mutex() { return mutex_; }

  ~Notifier() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      if (loop_) pa_mainloop_wakeup(loop_);
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    auto connection = PulseConnection::open("lumidropRemote notifications");
    if (connection) {
      pa_context_set_subscribe_callback(connection->context(), &Notifier::onEvent, this);
      connection->run([](pa_context* c) { return pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SINK, nullptr, nullptr); });
    }
    {
      std::lock_guard lock(mutex_);
      subscribed_ = true;  // or given up: registration must not wait for good
      ready_.notify_all();
      if (!connection || stopping_) return;
      loop_ = connection->loop();
    }
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (stopping_) {
          loop_ = nullptr;
          return;
        }
      }
      if (!connection->alive() || pa_mainloop_iterate(connection->loop(), 1, nullptr) < 0) break;
    }
    std::lock_guard lock(mutex_);
    loop_ = nullptr;
  }

  static void onEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t index, void* user) {
    if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE) return;
    pa_operation* op = pa_context_get_sink_info_by_index(
        c, index,
        [](pa_context*, const pa_sink_info* info, int eol, void* self) {
          if (eol != 0 || !info) return;
          static_cast<Notifier*>(self)->deliver(*info);
        },
        user);
    if (op) pa_operation_unref(op);
  }

  // Tells each device bound to the sink, when its volume or mute really
  // changed. Callbacks run without the lock held.
  void deliver(const pa_sink_info& info) {
    std::vector<std::pair<std::vector<AudioEndpointVolumeCallback*>, VolumeNotification>> calls;
    {
      std::lock_guard lock(mutex_);
      for (auto& w : listeners_) {
        auto d = w.lock();
        if (!d || d->sinkIndex != info.index || d->callbacks.empty()) continue;
        if (d->knownValid && pa_cvolume_equal(&d->knownVolume, &info.volume) && d->knownMute == info.mute) continue;
        d->knownValid = true;
        d->knownVolume = info.volume;
        d->knownMute = info.mute;
        VolumeNotification n;
        if (d->ownPending && pa_cvolume_equal(&d->ownVolume, &info.volume) && d->ownMute == info.mute) {
          n.eventContext = d->eventContext;
          d->ownPending = false;
        }
        n.muted = info.mute != 0;
        n.masterVolume = static_cast<float>(pa_cvolume_max(&info.volume)) / PA_VOLUME_NORM;
        for (uint8_t ch = 0; ch < info.volume.channels; ++ch)
          n.channelVolumes.push_back(static_cast<float>(info.volume.values[ch]) / PA_VOLUME_NORM);
        calls.emplace_back(d->callbacks, std::move(n));
      }
    }
    for (auto& [callbacks, n] : calls)
      for (auto* cb : callbacks) cb->OnNotify(n);
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  bool subscribed_ = false;
  std::thread thread_;
  std::vector<std::weak_ptr<Device>> listeners_;
  pa_mainloop* loop_ = nullptr;  // while the thread runs, for the wake-up at exit
  bool stopping_ = false;
};

// The process's sound-server state, made on first use: the request
// connection (made again when there is none that works) and the change
// notifier, whose thread is joined when the state goes at exit.
struct PulseState {
  std::mutex requestMutex;
  std::unique_ptr<PulseConnection> requests;
  Notifier notifier;
};

PulseState& pulseState() {
  static PulseState state;
  return state;
}

PulseConnection* requests() {
  PulseState& state = pulseState();
  if (state.requests && state.requests->alive()) return state.requests.get();
  state.requests = PulseConnection::open("lumidropRemote");
  return state.requests.get();
}

// Runs `request` on the request connection. A connection whose server went
// away is only found out by using it, so a failure on a dead connection is
// tried once more on a fresh one. False when no server answers.
template <typename Request>
bool withServer(Request request, bool& answered) {
  std::lock_guard lock(pulseState().requestMutex);
  for (int attempt = 0; attempt < 2; ++attempt) {
    PulseConnection* connection = requests();
    if (!connection) break;
    if (request(*connection)) {
      answered = true;
      return true;
    }
    if (connection->alive()) {
      answered = true;
      return false;
    }
  }
  answered = false;
  return false;
}

}  // namespace

CAudioEndpointVolume::CAudioEndpointVolume() {
  guidFromString(kEventContextText, eventContext_);
  std::string name;
  SinkState sink;
  bool answered = false;
  if (!withServer([&](PulseConnection& c) { return c.defaultSinkName(name) && c.sinkByName(name, sink); },
                  answered)) {
    lastHResult_ = answered ? kENotFound : kEServiceNotRunning;
    return;
  }
  auto device = std::make_shared<Device>();
  device->sinkIndex = sink.index;
  device->sinkName = sink.name;
  device->channels = sink.volume.channels;
  device->volumeSteps = (sink.volumeSteps > 1 && sink.volumeSteps < 101) ? sink.volumeSteps : 101;
  device->flags = sink.flags;
  device->eventContext = eventContext_;
  device_ = device;
  lastHResult_ = kSOk;
}

CAudioEndpointVolume::~CAudioEndpointVolume() {
  if (device_) {
    std::lock_guard lock(pulseState().notifier.mutex());
    device_->callbacks.clear();
  }
}

bool CAudioEndpointVolume::bound() const { return device_ != nullptr; }

std::string CAudioEndpointVolume::deviceName() const { return device_ ? device_->sinkName : std::string(); }

namespace {

// Reads the bound sink; on failure keeps the outcome.
bool readSink(const std::shared_ptr<Device>& d, int32_t& hr, SinkState& sink) {
  if (!d) {
    hr = kEPointer;
    return false;
  }
  bool answered = false;
  if (!withServer([&](PulseConnection& c) { return c.sinkByIndex(d->sinkIndex, sink); }, answered)) {
    hr = answered ? kENotFound : kEServiceNotRunning;
    return false;
  }
  hr = kSOk;
  return true;
}

// Applies a volume and mute this program chose, remembering them so the
// change notification carries the program's event context.
void writeSink(const std::shared_ptr<Device>& d, int32_t& hr, const pa_cvolume& volume, int mute, bool muteChange) {
  {
    std::lock_guard lock(pulseState().notifier.mutex());
    d->ownPending = true;
    d->ownVolume = volume;
    d->ownMute = mute;
  }
  bool answered = false;
  const bool ok = withServer(
      [&](PulseConnection& c) { return muteChange ? c.setMute(d->sinkIndex, mute) : c.setVolume(d->sinkIndex, volume); },
      answered);
  hr = ok ? kSOk : (answered ? kEFail : kEServiceNotRunning);
}

pa_volume_t volumeFromScalar(float level) {
  return static_cast<pa_volume_t>(std::lround(static_cast<double>(level) * PA_VOLUME_NORM));
}

float dbFromVolume(pa_volume_t v) { return static_cast<float>(pa_sw_volume_to_dB(v)); }

constexpr float kStepFloor = 0.01f;  // the lowest non-zero step of the dB range

}  // namespace

int32_t CAudioEndpointVolume::GetChannelCount() {
  if (!device_) {
    lastHResult_ = kEPointer;
    return 0;
  }
  lastHResult_ = kSOk;
  return device_->channels;
}

float CAudioEndpointVolume::GetMasterVolumeLevelScalar() {
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return 0;
  return static_cast<float>(pa_cvolume_max(&sink.volume)) / PA_VOLUME_NORM;
}

float CAudioEndpointVolume::GetMasterVolumeLevel() {
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return 0;
  float minimum = 0, maximum = 0, increment = 0;
  GetVolumeRange(minimum, maximum, increment);
  return std::max(minimum, dbFromVolume(pa_cvolume_max(&sink.volume)));
}

float CAudioEndpointVolume::GetChannelVolumeLevelScalar(uint32_t channel) {
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return 0;
  if (channel >= sink.volume.channels) {
    lastHResult_ = kEInvalidArg;
    return 0;
  }
  return static_cast<float>(sink.volume.values[channel]) / PA_VOLUME_NORM;
}

float CAudioEndpointVolume::GetChannelVolumeLevel(uint32_t channel) {
  const float scalar = GetChannelVolumeLevelScalar(channel);
  if (lastHResult_ != kSOk) return 0;
  float minimum = 0, maximum = 0, increment = 0;
  GetVolumeRange(minimum, maximum, increment);
  return std::max(minimum, dbFromVolume(volumeFromScalar(scalar)));
}

bool CAudioEndpointVolume::acceptScalar(float level) {
  if (!device_) {
    lastHResult_ = kEPointer;
    return false;
  }
  if (!(level >= 0.0f && level <= 1.0f)) {
    lastHResult_ = kEInvalidArg;
    return false;
  }
  return true;
}

void CAudioEndpointVolume::SetMasterVolumeLevelScalar(float level) {
  if (!acceptScalar(level)) return;
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return;
  pa_cvolume volume = sink.volume;
  // Scaling keeps the balance between channels, as a master control does.
  pa_cvolume_scale(&volume, volumeFromScalar(level));
  writeSink(device_, lastHResult_, volume, sink.mute, false);
}

bool CAudioEndpointVolume::scalarFromDb(float levelDb, float& scalar) {
  float minimum = 0, maximum = 0, increment = 0;
  GetVolumeRange(minimum, maximum, increment);
  if (lastHResult_ != kSOk) return false;
  if (!(levelDb >= minimum && levelDb <= maximum)) {
    lastHResult_ = kEInvalidArg;
    return false;
  }
  scalar = static_cast<float>(pa_sw_volume_from_dB(levelDb)) / PA_VOLUME_NORM;
  return true;
}

void CAudioEndpointVolume::SetMasterVolumeLevel(float levelDb) {
  float scalar = 0;
  if (scalarFromDb(levelDb, scalar)) SetMasterVolumeLevelScalar(scalar);
}

void CAudioEndpointVolume::SetChannelVolumeLevelScalar(uint32_t channel, float level) {
  if (!acceptScalar(level)) return;
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return;
  if (channel >= sink.volume.channels) {
    lastHResult_ = kEInvalidArg;
    return;
  }
  pa_cvolume volume = sink.volume;
  volume.values[channel] = volumeFromScalar(level);
  writeSink(device_, lastHResult_, volume, sink.mute, false);
}

void CAudioEndpointVolume::SetChannelVolumeLevel(uint32_t channel, float levelDb) {
  float scalar = 0;
  if (scalarFromDb(levelDb, scalar)) SetChannelVolumeLevelScalar(channel, scalar);
}

void CAudioEndpointVolume::SetMute(int32_t mute) {
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return;
  writeSink(device_, lastHResult_, sink.volume, mute != 0, true);
}

int32_t CAudioEndpointVolume::GetMute() {
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return 0;
  return sink.mute ? 1 : 0;
}

void CAudioEndpointVolume::GetVolumeRange(float& minimumDb, float& maximumDb, float& incrementDb) {
  if (!device_) {
    lastHResult_ = kEPointer;
    return;
  }
  // The sink's software scale from its lowest step to 100 %.
  minimumDb = dbFromVolume(volumeFromScalar(kStepFloor));
  maximumDb = 0.0f;
  incrementDb = (maximumDb - minimumDb) / static_cast<float>(device_->volumeSteps - 1);
  lastHResult_ = kSOk;
}

void CAudioEndpointVolume::GetVolumeStepInfo(uint32_t& step, uint32_t& stepCount) {
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return;
  stepCount = device_->volumeSteps;
  const double scalar = static_cast<double>(pa_cvolume_max(&sink.volume)) / PA_VOLUME_NORM;
  step = static_cast<uint32_t>(std::lround(std::min(scalar, 1.0) * (stepCount - 1)));
}

namespace {
void stepBy(CAudioEndpointVolume& v, int direction) {
  uint32_t step = 0, count = 0;
  v.GetVolumeStepInfo(step, count);
  if (v.lastHResult() != kSOk) return;
  const int64_t next = std::clamp<int64_t>(static_cast<int64_t>(step) + direction, 0, count - 1);
  v.SetMasterVolumeLevelScalar(static_cast<float>(next) / static_cast<float>(count - 1));
}
}  // namespace

void CAudioEndpointVolume::VolumeStepUp() { stepBy(*this, +1); }
void CAudioEndpointVolume::VolumeStepDown() { stepBy(*this, -1); }

int32_t CAudioEndpointVolume::QueryHardwareSupport() {
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return 0;
  int32_t mask = 0;
  if (sink.flags & PA_SINK_HW_VOLUME_CTRL) mask |= kHardwareVolume;
  if (sink.flags & PA_SINK_HW_MUTE_CTRL) mask |= kHardwareMute;
  return mask;
}

void CAudioEndpointVolume::RegisterControlChangeNotify(AudioEndpointVolumeCallback* callback) {
  if (!device_ || !callback) {
    lastHResult_ = kEPointer;
    return;
  }
  SinkState sink;
  if (!readSink(device_, lastHResult_, sink)) return;
  Notifier& notifier = pulseState().notifier;
  {
    std::lock_guard lock(notifier.mutex());
    auto& cbs = device_->callbacks;
    if (std::find(cbs.begin(), cbs.end(), callback) == cbs.end()) cbs.push_back(callback);
    if (!device_->knownValid) {
      device_->knownValid = true;
      device_->knownVolume = sink.volume;
      device_->knownMute = sink.mute;
    }
  }
  notifier.listen(device_);
  lastHResult_ = kSOk;
}

void CAudioEndpointVolume::UnregisterControlChangeNotify(AudioEndpointVolumeCallback* callback) {
  if (!device_) {
    lastHResult_ = kEPointer;
    return;
  }
  std::lock_guard lock(pulseState().notifier.mutex());
  auto& cbs = device_->callbacks;
  auto it = std::find(cbs.begin(), cbs.end(), callback);
  if (it == cbs.end()) {
    lastHResult_ = kEInvalidArg;
    return;
  }
  cbs.erase(it);
  lastHResult_ = kSOk;
}

bool soundServerAnswers() {
  std::string name;
  bool answered = false;
  withServer([&](PulseConnection& c) { return c.defaultSinkName(name); }, answered);
  return answered;
}

}  // namespace lumidrop::audio
