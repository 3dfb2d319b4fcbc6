// The form toolkit on the Windows user interface: each form a top-level
// window, each control a native child window (buttons, check boxes, group
// boxes as frames, static labels, trackbars from the common controls), each
// timer a SetTimer timer of its form's window, message boxes MessageBoxA.
//
// Positions and sizes stay in twips in the model; the backend turns them
// into pixels by the screen's dpi (the program declares itself dpi-aware).
// A form's model geometry is its outer window, as SetWindowPos takes it;
// when a window is made, the model's outer size becomes the designed client
// area with this system's real frame around it.
//
// User input reaches the model only through its user* entry points. No C++
// exception crosses a window procedure: an end of the program raised by a
// handler that ran inside pending events (doEvents, a message box) is
// carried past the system's frames and raised again on the handler's side,
// and so is any other exception.
//
// Window handles are the system's own, as 32-bit values (Windows keeps
// user handles within 32 bits, also for 64-bit programs).
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/application.h"
#include "ui/backend.h"
#include "ui/controls.h"

namespace ui {

class Win32Backend : public Backend {
 public:
  Win32Backend();
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

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

  // The window of `control` (a form or a control on a loaded form), or 0.
  int32_t handle(const Control& control) const;
  // The control whose window that is, or nullptr.
  Control* control(int32_t handle) const;

  // Twips per pixel on the screen (1440 / dpi).
  double twipsPerPixel() const { return twipsPerPixel_; }
  int32_t toPixels(int32_t twips) const;
  int32_t toTwips(int32_t pixels) const;

  // Lets events run, from outside any handler, until `done` holds (true),
  // the program ends or `timeoutMs` pass (false).
  bool runUntil(const std::function<bool()>& done, uint32_t timeoutMs);

  // The window procedures' way in (not for callers).
  intptr_t formMessage(void* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam, bool& handled);
  void backendMessage(unsigned message, uintptr_t wParam);

 private:
  struct Window {
    void* hwnd = nullptr;
    void* background = nullptr;  // the form's brush
  };

  // Runs user input into the model; an end or another exception raised
  // inside is kept until the system's frames are behind us.
  void deliver(const std::function<void()>& input);
  void raisePending();
  void checkTermination();
  // Answers the message box on screen with its way out (No, or OK).
  void answerOpenBox();
  // One message through the dialogue keys and on to its window.
  void dispatchMessage(void* msg);

  void makeControls(Container& container, void* parent);
  void makeControl(Control& control, void* parent);
  void applyControlGeometry(Control& control);
  void applyRange(Control& control);
  void syncValue(Control& control);
  void applyFormGeometry(Form& form);
  void applyFormVisibility(Form& form);
  // The window was moved, sized, minimised or restored by the user or the
  // window manager: the model takes it.
  void windowPlaced(Form& form);
  Form* formOf(void* hwnd) const;

  Application* app_ = nullptr;
  void* instance_ = nullptr;
  void* messageWindow_ = nullptr;  // the backend's own hidden window
  void* font_ = nullptr;
  double twipsPerPixel_ = 15.0;
  int placed_ = 0;
  int nextControlId_ = 100;
  uintptr_t nextTimerId_ = 1;
  std::map<const Form*, Window> windows_;
  std::map<const Control*, void*> handles_;
  std::map<void*, Control*> controls_;
  std::map<Timer*, uintptr_t> timers_;
  std::map<uintptr_t, Timer*> timerIds_;
  std::optional<ProgramEnd> pendingEnd_;
  std::exception_ptr pendingError_;
  bool quit_ = false;
  // The message box on screen: its way out (IDOK or IDNO), 0 when none.
  int openBoxWayOut_ = 0;
  int syncing_ = 0;
};

}  // namespace ui
