#include "forms/recording_outputs.h"

#include <cmath>

namespace lumidrop {

// ------------------------------------------------------- RecordingLayering

int32_t RecordingLayering::GetWindowLongA(int32_t hwnd, int32_t index) {
  return index == GWL_EXSTYLE ? exStyle_[hwnd] : 0;
}

int32_t RecordingLayering::SetWindowLongA(int32_t hwnd, int32_t index, int32_t value) {
  if (index != GWL_EXSTYLE) return 0;
  ++styleWrites_;
  const int32_t old = exStyle_[hwnd];
  exStyle_[hwnd] = value;
  return old;
}

int32_t RecordingLayering::SetLayeredWindowAttributes(int32_t hwnd, uint32_t colourKey, uint8_t alpha,
                                                      uint32_t flags) {
  const bool layered = (exStyle_[hwnd] & WS_EX_LAYERED) != 0;
  alphaCalls_.push_back({hwnd, colourKey, alpha, flags, layered});
  if (log_) *log_ << "[overlay] alpha " << static_cast<int>(alpha) << std::endl;
  return layered ? 1 : 0;
}

int32_t RecordingLayering::SetWindowPos(int32_t hwnd, int32_t insertAfter, int32_t x, int32_t y, int32_t cx,
                                        int32_t cy, uint32_t flags) {
  placements_.push_back({hwnd, insertAfter, x, y, cx, cy, flags});
  if (insertAfter == HWND_TOPMOST) topMost_[hwnd] = true;
  if (insertAfter == HWND_NOTOPMOST) topMost_[hwnd] = false;
  if (log_) *log_ << "[overlay] " << (insertAfter == HWND_TOPMOST ? "top-most" : "not top-most") << std::endl;
  return 1;
}

std::vector<int> RecordingLayering::alphas() const {
  std::vector<int> out;
  for (const auto& c : alphaCalls_) out.push_back(c.alpha);
  return out;
}

int RecordingLayering::alphaOf(int32_t hwnd) const {
  for (auto it = alphaCalls_.rbegin(); it != alphaCalls_.rend(); ++it) {
    if (it->hwnd == hwnd) return it->alpha;
  }
  return -1;
}

bool RecordingLayering::topMost(int32_t hwnd) const {
  auto it = topMost_.find(hwnd);
  return it != topMost_.end() && it->second;
}

void RecordingLayering::clear() {
  alphaCalls_.clear();
  placements_.clear();
  styleWrites_ = 0;
}

// --------------------------------------------------------- RecordingVolume

namespace {

class RecordingEndpoint : public audio::EndpointVolume {
 public:
  explicit RecordingEndpoint(RecordingVolume& owner) : owner_(owner) {}
  ~RecordingEndpoint() override { owner_.endpointGone(); }
  void SetMasterVolumeLevelScalar(float level) override {
    owner_.record(RecordingVolume::Road::Endpoint, level, static_cast<int>(std::lround(level * 100.0)));
  }

 private:
  RecordingVolume& owner_;
};

}  // namespace

class RecordingVolume::Mixer : public audio::LegacyMixer {
 public:
  explicit Mixer(RecordingVolume& owner) : owner_(owner) {}
  uint32_t open(uint32_t) override {
    ++owner_.mixerOpens_;
    return owner_.failMixerAt_ == 1 ? 2 : 0;
  }
  uint32_t speakersLine(uint32_t& lineId) override {
    lineId = 7;
    return owner_.failMixerAt_ == 2 ? 1024 : 0;
  }
  uint32_t volumeControl(uint32_t, uint32_t& controlId, uint32_t& maximum) override {
    controlId = 3;
    maximum = kMixerMaximum;
    return owner_.failMixerAt_ == 3 ? 1025 : 0;
  }
  uint32_t setControlValue(uint32_t, uint32_t value) override {
    owner_.record(Road::Mixer, value, static_cast<int>(std::lround(value * 100.0 / kMixerMaximum)));
    return 0;
  }
  void close() override { ++owner_.mixerCloses_; }

 private:
  RecordingVolume& owner_;
};

RecordingVolume::RecordingVolume(std::ostream* log) : log_(log), mixer_(std::make_unique<Mixer>(*this)) {}

RecordingVolume::~RecordingVolume() = default;

std::unique_ptr<audio::EndpointVolume> RecordingVolume::createEndpointVolume() {
  ++created_;
  ++alive_;
  return std::make_unique<RecordingEndpoint>(*this);
}

audio::LegacyMixer& RecordingVolume::mixer() { return *mixer_; }

void RecordingVolume::record(Road road, double value, int percent) {
  changes_.push_back({road, value, percent});
  if (log_) *log_ << "[volume] " << percent << "%" << (road == Road::Mixer ? " (mixer)" : "") << std::endl;
}

std::vector<int> RecordingVolume::percents() const {
  std::vector<int> out;
  for (const auto& c : changes_) out.push_back(c.percent);
  return out;
}

void RecordingVolume::clear() { changes_.clear(); }

}  // namespace lumidrop
