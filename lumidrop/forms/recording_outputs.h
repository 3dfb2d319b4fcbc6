// Outputs that keep what the overlay did to the window and to the volume,
// in order, and optionally write it to a log: the program's outputs until
// the real window and sound back ends are wired in, and the record that
// tests compare with the expected sequence.
#pragma once

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "audio/volume.h"
#include "forms/window_layering.h"

namespace lumidrop {

class RecordingLayering : public WindowLayering {
 public:
  explicit RecordingLayering(std::ostream* log = nullptr) : log_(log) {}

  int32_t GetWindowLongA(int32_t hwnd, int32_t index) override;
  int32_t SetWindowLongA(int32_t hwnd, int32_t index, int32_t value) override;
  int32_t SetLayeredWindowAttributes(int32_t hwnd, uint32_t colourKey, uint8_t alpha, uint32_t flags) override;
  int32_t SetWindowPos(int32_t hwnd, int32_t insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                       uint32_t flags) override;

  struct AlphaCall {
    int32_t hwnd;
    uint32_t colourKey;
    uint8_t alpha;
    uint32_t flags;
    bool layered;  // the window carried WS_EX_LAYERED at the call
  };
  struct PlacementCall {
    int32_t hwnd;
    int32_t insertAfter;
    int32_t x, y, cx, cy;
    uint32_t flags;
  };
  const std::vector<AlphaCall>& alphaCalls() const { return alphaCalls_; }
  const std::vector<PlacementCall>& placements() const { return placements_; }
  std::vector<int> alphas() const;
  // The alpha last applied to `hwnd`, or -1.
  int alphaOf(int32_t hwnd) const;
  bool topMost(int32_t hwnd) const;
  int styleWrites() const { return styleWrites_; }
  void clear();

 private:
  std::ostream* log_;
  std::map<int32_t, int32_t> exStyle_;
  std::map<int32_t, bool> topMost_;
  std::vector<AlphaCall> alphaCalls_;
  std::vector<PlacementCall> placements_;
  int styleWrites_ = 0;
};

class RecordingVolume : public audio::VolumeOutputs {
 public:
  explicit RecordingVolume(std::ostream* log = nullptr);
  ~RecordingVolume() override;

  std::unique_ptr<audio::EndpointVolume> createEndpointVolume() override;
  audio::LegacyMixer& mixer() override;

  enum class Road { Endpoint, Mixer };
  struct Change {
    Road road;
    double value;    // the scalar (endpoint) or the control value (mixer)
    int percent;     // what it comes to in percent
  };
  const std::vector<Change>& changes() const { return changes_; }
  std::vector<int> percents() const;
  int endpointsCreated() const { return created_; }
  int endpointsAlive() const { return alive_; }
  int mixerOpens() const { return mixerOpens_; }
  int mixerCloses() const { return mixerCloses_; }
  // The mixer step that fails from now on (0 none, 1 open, 2 line, 3 control).
  void failMixerAt(int step) { failMixerAt_ = step; }
  static constexpr uint32_t kMixerMaximum = 65535;
  void clear();

  // For the endpoint objects it made.
  void record(Road road, double value, int percent);
  void endpointGone() { --alive_; }

 private:
  class Mixer;
  std::ostream* log_;
  std::unique_ptr<Mixer> mixer_;
  std::vector<Change> changes_;
  int created_ = 0;
  int alive_ = 0;
  int mixerOpens_ = 0;
  int mixerCloses_ = 0;
  int failMixerAt_ = 0;
};

}  // namespace lumidrop
