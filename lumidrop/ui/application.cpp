#include "ui/application.h"

#include "ui/controls.h"

namespace ui {

Application::Application(Backend& backend) : backend_(backend) { backend_.attach(*this); }

Application::~Application() { retired_.clear(); }

bool Application::dispatch(const std::function<void()>& event) {
  if (ended_) return false;
  if (depth_ > 0) {
    // Inside a handler that let pending events run: an end passes through
    // the handler that is waiting, as it must.
    event();
    return true;
  }
  struct Depth {
    int& d;
    explicit Depth(int& depth) : d(depth) { ++d; }
    ~Depth() { --d; }
  };
  {
    Depth outermost(depth_);
    try {
      event();
    } catch (const ProgramEnd&) {
    }
  }
  retired_.clear();
  return true;
}

void Application::end(int exitCode) {
  ended_ = true;
  exitCode_ = exitCode;
  backend_.quit();
  throw ProgramEnd{exitCode};
}

void Application::doEvents() { backend_.doEvents(); }

void Application::sleep(uint32_t ms) { backend_.sleep(ms); }

MessageBoxResult Application::msgBox(const std::string& text, MessageBoxButtons buttons) {
  return backend_.messageBox(text, title_, buttons);
}

void Application::terminationRequested() {
  if (mainForm_) mainForm_->userClose();
}

void Application::start(Form& startup) {
  if (!mainForm_) mainForm_ = &startup;
  dispatch([&startup] {
    startup.load();
    startup.show();
  });
}

int Application::run(Form& startup) {
  start(startup);
  if (!ended_) backend_.run();
  if (!ended_ && mainForm_ && mainForm_->onTerminate) dispatch(mainForm_->onTerminate);
  return exitCode_;
}

void Application::retire(std::unique_ptr<Form> form) {
  if (!form) return;
  if (depth_ == 0) return;  // nothing runs on it: `form` goes now
  retired_.push_back(std::move(form));
}

void Application::forgetForm(Form* form) {
  if (focused_ == form) focused_ = nullptr;
}

}  // namespace ui
