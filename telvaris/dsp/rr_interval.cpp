// Heart beats from a raw EKG or PPG signal, one sample per call: an
// optional band-pass pre-filter, a peak follower that decays by the AGC
// fraction every sample, and a beat whenever the signal climbs above the
// follower more than half a second after the previous beat.
#include <cstdint>

#include "dsp/band_filters.h"
#include "dsp/rr_interval.h"
#include "telvaris.h"

namespace dsp {
namespace {

constexpr float kNotBeat = TLV_RR_NO_BEAT;
constexpr float kInvalidBeat = TLV_RR_OUT_OF_LIMITS;

struct Detector {
  float threshold;
  int32_t counter;
  int32_t lastBeat;
  float interval;          // seconds
  int32_t intervalSamples;
  int32_t lastValidRate;   // beats per minute
  float lastValidInterval; // seconds
  float x[3 * rr::kMaxSections];
  float y[3 * rr::kMaxSections];
};
Detector& detector() {
  static Detector d {};  // one per process, zero at load
  return d;
}

// The counter runs for months at a time; it wraps rather than overflows.
int32_t wrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrappingSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// 60 / interval truncated toward zero, held within int32.
int32_t rateOf(float interval) {
  const double rate = 60.0 / interval;
  if (!(rate > -2147483648.0)) return INT32_MIN;
  if (rate >= 2147483648.0) return INT32_MAX;
  return static_cast<int32_t>(rate);
}

}  // namespace

float rrInterval(float sample, int32_t samplesPerSecond, int32_t lowerLimit, int32_t upperLimit, float agcValue,
                 int32_t filterOrder, int32_t duplicatePrevious, int32_t useFilter, int32_t displayAsPulse) {
  Detector& d = detector();
  if (sample < 0.0f) {
    d = Detector {};
    return 0.0f;
  }

  if (useFilter == 1) {
    const int sections = filterOrder > rr::kMaxSections ? rr::kMaxSections : filterOrder;
    float filtered = sample;  // no sections: the sample passes as it is
    if (sections > 0) {
      filtered = static_cast<float>(secondOrderCascade(d.x, d.y, rr::kPrefilterC0, rr::kPrefilterC1,
                                                            rr::kPrefilterGain, sample, sections));
    }
    if (agcValue <= 0.01f) filtered = static_cast<float>(filtered * 0.2083 * 10.0);
    sample = filtered;
  }

  d.counter = wrappingAdd(d.counter, 1);
  d.threshold = (1.0f - agcValue) * d.threshold;

  bool beat = false;
  if (sample > d.threshold) {
    d.threshold = sample;
    const int32_t since = wrappingSub(d.counter, d.lastBeat);
    if (since > samplesPerSecond / 2) {
      d.intervalSamples = since;
      d.interval = static_cast<float>(since) / static_cast<float>(samplesPerSecond);
      d.lastBeat = d.counter;
      beat = true;
    }
  }
  if (!beat) return kNotBeat;

  const int32_t rate = rateOf(d.interval);
  if (lowerLimit <= rate && rate <= upperLimit) {
    d.lastValidRate = rate;
    d.lastValidInterval = d.interval;
    return displayAsPulse != 0 ? static_cast<float>(rate) : d.interval * 1000.0f;
  }
  if (duplicatePrevious == 1) {
    return displayAsPulse != 0 ? static_cast<float>(d.lastValidRate) : d.lastValidInterval * 1000.0f;
  }
  return kInvalidBeat;
}

}  // namespace dsp

// ---- exports ------------------------------------------------------------

extern "C" TLV_API float TLV_CALL RRInterval(float sample, int32_t samplesPerSecond, int32_t lowerLimit,
                                             int32_t upperLimit, float agcValue, int32_t filterOrder,
                                             int32_t duplicatePrevious, int32_t useFilter, int32_t displayAsPulse) {
  return dsp::rrInterval(sample, samplesPerSecond, lowerLimit, upperLimit, agcValue, filterOrder, duplicatePrevious,
                         useFilter, displayAsPulse);
}
