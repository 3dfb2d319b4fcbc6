// A block of memory shared by every process of this user that names it.
//
// The first process to map a block finds it all zero; it keeps its contents
// while any process has it mapped, and a later first user finds it zeroed
// again (even after every user died without unmapping). Windows gives the
// library a shared data section for this; here it is POSIX shared memory.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Maps the block called `name` (letters, digits, '-' and '_') of `size`
  // bytes. False when the system refuses; error() says why.
  bool open(const std::string& name, size_t size);
  void close();

  void* data() const { return data_; }
  // True when this process was the block's first user (it reads all zero).
  bool fresh() const { return fresh_; }
  const std::string& error() const { return error_; }

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
  int usersFd_ = -1;
  bool fresh_ = false;
  std::string name_;
  std::string error_;
};

}  // namespace platform
