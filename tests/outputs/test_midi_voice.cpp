// The MIDI voice: the short messages a recording MIDI output receives,
// compared with the bytes of the MIDI standard; the ring when it overflows;
// notes queued as a player ends; and the real synthesizer, rendering into
// memory (its pitch) and playing to a private sound server (heard on the
// sink's monitor).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fixtures/pulse_server.h"
#include "outputs/midi_voice.h"
#include "platform/midi_out.h"
#include "sound_level.h"
#include "telvaris.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace midi = outputs::midi;

struct Event {
  char kind;  // 'o' open, 'm' short message, 'c' close
  uint32_t message;
  Clock::time_point at;
};

// Every device a player opens writes into one list. The first open can be
// held until the test lets it go, so notes pile up behind the player.
class Recording {
 public:
  std::unique_ptr<platform::MidiOut> make() {
    ++devices_;
    return std::make_unique<Out>(*this);
  }
  int devices() const { return devices_; }
  std::vector<Event> events() {
    std::lock_guard<std::mutex> hold(lock_);
    return events_;
  }
  void holdFirstOpen() {
    std::lock_guard<std::mutex> hold(lock_);
    holding_ = true;
  }
  bool waitHeld() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(10), [this] { return held_; });
  }
  void release() {
    std::lock_guard<std::mutex> hold(lock_);
    holding_ = false;
    changed_.notify_all();
  }

 private:
  class Out : public platform::MidiOut {
   public:
    explicit Out(Recording& r) : r_(r) {}
    bool open() override {
      r_.add('o', 0);
      std::unique_lock<std::mutex> hold(r_.lock_);
      r_.held_ = r_.holding_;
      r_.changed_.notify_all();
      r_.changed_.wait(hold, [this] { return !r_.holding_; });
      return true;
    }
    void shortMessage(uint32_t message) override { r_.add('m', message); }
    void close() override { r_.add('c', 0); }

   private:
    Recording& r_;
  };

  void add(char kind, uint32_t message) {
    std::lock_guard<std::mutex> hold(lock_);
    events_.push_back({kind, message, Clock::now()});
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  std::atomic<int> devices_ {0};
  bool holding_ = false;
  bool held_ = false;
};

class MidiVoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    midi::useMidiOut([r = recording] { return r->make(); });
  }
  void TearDown() override {
    recording->release();
    EXPECT_TRUE(midi::waitIdle(30000));
    midi::useMidiOut({});
  }

  std::shared_ptr<Recording> recording = std::make_shared<Recording>();
  std::mutex sleepsLock;
  std::vector<int64_t> sleeps;
};

std::vector<uint32_t> messagesWithStatus(const std::vector<Event>& events, uint32_t status) {
  std::vector<uint32_t> out;
  for (const Event& e : events)
    if (e.kind == 'm' && (e.message & 0xF0) == status) out.push_back(e.message);
  return out;
}

double msBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

TEST_F(MidiVoiceTest, PlaysEachNoteWithItsOwnMessagesInCallOrderWithoutOverlap) {
  // Out of range: nothing is queued, no player starts.
  for (auto [velocity, instrument, note] : {std::tuple {128, 0, 58},
                                            {-1, 0, 58},
                                            {0, 128, 58},
                                            {0, -1, 58},
                                            {0, 0, 117},
                                            {0, 0, -12},
                                            {0, 0, INT32_MAX},
                                            {0, 0, INT32_MIN}})
    EXPECT_EQ(MidiVoice(10, velocity, instrument, note), TLV_MIDI_BAD_ARGUMENT)
        << velocity << " " << instrument << " " << note;
  EXPECT_FALSE(midi::playerRunning());

  struct Call {
    int32_t duration, velocity, instrument, note;
  };
  const Call calls[] = {{60, 100, 73, 58}, {0, 64, 0, -11}, {30, 127, 19, 116}, {0, 1, 127, 49}};
  for (const Call& c : calls) ASSERT_EQ(MidiVoice(c.duration, c.velocity, c.instrument, c.note), TLV_MIDI_OK);
  ASSERT_TRUE(midi::waitIdle(10000));

  // Program change C0 pp, note on 90 kk vv, note off 80 kk vv, as
  // midiOutShortMsg takes them (status in the low byte).
  const uint32_t expected[][3] = {
      {0x0049C0, 0x644590, 0x644580},  // flute (73); note 58 is MIDI note 69 (A 440), velocity 100
      {0x0000C0, 0x400090, 0x400080},  // piano; note -11 is MIDI note 0
      {0x0013C0, 0x7F7F90, 0x7F7F80},  // organ (19); note 116 is MIDI note 127, velocity 127
      {0x007FC0, 0x013C90, 0x013C80},  // gunshot (127); note 49 is MIDI note 60 (middle C), velocity 1
  };
  const auto events = recording->events();
  ASSERT_EQ(events.size(), 5u * std::size(calls));
  for (size_t i = 0; i < std::size(calls); ++i) {
    const Event* e = &events[5 * i];
    EXPECT_EQ(std::string({e[0].kind, e[1].kind, e[2].kind, e[3].kind, e[4].kind}), "ommmc") << "note " << i;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(e[1 + k].message, expected[i][k]) << "note " << i << " message " << k;
    // Each for its own length, 5 ms at least; none before the last ended.
    EXPECT_GE(msBetween(e[2].at, e[3].at), std::max(calls[i].duration, 5)) << "note " << i;
    if (i > 0) {
      EXPECT_GE(msBetween(events[5 * i - 2].at, e[2].at), 0) << "note " << i << " overlaps";
    }
  }
}

TEST_F(MidiVoiceTest, AFullRingLosesItsOldestUnplayedNotesAndPlaysTheRestOnceInOrder) {
  midi::useMidiOut([r = recording] { return r->make(); },
                   [this](int64_t ms) {
                     std::lock_guard<std::mutex> hold(sleepsLock);
                     sleeps.push_back(ms);
                   });
  // Note n: instrument n % 128 and velocity n / 128 tell it apart, its
  // length n % 7 ms.
  auto queue = [](int n) { return MidiVoice(n % 7, n / 128, n % 128, 58); };
  recording->holdFirstOpen();
  ASSERT_EQ(queue(1), TLV_MIDI_OK);
  ASSERT_TRUE(recording->waitHeld()) << "the player has taken note 1";
  for (int n = 2; n <= 10002; ++n) ASSERT_EQ(queue(n), TLV_MIDI_OK) << n;
  recording->release();
  ASSERT_TRUE(midi::waitIdle(60000));

  std::vector<int> played;
  uint32_t program = 0;
  for (const Event& e : recording->events()) {
    if (e.kind != 'm') continue;
    if ((e.message & 0xF0) == 0xC0) program = (e.message >> 8) & 0x7F;
    if ((e.message & 0xF0) == 0x90) played.push_back(static_cast<int>(((e.message >> 16) & 0x7F) * 128 + program));
  }
  // Notes 1-9999 took slots 1-9999; notes 10000-10002 went round into
  // slots 1-3. Note 1 was with the player already; notes 2 and 3 were lost.
  std::vector<int> expected {1};
  for (int n = 4; n <= 10002; ++n) expected.push_back(n);
  ASSERT_EQ(played.size(), expected.size());
  const auto wrong = std::mismatch(played.begin(), played.end(), expected.begin());
  EXPECT_TRUE(wrong.first == played.end()) << "at " << (wrong.first - played.begin()) << ": note " << *wrong.first
                                           << " where " << *wrong.second << " belongs";
  // Lengths of 0 to 4 ms play 5 ms; 6 ms x 1.0001 stays 6.
  std::lock_guard<std::mutex> hold(sleepsLock);
  ASSERT_EQ(sleeps.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const int length = expected[i] % 7;
    ASSERT_EQ(sleeps[i], length < 5 ? 5 : length) << "note " << expected[i];
  }
}

TEST_F(MidiVoiceTest, ANoteQueuedAsThePlayerEndsIsStillPlayed) {
  // 5 ms notes, the next one queued 4 to 10 ms later: around the moment
  // the player finds its queue empty and ends.
  constexpr int kNotes = 300;
  for (int i = 0; i < kNotes; ++i) {
    ASSERT_EQ(MidiVoice(0, i % 128, 0, 58), TLV_MIDI_OK);
    std::this_thread::sleep_for(std::chrono::microseconds(4000 + 400 * (i % 16)));
  }
  ASSERT_TRUE(midi::waitIdle(30000));
  const auto ons = messagesWithStatus(recording->events(), 0x90);
  ASSERT_EQ(ons.size(), static_cast<size_t>(kNotes));
  for (int i = 0; i < kNotes; ++i) ASSERT_EQ(ons[i] >> 16, static_cast<uint32_t>(i % 128)) << "note " << i;
  EXPECT_GT(recording->devices(), 1) << "no player ended between the notes: nothing was handed over";
}

// The real synthesizer behind a player, kept by the test after the player
// lets go of its device.
class Forward : public platform::MidiOut {
 public:
  explicit Forward(std::shared_ptr<platform::MidiRenderer> r) : r_(std::move(r)) {}
  bool open() override { return r_->open(); }
  void shortMessage(uint32_t message) override { r_->shortMessage(message); }
  void close() override { r_->close(); }
  int keepMs() const override { return r_->keepMs(); }

 private:
  std::shared_ptr<platform::MidiRenderer> r_;
};

// The strongest frequency of samples[from, from + count) (Hann window, zero
// padded to 65536 points, radix-2 FFT, parabolic interpolation).
double peakFrequency(const std::vector<float>& samples, size_t from, size_t count, int rate) {
  constexpr size_t kPoints = 65536;
  std::vector<std::complex<double>> x(kPoints);
  for (size_t i = 0; i < count; ++i)
    x[i] = samples[from + i] *
           (0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count)));
  for (size_t i = 1, j = 0; i < kPoints; ++i) {
    size_t bit = kPoints >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= kPoints; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi / static_cast<double>(len));
    for (size_t i = 0; i < kPoints; i += len) {
      std::complex<double> w = 1;
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        const auto a = x[i + k], b = x[i + k + len / 2] * w;
        x[i + k] = a + b;
        x[i + k + len / 2] = a - b;
      }
    }
  }
  size_t best = 1;
  for (size_t k = 2; k < kPoints / 2 - 1; ++k)
    if (std::abs(x[k]) > std::abs(x[best])) best = k;
  const double l = std::abs(x[best - 1]), c = std::abs(x[best]), r = std::abs(x[best + 1]);
  const double shift = 0.5 * (l - r) / (l - 2 * c + r);
  return (static_cast<double>(best) + shift) * rate / static_cast<double>(kPoints);
}

TEST(MidiVoiceSynthesizer, Note58OnAFluteSoundsAt440Hertz) {
  std::shared_ptr<platform::MidiRenderer> renderer = platform::makeMidiRenderer(44100);
  ASSERT_TRUE(renderer);
  midi::useMidiOut([renderer] { return std::make_unique<Forward>(renderer); });
  ASSERT_EQ(MidiVoice(700, 100, 73, 58), TLV_MIDI_OK);
  ASSERT_TRUE(midi::waitIdle(30000));
  midi::useMidiOut({});

  const std::vector<float> samples = renderer->samples();
  const int rate = renderer->sampleRate();
  // From 100 ms in (past the attack), 16384 samples: within the note.
  const size_t from = static_cast<size_t>(rate / 10), count = 16384;
  ASSERT_GE(samples.size(), from + count) << "the synthesizer did not load (no General MIDI sound font?)";
  const double peak = peakFrequency(samples, from, count, rate);
  RecordProperty("peak_hz", std::to_string(peak));
  std::printf("strongest frequency of note 58: %.2f Hz\n", peak);
  EXPECT_NEAR(peak, 440.0, 440.0 * 0.02);
}

TEST(MidiVoiceSynthesizer, PlaysToTheSoundServerOrToTheChosenPortOrSkipsTheNote) {
  fixtures::PulseServer pulse({"notes"});
  pulse.useFromThisProcess();
  unsetenv(midi::kPortVariable);
  midi::useMidiOut({});

  // The synthesizer loads, then plays a 3-second flute note on the sink.
  ASSERT_EQ(MidiVoice(3000, 127, 73, 58), TLV_MIDI_OK);
  double playing = outputs_test::kSilentDb;
  for (int i = 0; i < 20 && playing < -45 && midi::playerRunning(); ++i)
    playing = outputs_test::monitorDb(pulse, "notes", 300);
  ASSERT_TRUE(midi::waitIdle(30000));
  const double after = outputs_test::monitorDb(pulse, "notes", 300);
  std::printf("monitor while the note plays: %.1f dBFS, after the player ended: %.1f dBFS\n", playing, after);
  EXPECT_GT(playing, -45);
  EXPECT_LT(after, -90);

  // An ALSA sequencer port chosen: the note goes there (here there is no
  // sequencer, so nowhere), not to the sound server, and takes its time.
  setenv(midi::kPortVariable, "128:0", 1);
  auto start = Clock::now();
  ASSERT_EQ(MidiVoice(1000, 127, 73, 58), TLV_MIDI_OK);
  const double viaPort = outputs_test::monitorDb(pulse, "notes", 500);
  ASSERT_TRUE(midi::waitIdle(30000));
  EXPECT_GE(msBetween(start, Clock::now()), 1000);
  EXPECT_LT(viaPort, -90);
  unsetenv(midi::kPortVariable);

  // No sound server: the synthesizer cannot play; the note is skipped
  // once its length has passed.
  pulse.stop();
  start = Clock::now();
  ASSERT_EQ(MidiVoice(500, 127, 73, 58), TLV_MIDI_OK);
  ASSERT_TRUE(midi::waitIdle(30000));
  EXPECT_GE(msBetween(start, Clock::now()), 500);
}

}  // namespace
