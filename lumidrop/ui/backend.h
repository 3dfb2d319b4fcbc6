// What a window system does for the form toolkit.
//
// The model (controls.h) holds every property; a backend only draws it and
// feeds the user's input back through the model's user* entry points, each
// wrapped in Application::dispatch. A backend never changes a property on
// its own except through those entry points, so forms work the same on
// every backend: headless (tests, and the program when there is no
// display), Qt (the program's windows on a desktop), Win32 (the Windows
// build).
#pragma once

#include <cstdint>
#include <string>

namespace ui {

class Application;
class Control;
class Form;
class Timer;

// Which property of a control the model changed.
enum class Property {
  Geometry,     // left, top, width, height
  Caption,      // caption or label text
  Visible,
  Enabled,
  Value,        // check box state, slider value
  Range,        // slider minimum, maximum and steps
  WindowState,  // forms: normal, minimised, maximised
};

enum class MessageBoxButtons { Ok, YesNo };
enum class MessageBoxResult { Ok = 1, Yes = 6, No = 7 };

class Backend {
 public:
  virtual ~Backend() = default;

  // Called once by the Application that uses this backend.
  virtual void attach(Application& app) = 0;

  // Makes the native window of a form that is being loaded, hidden, with
  // every control of it. When form.defaultPlacement() is set the backend
  // chooses the position and writes it into the form (Form::placeAt).
  // Returns the window's 32-bit handle (never 0).
  virtual int32_t createWindow(Form& form) = 0;
  // Called just before the form's model is unloaded.
  virtual void destroyWindow(Form& form) = 0;

  // The model changed `what` of `control` (a form or a control on it).
  virtual void changed(Control& control, Property what) = 0;
  // Draw `form` now, before the next event runs.
  virtual void repaint(Form& form) = 0;
  // `form` takes the keyboard focus.
  virtual void focus(Form& form) = 0;

  // A timer's interval or enabled state changed (also when it is created
  // and when it goes away: `alive` false).
  virtual void timerChanged(Timer& timer, bool alive) = 0;

  // A modal message box; returns the button the user chose.
  virtual MessageBoxResult messageBox(const std::string& text, const std::string& title,
                                      MessageBoxButtons buttons) = 0;

  // Runs the events that are waiting (user input, due timers) and returns.
  virtual void doEvents() = 0;
  // Blocks the window thread for `ms` milliseconds; no event runs.
  virtual void sleep(uint32_t ms) = 0;

  // Runs events until quit() is called; returns then.
  virtual void run() = 0;
  virtual void quit() = 0;
};

}  // namespace ui
