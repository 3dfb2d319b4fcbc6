// The program's window thread: runs events one at a time, lets pending
// events run inside a handler, shows message boxes and ends the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/backend.h"

namespace ui {

class Form;

// Thrown by Application::end to leave every handler at once; the outermost
// dispatch catches it. Nothing else should catch it.
struct ProgramEnd {
  int exitCode;
};

class Application {
 public:
  explicit Application(Backend& backend);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  Backend& backend() const { return backend_; }

  // Runs `event` as one event of the window thread. The outermost dispatch
  // ends the program's handlers when one of them calls end(); nested ones
  // (events run from doEvents) pass the end on. Events after the end are
  // dropped; returns false for them.
  bool dispatch(const std::function<void()>& event);

  // Ends the program at once: no further event of any form runs, the
  // current handlers are left, and run() returns `exitCode`.
  [[noreturn]] void end(int exitCode);
  bool ended() const { return ended_; }
  int exitCode() const { return exitCode_; }

  // Lets pending events run (input, due timers) before returning.
  void doEvents();
  // Blocks the window thread.
  void sleep(uint32_t ms);

  MessageBoxResult msgBox(const std::string& text, MessageBoxButtons buttons);
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

  // The form that closes when the process is asked to end (SIGINT, SIGTERM).
  void setMainForm(Form* form) { mainForm_ = form; }
  Form* mainForm() const { return mainForm_; }
  // Called by backends when the process has been asked to end: the main
  // form is closed as if the user closed it.
  void terminationRequested();

  // Loads and shows `startup` as the program's first form (its load
  // handler may end the program already).
  void start(Form& startup);
  // start(), then runs events until the program ends; returns its exit
  // code.
  int run(Form& startup);

  // A form object that must outlive the handlers now running (a window
  // unloaded inside its own timer's tick); freed when the outermost event
  // returns.
  void retire(std::unique_ptr<Form> form);

  Form* focused() const { return focused_; }
  void setFocused(Form* form) { focused_ = form; }
  void forgetForm(Form* form);

 private:
  Backend& backend_;
  int depth_ = 0;
  bool ended_ = false;
  int exitCode_ = 0;
  std::string title_ = "Telvaris LumiDrop";
  Form* mainForm_ = nullptr;
  Form* focused_ = nullptr;
  std::vector<std::unique_ptr<Form>> retired_;
};

}  // namespace ui
