#include <thread>

#include "platform/module_thread.h"

namespace platform {

struct ModuleThread::Impl {
  std::thread thread;
};

ModuleThread::ModuleThread() = default;

ModuleThread::~ModuleThread() { detach(); }

bool ModuleThread::start(std::function<void()> body) {
  try {
    if (!impl_) impl_ = std::make_unique<Impl>();
    impl_->thread = std::thread(std::move(body));
    return true;
  } catch (...) {
    return false;
  }
}

bool ModuleThread::joinable() const { return impl_ && impl_->thread.joinable(); }

void ModuleThread::join() {
  if (joinable()) impl_->thread.join();
}

void ModuleThread::detach() {
  if (joinable()) impl_->thread.detach();
}

}  // namespace platform
