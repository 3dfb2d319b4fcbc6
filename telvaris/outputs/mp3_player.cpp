// The MP3 player: the exports write the command word, the player thread
// sleeps until the word changes and carries out whatever it then holds, so
// a command overwritten before the thread woke is never carried out.
//
// Threads: the command word is the only thing the callers and the player
// share while it runs. The path is written before the thread starts and
// read again only after it was joined; InitialiseMP3 and terminateMP3 hold
// the lifecycle lock, so a thread is started and joined by one caller at a
// time. Command strings go to the media device under a lock of their own
// (the player sends them, terminateMP3 sends the last). The player loads
// the media framework and its plugins, so starting one pins the library
// (platform/pin_library.h): the module goes at the process's end, never at
// an unload where a loading player would deadlock.
#include "outputs/mp3_player.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "boundary.h"
#include "dsu/debug_log.h"
#include "platform/clock.h"
#include "platform/pin_library.h"

namespace outputs::mp3 {
namespace {

constexpr int32_t kNoneYet = 999;  // no command has this value
constexpr uint32_t kMuteGraceMs = 500;

// One player per process. It goes with the library and ends and joins its
// player first. It is made after the debug log's state (see the
// constructor), so it goes before it: the player's last line still has a
// log to go to.
struct State {
  std::mutex lifecycle;
  std::atomic<int32_t> command {kPaused};
  std::string path;
  std::thread player;  // joinable while a player runs: only terminate ends one
  std::mutex mciLock;
  std::shared_ptr<platform::Mci> mci;

  State() { dsu::loggingOn(); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (!player.joinable()) return;
    set(kTerminate);
    player.join();
  }

  void set(int32_t c) {
    command.store(c);
    command.notify_all();
  }

  // One string to the media device; its errors are ignored, as are those of
  // running out of memory on the way.
  void send(const char* text) noexcept {
    try {
      std::lock_guard<std::mutex> hold(mciLock);
      if (!mci) mci = platform::makeMci();
      mci->sendString(text);
    } catch (...) {
    }
  }

  void carryOut(int32_t c) noexcept {
    switch (c) {
      case kOpen:
        dsu::log("Audio: Opening %s\n", path.c_str());
        try {
          send(("open " + path + " type mpegvideo alias myFile").c_str());
        } catch (...) {
        }
        send("play MyFile repeat");
        break;
      case kPlay:
        send("play MyFile repeat");
        break;
      case kMute:
        send("setaudio myFile volume to 0");
        send("pause myFile");
        break;
      case kUnmute:
        send("resume myFile");
        send("setaudio myFile volume to 1000");
        break;
      case kPaused:
        send("pause myFile");
        break;
      default:
        break;
    }
  }

  void run() noexcept {
    dsu::log("Audio: Thread created\n");
    int32_t last = kNoneYet;
    for (;;) {
      command.wait(last);  // until the word differs from the last command carried out
      const int32_t c = command.load();
      if (c == last) continue;
      if (c == kTerminate) break;
      carryOut(c);
      last = c;
    }
    dsu::log("Audio: Exiting thread\n");
  }
};

State& state() {
  static State s;
  return s;
}

int32_t start(const char* path) {
  if (!path) return kBadPath;
  const size_t length = strnlen(path, kMaxPath + 1);
  if (length > kMaxPath) return kBadPath;
  State& s = state();
  std::lock_guard<std::mutex> hold(s.lifecycle);
  if (s.player.joinable()) {
    // One player at a time; its file stays until terminateMP3.
    dsu::log("Audio: Player already running\n");
    return kOk;
  }
  static const char anchor = 0;
  static const bool pinned [[maybe_unused]] = platform::keepLibraryLoaded(&anchor);
  s.path.assign(path, length);
  // A new player starts paused, also after a terminate left its command.
  s.command.store(kPaused);
  try {
    s.player = std::thread([&s] { s.run(); });
  } catch (...) {
    dsu::log("Audio: Cannot create MP3 processing thread\n");
    return kNoThread;
  }
  return kOk;
}

int32_t stop() {
  State& s = state();
  std::lock_guard<std::mutex> hold(s.lifecycle);
  mute();
  platform::sleepMs(kMuteGraceMs);  // time for the player to mute and pause
  s.set(kTerminate);
  dsu::log("Audio: Terminate MP3\n");
  if (s.player.joinable()) s.player.join();
  dsu::log("Audio: Closing %s\n", s.path.c_str());
  s.send("close myFile");
  return kOk;
}

}  // namespace

int32_t initialise(const char* path) noexcept {
  return telvaris::atBoundary<int32_t>(kNoThread, [path] { return start(path); });
}

int32_t open() noexcept {
  dsu::log("Audio: Open MP3\n");
  state().set(kOpen);
  return kOk;
}

int32_t play() noexcept {
  State& s = state();
  if (s.command.load() == kMute) {
    dsu::log("Audio: Play (unmute) MP3\n");
    s.set(kUnmute);
  } else {
    dsu::log("Audio: Play MP3\n");
    s.set(kPlay);
  }
  return kOk;
}

int32_t mute() noexcept {
  dsu::log("Audio: Mute MP3\n");
  state().set(kMute);
  return kOk;
}

int32_t terminate() noexcept {
  // The lock and the join report failures only as exceptions; the player
  // is then left as it is.
  return telvaris::atBoundary<int32_t>(kOk, [] { return stop(); });
}

void useMci(std::shared_ptr<platform::Mci> mci) {
  State& s = state();
  std::lock_guard<std::mutex> hold(s.mciLock);
  s.mci = std::move(mci);
}

bool playerRunning() {
  State& s = state();
  std::lock_guard<std::mutex> hold(s.lifecycle);
  return s.player.joinable();
}

}  // namespace outputs::mp3

extern "C" {

TLV_API int32_t TLV_CALL InitialiseMP3(const char* path) { return outputs::mp3::initialise(path); }

TLV_API int32_t TLV_CALL openMP3(void) { return outputs::mp3::open(); }

TLV_API int32_t TLV_CALL playMP3(void) { return outputs::mp3::play(); }

TLV_API int32_t TLV_CALL muteMP3(void) { return outputs::mp3::mute(); }

TLV_API int32_t TLV_CALL terminateMP3(void) { return outputs::mp3::terminate(); }

}  // extern "C"
