// The form toolkit's model: forms and the controls on them.
//
// Every property lives here; the backend is told of each change and draws
// it. Positions and sizes are in twips (1/1440 inch; 15 twips to the pixel
// at 96 dpi); a form's geometry is that of its outer window, a control's is
// relative to its container's client area.
//
// Changing a check box's value from code runs its click handler exactly as
// a user's click does, and only when the state changes. Changing a slider's
// value from code runs no handler; only the user's scrolling does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/backend.h"

namespace ui {

constexpr int32_t kTwipsPerPixel = 15;

enum class Kind { Form, Frame, Label, Button, CheckBox, Slider };

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
};

class Container;
class Form;
class Application;

class Control {
 public:
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control();

  Kind kind() const { return kind_; }
  const std::string& name() const { return name_; }
  Container* parent() const { return parent_; }
  Form& form() const;

  int32_t left() const { return rect_.left; }
  int32_t top() const { return rect_.top; }
  int32_t width() const { return rect_.width; }
  int32_t height() const { return rect_.height; }
  const Rect& rect() const { return rect_; }
  void setLeft(int32_t v);
  void setTop(int32_t v);
  void setWidth(int32_t v);
  void setHeight(int32_t v);

  const std::string& caption() const { return caption_; }
  void setCaption(std::string text);

  bool visible() const { return visible_; }
  void setVisible(bool v);
  bool enabled() const { return enabled_; }
  void setEnabled(bool v);

  // Visible itself and inside visible containers up to a shown form: what
  // the user can see (and so click).
  bool onScreen() const;
  // Enabled itself and inside enabled containers.
  bool usable() const;

 protected:
  Control(Kind kind, Container* parent, std::string name, Rect rect, std::string caption);
  void notify(Property what);
  void setRectField(int32_t Rect::*field, int32_t v);

  Rect rect_;
  bool visible_ = true;

 private:
  Kind kind_;
  Container* parent_;
  std::string name_;
  std::string caption_;
  bool enabled_ = true;
};

class Container : public Control {
 public:
  const std::vector<Control*>& children() const { return children_; }

 protected:
  using Control::Control;

 private:
  friend class Control;
  std::vector<Control*> children_;
};

class Frame : public Container {
 public:
  Frame(Container& parent, std::string name, Rect rect, std::string caption = {});
};

class Label : public Control {
 public:
  Label(Container& parent, std::string name, Rect rect, std::string caption = {});
};

class Button : public Control {
 public:
  Button(Container& parent, std::string name, Rect rect, std::string caption);
  std::function<void()> onClick;
  // The user pressed the button (ignored while it is not usable or seen).
  bool userClick();
};

class CheckBox : public Control {
 public:
  CheckBox(Container& parent, std::string name, Rect rect, std::string caption);
  // 0 unchecked, 1 checked.
  int value() const { return value_; }
  // Any non-zero value checks the box. Runs onClick when the state changes.
  void setValue(int value);
  std::function<void()> onClick;
  // The user clicked: the state flips and onClick runs.
  bool userClick();

 private:
  int value_ = 0;
};

class Slider : public Control {
 public:
  Slider(Container& parent, std::string name, Rect rect);
  int32_t min() const { return min_; }
  int32_t max() const { return max_; }
  int32_t smallChange() const { return smallChange_; }
  int32_t largeChange() const { return largeChange_; }
  void setRange(int32_t min, int32_t max, int32_t smallChange, int32_t largeChange);
  int32_t value() const { return value_; }
  // Clamped into [min, max]; runs no handler.
  void setValue(int32_t value);
  std::function<void()> onScroll;
  // The user dragged or stepped the slider to `value` (clamped); onScroll
  // runs.
  bool userScroll(int32_t value);

 private:
  int32_t min_ = 0;
  int32_t max_ = 10;
  int32_t smallChange_ = 1;
  int32_t largeChange_ = 5;
  int32_t value_ = 0;
};

class Timer {
 public:
  Timer(Form& form, std::string name);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  Form& form() const { return form_; }
  const std::string& name() const { return name_; }
  // Milliseconds; 0 never fires. Setting it restarts the count.
  uint32_t interval() const { return interval_; }
  void setInterval(uint32_t ms);
  bool enabled() const { return enabled_; }
  void setEnabled(bool on);
  // Fires only while enabled, with an interval, on a loaded form.
  bool armed() const;
  std::function<void()> onTimer;
  // The backend's tick. A timer whose handler is still running (it let
  // pending events run) does not fire again inside itself.
  bool fire();

 private:
  Form& form_;
  std::string name_;
  uint32_t interval_ = 0;
  bool enabled_ = true;
  bool running_ = false;
};

enum class WindowState { Normal = 0, Minimized = 1, Maximized = 2 };
enum class BorderStyle { FixedSingle, SizableToolWindow };

// What a form looks like as designed.
struct FormDesign {
  std::string caption;
  BorderStyle border = BorderStyle::FixedSingle;
  int32_t clientWidth = 0;   // twips
  int32_t clientHeight = 0;  // twips
  bool defaultPlacement = true;  // the window system chooses the position
  int32_t left = 0;              // used when defaultPlacement is false
  int32_t top = 0;
  bool showInTaskbar = true;
  uint32_t backColor = 0xF0F0F0;  // 0xRRGGBB
};

class Form : public Container {
 public:
  Form(Application& app, std::string name, FormDesign design);
  ~Form() override;

  Application& app() const { return app_; }
  const FormDesign& design() const { return design_; }
  // The outer window as designed: the client area with the frame around it.
  Rect designRect() const;

  bool loaded() const { return loaded_; }
  // Makes the window (hidden) and runs onLoad. Nothing when already loaded.
  void load();
  // Destroys the window; the model returns to its design state for the
  // next load. Runs no handler.
  void unload();
  void show();  // loads when needed
  void hide();
  void setFocus();  // loads when needed
  void refresh();   // draws at once
  bool hasFocus() const;

  // The window handle (loads when needed).
  int32_t hWnd();

  WindowState windowState() const { return state_; }
  void setWindowState(WindowState state);

  // Called by the backend in createWindow when it chose the position.
  void placeAt(int32_t left, int32_t top, int32_t width, int32_t height);

  const std::vector<Timer*>& timers() const { return timers_; }

  std::function<void()> onLoad;
  // Runs when the user closes the window; set cancel to non-zero to keep it.
  std::function<void(int16_t& cancel)> onUnload;
  std::function<void(int button, int shift, float x, float y)> onMouseDown;
  // Runs when the program lets go of the form object without having ended.
  std::function<void()> onTerminate;

  // User input, from the backend.
  bool userClose();
  bool userMouseDown(int button, int shift, float x, float y);
  bool userMoveResize(const Rect& rect);
  bool userSetWindowState(WindowState state);

 private:
  friend class Timer;
  Application& app_;
  FormDesign design_;
  bool loaded_ = false;
  int32_t hwnd_ = 0;
  WindowState state_ = WindowState::Normal;
  std::vector<Timer*> timers_;
};

}  // namespace ui
