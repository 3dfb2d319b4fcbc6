#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/shared_memory.h"

namespace platform {
namespace {

// Every user holds a shared lock on the "users" object for as long as it
// has the block mapped; whoever gets it exclusively is alone. Set-up and
// tear-down run one process at a time under the "setup" object's lock.
struct SetupLock {
  explicit SetupLock(const std::string& name) {
    fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) flock(fd, LOCK_EX);
  }
  ~SetupLock() {
    if (fd >= 0) ::close(fd);  // closing releases the lock
  }
  int fd = -1;
};

std::string shmName(const std::string& name, const char* suffix) {
  return "/" + name + "-" + std::to_string(getuid()) + suffix;
}

}  // namespace

SharedMemory::~SharedMemory() { close(); }

bool SharedMemory::open(const std::string& name, size_t size) {
  close();
  name_ = name;
  SetupLock setup(shmName(name, ".setup"));
  if (setup.fd < 0) {
    error_ = std::string("shm_open: ") + strerror(errno);
    return false;
  }
  usersFd_ = shm_open(shmName(name, ".users").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  const int blockFd = shm_open(shmName(name, "").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (usersFd_ < 0 || blockFd < 0) {
    error_ = std::string("shm_open: ") + strerror(errno);
    if (blockFd >= 0) ::close(blockFd);
    close();
    return false;
  }
  fresh_ = flock(usersFd_, LOCK_EX | LOCK_NB) == 0;
  if (fresh_) {
    // Alone: whatever an earlier generation of users left goes.
    if (ftruncate(blockFd, 0) != 0 || ftruncate(blockFd, static_cast<off_t>(size)) != 0) {
      error_ = std::string("ftruncate: ") + strerror(errno);
      ::close(blockFd);
      close();
      return false;
    }
  }
  flock(usersFd_, LOCK_SH);
  struct stat st {};
  if (fstat(blockFd, &st) != 0 || static_cast<size_t>(st.st_size) < size) {
    error_ = "shared block has the wrong size";
    ::close(blockFd);
    close();
    return false;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, blockFd, 0);
  ::close(blockFd);
  if (p == MAP_FAILED) {
    error_ = std::string("mmap: ") + strerror(errno);
    close();
    return false;
  }
  data_ = p;
  size_ = size;
  return true;
}

void SharedMemory::close() {
  if (data_) munmap(data_, size_);
  data_ = nullptr;
  if (usersFd_ >= 0) {
    SetupLock setup(shmName(name_, ".setup"));
    ::close(usersFd_);
    usersFd_ = -1;
    // The last user removes the block itself; the lock objects stay.
    const int probe = shm_open(shmName(name_, ".users").c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (probe >= 0) {
      if (flock(probe, LOCK_EX | LOCK_NB) == 0) shm_unlink(shmName(name_, "").c_str());
      ::close(probe);
    }
  }
}

}  // namespace platform
