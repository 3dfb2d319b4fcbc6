// The MIDI voice: callers queue notes into a ring, a player thread plays
// them one after another.
//
// Threads: a caller appends under the state's lock and starts a player when
// none runs; the player takes notes under the same lock and plays each one
// outside it. Its last look at the queue and its marking itself ended
// happen under one hold of the lock, so a note queued as the player ends is
// either taken by it or finds no player and starts a new one. A player that
// has ended is joined by the call that starts the next one (it only has to
// leave by then), or when the module goes, which also cuts a note's wait
// short. A player loads the synthesizer and its libraries, so the first
// one pins the library (platform/pin_library.h): the module goes at the
// process's end, never at an unload where a loading player would deadlock.
#include "outputs/midi_voice.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "boundary.h"
#include "platform/clock.h"
#include "platform/pin_library.h"

namespace outputs::midi {
namespace {

constexpr uint64_t kRingSize = kSlots - 1;
constexpr int32_t kShortestMs = 5;
constexpr double kTempo = 1.0;  // every note of the voice

struct Note {
  double frequency = 0;
  int32_t duration = 0;
  int32_t velocity = 0;
  int32_t instrument = 0;
  double tempo = kTempo;
  uint64_t number = 0;  // which queued note this is, counted from 1
};

// The slot of the n-th queued note: slot n up to 9999, then round the ring
// of slots 1 to 10000.
uint64_t slotOf(uint64_t n) { return n < kRingSize ? n : n % kRingSize + 1; }

// 12 log2(f / 440) + 69, rounded half up; -1 outside the MIDI notes.
int midiNoteOf(double frequency) {
  const double x = std::floor(12 * (std::log(frequency) - 6.0867747269123065) / 0.6931471805599453 + 69 + 0.5);
  return x >= 0 && x <= 127 ? static_cast<int>(x) : -1;  // NaN fails both
}

std::string portFromEnvironment() {
  const char* port = std::getenv(kPortVariable);
  return port ? port : "";
}

// One queue and at most one player per process. It goes with the library
// and stops and joins its player first, so no thread is left running in
// code that is gone.
struct State {
  std::mutex lock;
  std::condition_variable noteQueued;
  std::condition_variable stopping;
  std::condition_variable ended;
  std::array<Note, kSlots> ring {};
  uint64_t queued = 0;
  uint64_t played = 0;  // taken by the player, or overwritten before it came to them
  bool running = false;
  bool stop = false;
  std::thread player;
  MidiOutFactory factory;
  NoteSleep noteSleep;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    {
      std::lock_guard<std::mutex> hold(lock);
      stop = true;
    }
    noteQueued.notify_all();
    stopping.notify_all();
    if (player.joinable()) player.join();
  }

  // The next note to play, under the lock. Notes overwritten before the
  // player came to them are passed over: the oldest note still in the ring
  // is next, so every note plays once and in order.
  bool take(Note& next) {
    if (played >= queued) return false;
    uint64_t n = std::max(played + 1, queued >= kRingSize ? queued - kRingSize + 1 : 1);
    while (ring[slotOf(n)].number != n) ++n;  // at most twice: the last 9999 notes are always there
    next = ring[slotOf(n)];
    played = n;
    return true;
  }

  void run();
  void play(platform::MidiOut* out, const Note& note, const NoteSleep& sleepFor);
};

State& state() {
  static State s;
  return s;
}

void State::run() {
  MidiOutFactory makeOut;
  NoteSleep sleepFor;
  std::unique_ptr<platform::MidiOut> out;
  bool made = false;
  std::unique_lock<std::mutex> hold(lock);
  try {
    makeOut = factory;
    sleepFor = noteSleep;
  } catch (...) {
    // Without memory for a copy of the seams, the system's device serves.
  }
  while (!stop) {
    Note note;
    if (take(note)) {
      hold.unlock();
      if (!made) {
        made = true;
        try {
          out = makeOut ? makeOut() : platform::makeMidiOut(portFromEnvironment());
        } catch (...) {
          out = nullptr;  // no device: the notes are skipped
        }
      }
      try {
        play(out.get(), note, sleepFor);
      } catch (...) {
        // A device that fails for want of memory loses this note only.
      }
      hold.lock();
    } else if (made) {
      // Drained. The device may ask to be kept a while (a release to ring
      // out, a synthesizer to stay loaded for the next note); then it goes,
      // outside the lock, and the queue is looked at again.
      const auto keep = std::chrono::milliseconds(out ? out->keepMs() : 0);
      if (keep.count() > 0 && noteQueued.wait_for(hold, keep, [this] { return stop || played < queued; })) continue;
      hold.unlock();
      out.reset();
      made = false;
      hold.lock();
    } else {
      break;
    }
  }
  if (out) {
    hold.unlock();
    out.reset();
    hold.lock();
  }
  running = false;
  hold.unlock();
  ended.notify_all();
}

void State::play(platform::MidiOut* out, const Note& note, const NoteSleep& sleepFor) {
  const bool opened = out && out->open();
  const uint32_t key = static_cast<uint32_t>(midiNoteOf(note.frequency));
  const uint32_t velocity = static_cast<uint32_t>(note.velocity);
  if (opened) {
    out->shortMessage(0xC0 | static_cast<uint32_t>(note.instrument) << 8);
    out->shortMessage(0x90 | key << 8 | velocity << 16);
  }
  const auto ms = static_cast<int64_t>(note.duration * (1 / note.tempo + 0.0001));
  if (sleepFor) {
    sleepFor(ms);
  } else {
    std::unique_lock<std::mutex> hold(lock);
    stopping.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stop; });
  }
  if (opened) {
    out->shortMessage(0x80 | key << 8 | velocity << 16);
    out->close();
  }
}

int32_t queue(int32_t duration, int32_t velocity, int32_t instrument, int32_t note) {
  if (velocity < 0 || velocity > 127 || instrument < 0 || instrument > 127) return kBadArgument;
  const double frequency = noteFrequency(note);
  if (midiNoteOf(frequency) < 0) return kBadArgument;

  static const char anchor = 0;
  static const bool pinned [[maybe_unused]] = platform::keepLibraryLoaded(&anchor);
  State& s = state();
  {
    std::unique_lock<std::mutex> hold(s.lock);
    if (s.stop) return kOk;  // the library is going
    const uint64_t n = ++s.queued;
    s.ring[slotOf(n)] = Note {frequency, std::max(duration, kShortestMs), velocity, instrument, kTempo, n};
    if (s.running) {
      hold.unlock();
      s.noteQueued.notify_one();
      return kOk;
    }
    if (s.player.joinable()) s.player.join();  // an ended player, at most leaving its function
    s.running = true;
    try {
      s.player = std::thread([&s] { s.run(); });
    } catch (...) {
      s.running = false;
      return kNoPlayer;  // the note stays queued for the next player
    }
  }
  platform::sleepMs(1);
  return kOk;
}

}  // namespace

double noteFrequency(int32_t note) { return 15.4315369586 * std::exp(0.0577845404 * note); }

int32_t voice(int32_t duration, int32_t velocity, int32_t instrument, int32_t note) noexcept {
  return telvaris::atBoundary<int32_t>(kNoPlayer, [&] { return queue(duration, velocity, instrument, note); });
}

void useMidiOut(MidiOutFactory factory, NoteSleep sleep) {
  State& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.factory = std::move(factory);
  s.noteSleep = std::move(sleep);
}

bool playerRunning() {
  State& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.running;
}

bool waitIdle(int timeoutMs) {
  State& s = state();
  std::unique_lock<std::mutex> hold(s.lock);
  return s.ended.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&s] { return !s.running; });
}

}  // namespace outputs::midi

extern "C" {

TLV_API int32_t TLV_CALL MidiVoice(int32_t duration, int32_t velocity, int32_t instrument, int32_t note) {
  return outputs::midi::voice(duration, velocity, instrument, note);
}

}  // extern "C"
