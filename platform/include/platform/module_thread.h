// A thread whose code lives in a library that its host may unload.
//
// Windows runs a library's static destructors at unload under the loader
// lock, where no thread can end: a destructor that joins a running thread
// waits for ever. There the thread holds the module its code is in for as
// long as it runs and lets go of it only as it ends
// (FreeLibraryAndExitThread). So the module is never unloaded under a
// running thread (a host's FreeLibrary leaves it loaded until the thread
// has ended), and at the process's end, when the system has already ended
// the thread, join() returns at once. Here it is a plain thread, and a
// library unloaded with it running may join it in its destructors.
#pragma once

#include <functional>
#include <memory>

namespace platform {

class ModuleThread {
 public:
  ModuleThread();
  ~ModuleThread();  // lets a thread still running go on alone
  ModuleThread(const ModuleThread&) = delete;
  ModuleThread& operator=(const ModuleThread&) = delete;

  // Runs `body` on a new thread; false when none can be made (nothing runs
  // then). Only while not joinable().
  bool start(std::function<void()> body);
  // True from a start until join() or detach().
  bool joinable() const;
  // Waits until the thread has ended (or left the module, at its end).
  void join();
  void detach();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
