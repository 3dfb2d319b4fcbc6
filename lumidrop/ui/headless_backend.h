// A backend without a window system. Tests drive it the way a user drives a
// screen (click, drag a slider, close a window, answer a message box) and
// let time pass, on a virtual clock that moves only when told or on the
// real one; the program runs on it until a window system is wired in, and
// then it writes what it would show to a log.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "ui/application.h"
#include "ui/backend.h"
#include "ui/controls.h"

namespace ui {

class HeadlessBackend : public Backend {
 public:
  enum class Clock { Virtual, Real };

  struct ShownMessage {
    std::string text;
    std::string title;
    MessageBoxButtons buttons;
    MessageBoxResult answer;
  };

  explicit HeadlessBackend(Clock clock = Clock::Virtual, std::ostream* log = nullptr);

  // Backend
  void attach(Application& app) override;
  int32_t createWindow(Form& form) override;
  void destroyWindow(Form& form) override;
  void changed(Control& control, Property what) override;
  void repaint(Form& form) override;
  void focus(Form& form) override;
  void timerChanged(Timer& timer, bool alive) override;
  MessageBoxResult messageBox(const std::string& text, const std::string& title,
                              MessageBoxButtons buttons) override;
  void doEvents() override;
  void sleep(uint32_t ms) override;
  void run() override;
  void quit() override;

  // Milliseconds since the backend was made.
  uint32_t now() const;
  // Lets `ms` pass: due timers fire and posted input runs on the way.
  void advance(uint32_t ms);
  // Lets time pass until `done` holds (true), the program ends or
  // `timeoutMs` pass (false).
  bool runUntil(const std::function<bool()>& done, uint32_t timeoutMs);

  // User input that arrives while the window thread is busy: it runs at
  // the next chance to handle events (a handler letting events run, or the
  // loop).
  void post(std::function<void()> input);

  // The answer to the next message box; without one, OK boxes are answered
  // OK and Yes/No boxes by `fallbackAnswer` (No when none is set).
  void answerNext(MessageBoxResult answer);
  std::function<MessageBoxResult(const ShownMessage&)> fallbackAnswer;
  const std::vector<ShownMessage>& messages() const { return messages_; }

  // The loaded form with that window handle, or nullptr.
  Form* window(int32_t hwnd) const;
  // How often `form` was drawn at once (Form::refresh).
  int repaints(const Form& form) const;
  // When `timer` fires next (now() when due), or -1 while it is not armed.
  int64_t dueIn(const Timer& timer) const;

 private:
  void log(const std::string& line);
  bool runPosted();
  bool fireDueTimers(uint32_t upTo);
  int64_t nextDue() const;
  void step(uint32_t deadline);

  Clock clock_;
  std::ostream* log_;
  Application* app_ = nullptr;
  uint32_t virtualNow_ = 0;
  uint32_t realStart_ = 0;
  bool quit_ = false;
  int32_t nextHandle_ = 0x1000;
  int placed_ = 0;
  std::map<int32_t, Form*> windows_;
  std::map<const Form*, int> repaints_;
  std::map<Timer*, uint32_t> due_;
  std::deque<std::function<void()>> posted_;
  std::deque<MessageBoxResult> answers_;
  std::vector<ShownMessage> messages_;
};

}  // namespace ui
