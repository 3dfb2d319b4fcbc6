#include "ui/controls.h"

#include <algorithm>

#include "ui/application.h"

namespace ui {

namespace {

// Non-client sizes of the two window frames at 96 dpi, in pixels: what a
// form's outer size adds to its designed client area before a backend
// reports the real ones.
struct FrameMetrics {
  int32_t width;
  int32_t height;
};

FrameMetrics frameMetrics(BorderStyle border) {
  switch (border) {
    case BorderStyle::SizableToolWindow:
      return {16, 33};  // sizing border 8 each side, small caption 17
    case BorderStyle::FixedSingle:
    default:
      return {6, 29};  // border 3 each side, caption 23
  }
}

}  // namespace

// ---------------------------------------------------------------- Control

Control::Control(Kind kind, Container* parent, std::string name, Rect rect, std::string caption)
    : rect_(rect), kind_(kind), parent_(parent), name_(std::move(name)), caption_(std::move(caption)) {
  if (parent_) parent_->children_.push_back(this);
}

Control::~Control() {
  if (parent_) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

Form& Control::form() const {
  const Control* c = this;
  while (c->parent_) c = c->parent_;
  return *static_cast<Form*>(const_cast<Control*>(c));
}

void Control::notify(Property what) {
  Form& f = form();
  if (f.loaded()) f.app().backend().changed(*this, what);
}

void Control::setRectField(int32_t Rect::*field, int32_t v) {
  if (rect_.*field == v) return;
  rect_.*field = v;
  notify(Property::Geometry);
}

void Control::setLeft(int32_t v) { setRectField(&Rect::left, v); }
void Control::setTop(int32_t v) { setRectField(&Rect::top, v); }
void Control::setWidth(int32_t v) { setRectField(&Rect::width, v); }
void Control::setHeight(int32_t v) { setRectField(&Rect::height, v); }

void Control::setCaption(std::string text) {
  if (caption_ == text) return;
  caption_ = std::move(text);
  notify(Property::Caption);
}

void Control::setVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  notify(Property::Visible);
}

void Control::setEnabled(bool v) {
  if (enabled_ == v) return;
  enabled_ = v;
  notify(Property::Enabled);
}

bool Control::onScreen() const {
  if (!visible_) return false;
  if (!parent_) return static_cast<const Form*>(this)->loaded();
  return parent_->onScreen();
}

bool Control::usable() const { return enabled_ && (!parent_ || parent_->usable()); }

Frame::Frame(Container& parent, std::string name, Rect rect, std::string caption)
    : Container(Kind::Frame, &parent, std::move(name), rect, std::move(caption)) {}

Label::Label(Container& parent, std::string name, Rect rect, std::string caption)
    : Control(Kind::Label, &parent, std::move(name), rect, std::move(caption)) {}

// ----------------------------------------------------------------- Button

Button::Button(Container& parent, std::string name, Rect rect, std::string caption)
    : Control(Kind::Button, &parent, std::move(name), rect, std::move(caption)) {}

bool Button::userClick() {
  return form().app().dispatch([this] {
    if (!onScreen() || !usable()) return;
    if (onClick) onClick();
  });
}

// --------------------------------------------------------------- CheckBox

CheckBox::CheckBox(Container& parent, std::string name, Rect rect, std::string caption)
    : Control(Kind::CheckBox, &parent, std::move(name), rect, std::move(caption)) {}

void CheckBox::setValue(int value) {
  const int state = value != 0 ? 1 : 0;
  if (state == value_) return;
  value_ = state;
  notify(Property::Value);
  if (onClick) onClick();
}

bool CheckBox::userClick() {
  return form().app().dispatch([this] {
    if (!onScreen() || !usable()) return;
    setValue(value_ == 0 ? 1 : 0);
  });
}

// ----------------------------------------------------------------- Slider

Slider::Slider(Container& parent, std::string name, Rect rect)
    : Control(Kind::Slider, &parent, std::move(name), rect, {}) {}

void Slider::setRange(int32_t min, int32_t max, int32_t smallChange, int32_t largeChange) {
  min_ = min;
  max_ = std::max(min, max);
  smallChange_ = smallChange;
  largeChange_ = largeChange;
  notify(Property::Range);
  setValue(value_);
}

void Slider::setValue(int32_t value) {
  value = std::clamp(value, min_, max_);
  if (value == value_) return;
  value_ = value;
  notify(Property::Value);
}

bool Slider::userScroll(int32_t value) {
  return form().app().dispatch([this, value] {
    if (!onScreen() || !usable()) return;
    setValue(value);
    if (onScroll) onScroll();
  });
}

// ------------------------------------------------------------------ Timer

Timer::Timer(Form& form, std::string name) : form_(form), name_(std::move(name)) { form_.timers_.push_back(this); }

Timer::~Timer() {
  auto& list = form_.timers_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  if (form_.loaded()) form_.app().backend().timerChanged(*this, false);
}

void Timer::setInterval(uint32_t ms) {
  interval_ = ms;
  if (form_.loaded()) form_.app().backend().timerChanged(*this, true);
}

void Timer::setEnabled(bool on) {
  enabled_ = on;
  if (form_.loaded()) form_.app().backend().timerChanged(*this, true);
}

bool Timer::armed() const { return enabled_ && interval_ > 0 && form_.loaded(); }

bool Timer::fire() {
  return form_.app().dispatch([this] {
    if (!armed() || running_) return;
    struct Running {
      bool& flag;
      explicit Running(bool& f) : flag(f) { flag = true; }
      ~Running() { flag = false; }
    } guard(running_);
    if (onTimer) onTimer();
  });
}

// ------------------------------------------------------------------- Form

Form::Form(Application& app, std::string name, FormDesign design)
    : Container(Kind::Form, nullptr, std::move(name), {}, design.caption), app_(app), design_(std::move(design)) {
  rect_ = designRect();
  visible_ = false;
}

Rect Form::designRect() const {
  const FrameMetrics frame = frameMetrics(design_.border);
  return {design_.left, design_.top, design_.clientWidth + frame.width * kTwipsPerPixel,
          design_.clientHeight + frame.height * kTwipsPerPixel};
}

Form::~Form() {
  if (loaded_) {
    for (Timer* t : timers_) app_.backend().timerChanged(*t, false);
    app_.backend().destroyWindow(*this);
  }
  app_.forgetForm(this);
}

void Form::load() {
  if (loaded_) return;
  loaded_ = true;
  hwnd_ = app_.backend().createWindow(*this);
  for (Timer* t : timers_) app_.backend().timerChanged(*t, true);
  if (onLoad) onLoad();
}

void Form::unload() {
  if (!loaded_) return;
  for (Timer* t : timers_) app_.backend().timerChanged(*t, false);
  app_.backend().destroyWindow(*this);
  loaded_ = false;
  hwnd_ = 0;
  visible_ = false;
  state_ = WindowState::Normal;
  rect_ = designRect();
  app_.forgetForm(this);
}

void Form::show() {
  load();
  setVisible(true);
}

void Form::hide() { setVisible(false); }

void Form::setFocus() {
  load();
  app_.setFocused(this);
  app_.backend().focus(*this);
}

void Form::refresh() {
  if (loaded_) app_.backend().repaint(*this);
}

bool Form::hasFocus() const { return app_.focused() == this; }

int32_t Form::hWnd() {
  load();
  return hwnd_;
}

void Form::setWindowState(WindowState state) {
  if (state_ == state) return;
  state_ = state;
  notify(Property::WindowState);
}

void Form::placeAt(int32_t left, int32_t top, int32_t width, int32_t height) { rect_ = {left, top, width, height}; }

bool Form::userClose() {
  return app_.dispatch([this] {
    if (!loaded_) return;
    int16_t cancel = 0;
    if (onUnload) onUnload(cancel);
    if (cancel != 0) return;
    unload();
    if (app_.mainForm() == this) app_.backend().quit();
  });
}

bool Form::userMouseDown(int button, int shift, float x, float y) {
  return app_.dispatch([=, this] {
    if (!onScreen()) return;
    if (onMouseDown) onMouseDown(button, shift, x, y);
  });
}

bool Form::userMoveResize(const Rect& rect) {
  return app_.dispatch([this, rect] {
    if (!loaded_) return;
    rect_ = rect;
    notify(Property::Geometry);
  });
}

bool Form::userSetWindowState(WindowState state) {
  return app_.dispatch([this, state] {
    if (!loaded_) return;
    setWindowState(state);
  });
}

}  // namespace ui
