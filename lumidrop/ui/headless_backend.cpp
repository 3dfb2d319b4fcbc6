#include "ui/headless_backend.h"

#include <algorithm>
#include <limits>

#include "platform/clock.h"
#include "platform/process.h"

namespace ui {

namespace {

std::string pathOf(const Control& c) {
  const Form& f = c.form();
  if (&f == &c) return c.name();
  return f.name() + "." + c.name();
}

const char* stateName(WindowState s) {
  switch (s) {
    case WindowState::Minimized:
      return "minimised";
    case WindowState::Maximized:
      return "maximised";
    default:
      return "normal";
  }
}

std::string geometryText(const Control& c) {
  return std::to_string(c.left()) + "," + std::to_string(c.top()) + " " + std::to_string(c.width()) + "x" +
         std::to_string(c.height());
}

}  // namespace

HeadlessBackend::HeadlessBackend(Clock clock, std::ostream* log)
    : clock_(clock), log_(log), realStart_(platform::tickMs()) {}

void HeadlessBackend::attach(Application& app) { app_ = &app; }

void HeadlessBackend::log(const std::string& line) {
  if (log_) *log_ << "[ui] " << line << std::endl;
}

uint32_t HeadlessBackend::now() const {
  return clock_ == Clock::Virtual ? virtualNow_ : platform::tickMs() - realStart_;
}

int32_t HeadlessBackend::createWindow(Form& form) {
  if (form.design().defaultPlacement) {
    // Like the window system's cascade: each new window a little lower and
    // further right, starting again after a few.
    const int32_t offset = (placed_++ % 8) * 26 * kTwipsPerPixel;
    form.placeAt(1440 + offset, 1440 + offset, form.width(), form.height());
  }
  const int32_t handle = nextHandle_++;
  windows_[handle] = &form;
  log(form.name() + " loaded, " + geometryText(form));
  return handle;
}

void HeadlessBackend::destroyWindow(Form& form) {
  for (auto it = windows_.begin(); it != windows_.end();) {
    it = it->second == &form ? windows_.erase(it) : std::next(it);
  }
  repaints_.erase(&form);
  log(form.name() + " unloaded");
}

void HeadlessBackend::changed(Control& control, Property what) {
  switch (what) {
    case Property::Geometry:
      if (control.kind() == Kind::Form) log(pathOf(control) + " at " + geometryText(control));
      break;
    case Property::Caption:
      log(pathOf(control) + " \"" + control.caption() + "\"");
      break;
    case Property::Visible:
      log(pathOf(control) + (control.visible() ? " shown" : " hidden"));
      break;
    case Property::Enabled:
      log(pathOf(control) + (control.enabled() ? " enabled" : " disabled"));
      break;
    case Property::Value:
      if (control.kind() == Kind::CheckBox) {
        log(pathOf(control) + " = " + std::to_string(static_cast<CheckBox&>(control).value()));
      } else if (control.kind() == Kind::Slider) {
        log(pathOf(control) + " = " + std::to_string(static_cast<Slider&>(control).value()));
      }
      break;
    case Property::WindowState:
      log(pathOf(control) + " " + stateName(static_cast<Form&>(control).windowState()));
      break;
    case Property::Range:
      break;
  }
}

void HeadlessBackend::repaint(Form& form) { ++repaints_[&form]; }

int HeadlessBackend::repaints(const Form& form) const {
  auto it = repaints_.find(&form);
  return it == repaints_.end() ? 0 : it->second;
}

void HeadlessBackend::focus(Form& form) { log(form.name() + " has the focus"); }

void HeadlessBackend::timerChanged(Timer& timer, bool alive) {
  if (alive && timer.armed()) {
    due_[&timer] = now() + timer.interval();
  } else {
    due_.erase(&timer);
  }
}

int64_t HeadlessBackend::dueIn(const Timer& timer) const {
  auto it = due_.find(const_cast<Timer*>(&timer));
  if (it == due_.end()) return -1;
  const int64_t left = static_cast<int64_t>(it->second) - now();
  return std::max<int64_t>(left, 0);
}

MessageBoxResult HeadlessBackend::messageBox(const std::string& text, const std::string& title,
                                             MessageBoxButtons buttons) {
  ShownMessage shown{text, title, buttons, MessageBoxResult::Ok};
  if (!answers_.empty()) {
    shown.answer = answers_.front();
    answers_.pop_front();
  } else if (buttons == MessageBoxButtons::YesNo) {
    shown.answer = fallbackAnswer ? fallbackAnswer(shown) : MessageBoxResult::No;
  } else {
    shown.answer = fallbackAnswer ? fallbackAnswer(shown) : MessageBoxResult::Ok;
  }
  const char* answer = shown.answer == MessageBoxResult::Yes ? "Yes" : shown.answer == MessageBoxResult::No ? "No" : "OK";
  log("message box \"" + text + "\" answered " + answer);
  messages_.push_back(shown);
  return shown.answer;
}

void HeadlessBackend::answerNext(MessageBoxResult answer) { answers_.push_back(answer); }

void HeadlessBackend::post(std::function<void()> input) { posted_.push_back(std::move(input)); }

Form* HeadlessBackend::window(int32_t hwnd) const {
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : it->second;
}

bool HeadlessBackend::runPosted() {
  bool ran = false;
  while (!posted_.empty()) {
    auto input = std::move(posted_.front());
    posted_.pop_front();
    ran = true;
    input();
  }
  return ran;
}

int64_t HeadlessBackend::nextDue() const {
  int64_t best = -1;
  for (const auto& [timer, due] : due_) {
    if (best < 0 || due < best) best = due;
  }
  return best;
}

// Fires every timer due by `upTo`, earliest first; a virtual clock moves to
// each firing time.
bool HeadlessBackend::fireDueTimers(uint32_t upTo) {
  bool fired = false;
  std::map<Timer*, bool> tried;
  for (;;) {
    Timer* next = nullptr;
    uint32_t when = std::numeric_limits<uint32_t>::max();
    for (const auto& [timer, due] : due_) {
      if (due <= upTo && due < when && !tried.count(timer)) {
        next = timer;
        when = due;
      }
    }
    if (!next) return fired;
    tried[next] = true;
    if (clock_ == Clock::Virtual) virtualNow_ = std::max(virtualNow_, when);
    // The next tick counts from this one; the handler may set another.
    due_[next] = now() + next->interval();
    next->fire();
    fired = true;
    if (app_ && app_->ended()) return fired;
  }
}

void HeadlessBackend::doEvents() {
  // A termination request is an event like the others: a long handler
  // that lets events run (the test sweep) closes down inside.
  if (platform::takeTerminationRequest() && app_) app_->terminationRequested();
  runPosted();
  fireDueTimers(now());
}

void HeadlessBackend::sleep(uint32_t ms) {
  if (clock_ == Clock::Virtual) {
    virtualNow_ += ms;
  } else {
    platform::sleepMs(ms);
  }
}

// One turn of the loop: input, due timers, and then waiting for the next
// thing to happen, no later than `deadline`.
void HeadlessBackend::step(uint32_t deadline) {
  if (platform::takeTerminationRequest() && app_) app_->terminationRequested();
  if (app_ && app_->ended()) return;
  runPosted();
  if (app_ && app_->ended()) return;
  if (fireDueTimers(now())) return;
  const int64_t due = nextDue();
  uint32_t until = deadline;
  if (due >= 0 && static_cast<uint32_t>(due) < until) until = static_cast<uint32_t>(due);
  if (clock_ == Clock::Virtual) {
    virtualNow_ = std::max(virtualNow_, until);
  } else if (until > now()) {
    // Short naps keep termination requests and posted input prompt.
    platform::sleepMs(std::min<uint32_t>(until - now(), 5));
  }
}

void HeadlessBackend::advance(uint32_t ms) {
  const uint32_t target = now() + ms;
  while (now() < target && !(app_ && app_->ended())) step(target);
  if (!(app_ && app_->ended())) {
    runPosted();
    fireDueTimers(now());
  }
}

bool HeadlessBackend::runUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const uint32_t deadline = now() + timeoutMs;
  while (!done()) {
    if ((app_ && app_->ended()) || now() >= deadline) return done();
    step(std::min(deadline, now() + 1));
  }
  return true;
}

void HeadlessBackend::run() {
  quit_ = false;
  while (!quit_ && !(app_ && app_->ended())) {
    if (clock_ == Clock::Virtual && nextDue() < 0 && posted_.empty()) return;  // nothing can happen any more
    step(std::numeric_limits<uint32_t>::max());
  }
}

void HeadlessBackend::quit() { quit_ = true; }

}  // namespace ui
