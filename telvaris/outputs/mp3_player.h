// A music file as feedback: the exports set a command word, a player thread
// carries the latest command out through MCI command strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/mci.h"
#include "telvaris.h"

namespace outputs::mp3 {

enum Result : int32_t {
  kOk = TLV_MP3_OK,
  kNoThread = TLV_MP3_NO_THREAD,
  kBadPath = TLV_MP3_BAD_PATH,
};

// The command word's values.
enum Command : int32_t {
  kOpen = 0,
  kPlay = 1,
  kMute = 2,
  kUnmute = 3,
  kTerminate = 6,
  kPaused = 7,  // a new player's first command
};

constexpr size_t kMaxPath = 511;

// The exports' work.
int32_t initialise(const char* path) noexcept;
int32_t open() noexcept;
int32_t play() noexcept;
int32_t mute() noexcept;
int32_t terminate() noexcept;

// Test seam: where the command strings go (null: the system's MCI, made at
// the first string). Set it while no player runs.
void useMci(std::shared_ptr<platform::Mci> mci);

bool playerRunning();

}  // namespace outputs::mp3
