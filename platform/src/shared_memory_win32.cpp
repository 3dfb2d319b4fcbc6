// The block lives in a data section of the module itself, marked shared:
// Windows gives every process that loads the same module file one copy of
// it, zeroed when the first process loads the file and gone when the last
// one unloads it. The module that links this code (telvaris.dll) therefore
// holds one block for the machine; a 32-bit and a 64-bit build are
// different files with a block each, and so is any program that links the
// code statically. Every name maps to that one block.
#include <windows.h>

#include <cstring>

#include "platform/shared_memory.h"

namespace platform {
namespace {

constexpr size_t kCapacity = 16384;

struct SharedSection {
  volatile LONG lock;   // 0 free, 1 taken: set-up and tear-down, one process at a time
  volatile LONG users;  // processes with the block open
  alignas(16) unsigned char data[kCapacity];
};

// Initialised (to zero), as a shared section must be to stay in the image.
SharedSection section __attribute__((section(".tlshare"), shared)) = {};

class SectionLock {
 public:
  SectionLock() {
    while (InterlockedCompareExchange(&section.lock, 1, 0) != 0) Sleep(0);
  }
  ~SectionLock() { InterlockedExchange(&section.lock, 0); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;
};

}  // namespace

SharedMemory::~SharedMemory() { close(); }

bool SharedMemory::open(const std::string& name, size_t size) {
  close();
  name_ = name;
  if (size > kCapacity) {
    error_ = "the shared section holds " + std::to_string(kCapacity) + " bytes";
    return false;
  }
  SectionLock lock;
  fresh_ = InterlockedIncrement(&section.users) == 1;
  // Alone: what an earlier user of this loaded module left goes, as when the
  // module is loaded afresh.
  if (fresh_) std::memset(section.data, 0, sizeof section.data);
  usersFd_ = 1;  // counted among the users
  data_ = section.data;
  size_ = size;
  return true;
}

void SharedMemory::close() {
  if (usersFd_ < 0) return;
  SectionLock lock;
  InterlockedDecrement(&section.users);
  usersFd_ = -1;
  data_ = nullptr;
}

}  // namespace platform
