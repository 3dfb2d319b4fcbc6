// The thread that holds its module while it runs (see module_thread.h).
#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/module_thread.h"

namespace platform {
namespace {

// Set as this module is unloaded or its process ends (DllMain below),
// before its static destructors run under the loader lock. No module
// thread runs the module's code then: each holds the module while it
// does, so an unload comes only after the last one let go, and at the
// process's end the system has already ended them.
std::atomic<bool> unloading {false};

struct Launch {
  std::function<void()> body;
  HMODULE module = nullptr;  // the reference the thread holds
};

DWORD WINAPI runHoldingModule(void* argument) {
  std::unique_ptr<Launch> launch(static_cast<Launch*>(argument));
  try {
    launch->body();
  } catch (...) {
  }
  const HMODULE module = launch->module;
  launch.reset();
  // Nothing of the module runs after this: the reference is given back and
  // the thread ends in one call of the system's.
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

struct ModuleThread::Impl {
  HANDLE thread = nullptr;
};

ModuleThread::ModuleThread() = default;

ModuleThread::~ModuleThread() { detach(); }

bool ModuleThread::start(std::function<void()> body) {
  std::unique_ptr<Launch> launch;
  try {
    if (!impl_) impl_ = std::make_unique<Impl>();
    launch = std::make_unique<Launch>(Launch {std::move(body), nullptr});
  } catch (...) {
    return false;
  }
  // Taken here, before the thread exists, so the module cannot go between
  // its start and its first instruction.
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&runHoldingModule),
                          &launch->module))
    return false;
  const HMODULE module = launch->module;
  const HANDLE thread = CreateThread(nullptr, 0, runHoldingModule, launch.get(), 0, nullptr);
  if (!thread) {
    FreeLibrary(module);
    return false;
  }
  launch.release();  // the thread's now
  impl_->thread = thread;
  return true;
}

bool ModuleThread::joinable() const { return impl_ && impl_->thread; }

void ModuleThread::join() {
  if (!joinable()) return;
  if (!unloading) WaitForSingleObject(impl_->thread, INFINITE);
  detach();
}

void ModuleThread::detach() {
  if (!joinable()) return;
  CloseHandle(impl_->thread);
  impl_->thread = nullptr;
}

}  // namespace platform

// The module's entry: notes when it is being unloaded (or its process
// ends), before its static destructors run.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) platform::unloading = true;
  return TRUE;
}
