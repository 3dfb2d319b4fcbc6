#include "qt/qt_backend.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <xcb/xcb.h>

#include "platform/clock.h"
#include "platform/process.h"

namespace ui {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

Qt::WindowState qtState(WindowState s) {
  switch (s) {
    case WindowState::Minimized:
      return Qt::WindowMinimized;
    case WindowState::Maximized:
      return Qt::WindowMaximized;
    default:
      return Qt::WindowNoState;
  }
}

WindowState modelState(Qt::WindowStates s) {
  if (s & Qt::WindowMinimized) return WindowState::Minimized;
  if (s & Qt::WindowMaximized) return WindowState::Maximized;
  return WindowState::Normal;
}

// The mouse button and shift state as the form's MouseDown event gives
// them: 1 left, 2 right, 4 middle; shift 1, control 2, alt 4.
int buttonCode(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton:
      return 1;
    case Qt::RightButton:
      return 2;
    case Qt::MiddleButton:
      return 4;
    default:
      return 0;
  }
}

int shiftCode(Qt::KeyboardModifiers m) {
  return ((m & Qt::ShiftModifier) ? 1 : 0) | ((m & Qt::ControlModifier) ? 2 : 0) | ((m & Qt::AltModifier) ? 4 : 0);
}

struct Counter {
  int& n;
  explicit Counter(int& count) : n(count) { ++n; }
  ~Counter() { --n; }
};

}  // namespace

// ------------------------------------------------------------- FormWidget

class QtBackend::FormWidget : public QWidget {
 public:
  FormWidget(QtBackend& backend, Qt::WindowFlags flags) : QWidget(nullptr, flags), backend_(backend) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    // The model decides whether the window goes (its unload handler may
    // keep it); it unloads the form itself when it does.
    event->ignore();
    if (Form* f = backend_.formOf(this)) backend_.deliver([f] { f->userClose(); });
  }

  void mousePressEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    Form* f = backend_.formOf(this);
    // Presses on a control belong to that control, not to the form.
    if (!f || childAt(at) != nullptr) return;
    const int button = buttonCode(event->button());
    if (button == 0) return;
    const double tpp = backend_.twipsPerPixel();
    const float x = static_cast<float>(event->position().x() * tpp);
    const float y = static_cast<float>(event->position().y() * tpp);
    const int shift = shiftCode(event->modifiers());
    backend_.deliver([f, button, shift, x, y] { f->userMouseDown(button, shift, x, y); });
  }

  void moveEvent(QMoveEvent* event) override {
    QWidget::moveEvent(event);
    if (Form* f = backend_.formOf(this)) backend_.windowGeometryChanged(*f);
  }

  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (Form* f = backend_.formOf(this)) backend_.windowGeometryChanged(*f);
  }

  // The window manager frames a window after it is mapped and tells so in
  // events that Qt keeps to itself (a new parent, _NET_FRAME_EXTENTS):
  // the frame is looked at again once Qt has handled them.
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override {
    if (eventType == "xcb_generic_event_t" && message) {
      const int type = static_cast<const unsigned char*>(message)[0] & 0x7F;
      constexpr int kReparentNotify = 21, kConfigureNotify = 22, kPropertyNotify = 28;
      if ((type == kReparentNotify || type == kConfigureNotify || type == kPropertyNotify) && !frameCheckQueued_) {
        frameCheckQueued_ = true;
        QTimer::singleShot(0, this, [this] {
          frameCheckQueued_ = false;
          if (Form* f = backend_.formOf(this)) backend_.windowGeometryChanged(*f);
        });
      }
    }
    return QWidget::nativeEvent(eventType, message, result);
  }

  void changeEvent(QEvent* event) override {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (Form* f = backend_.formOf(this)) backend_.windowStateChanged(*f);
  }

 private:
  QtBackend& backend_;
  bool frameCheckQueued_ = false;
};

// -------------------------------------------------------------- QtBackend

std::string preferredPlatform(const char* requested, const char* x11Display) {
  if (requested && *requested) return "";
  return x11Display && *x11Display ? "xcb" : "";
}

QtBackend::QtBackend() {
  if (!QApplication::instance()) {
    static char name[] = "lumidropRemote";
    static char option[] = "-platform";
    static std::string platform;
    platform = preferredPlatform(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"));
    argv_ = {name};
    if (!platform.empty()) argv_.insert(argv_.end(), {option, platform.data()});
    argc_ = static_cast<int>(argv_.size());
    argv_.push_back(nullptr);
    ownApp_ = std::make_unique<QApplication>(argc_, argv_.data());
  }
  // Windows come and go with the forms; the program ends when the model
  // says so, not when the last window closes.
  QApplication::setQuitOnLastWindowClosed(false);
}

QtBackend::~QtBackend() {
  terminationPoll_.reset();
  for (auto& [timer, qtimer] : timers_) delete qtimer;
  timers_.clear();
  for (auto& [form, window] : windows_) delete window.widget;
  windows_.clear();
  widgets_.clear();
  controls_.clear();
  // Windows and timers let go inside handlers wait for a quiet moment.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QtBackend::attach(Application& app) {
  app_ = &app;
  // Termination requests are looked at from the start, also inside the
  // start-up's message boxes and any other event loop Qt runs.
  terminationPoll_ = std::make_unique<QTimer>();
  terminationPoll_->setInterval(50);
  QObject::connect(terminationPoll_.get(), &QTimer::timeout, [this] { deliver([this] { checkTermination(); }); });
  terminationPoll_->start();
}

double QtBackend::twipsPerPixel() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return ui::twipsPerPixel(screen ? screen->logicalDotsPerInch() : 96.0);
}

int32_t QtBackend::toPixels(int32_t twips) const { return twipsToPixels(twips, twipsPerPixel()); }

int32_t QtBackend::toTwips(int32_t pixels) const { return pixelsToTwips(pixels, twipsPerPixel()); }

QWidget* QtBackend::widget(const Control& control) const {
  auto it = widgets_.find(&control);
  return it == widgets_.end() ? nullptr : it->second;
}

Form* QtBackend::form(int32_t hwnd) const {
  for (const auto& [form, window] : windows_) {
    if (window.handle == hwnd) return const_cast<Form*>(form);
  }
  return nullptr;
}

QWidget* QtBackend::window(int32_t hwnd) const {
  const Form* f = form(hwnd);
  return f ? widget(*f) : nullptr;
}

Control* QtBackend::controlOf(QWidget* w) const {
  auto it = controls_.find(w);
  return it == controls_.end() ? nullptr : it->second;
}

Form* QtBackend::formOf(QWidget* w) const {
  Control* c = controlOf(w);
  return c && c->kind() == Kind::Form ? static_cast<Form*>(c) : nullptr;
}

// ------------------------------------------------------------ input, ends

void QtBackend::deliver(const std::function<void()>& input) {
  try {
    input();
  } catch (const ProgramEnd& end) {
    // Only a handler that let events run is above us: it gets the end back
    // once Qt has returned to it.
    pendingEnd_ = end;
    if (loop_) loop_->exit(0);
  }
}

void QtBackend::raisePendingEnd() {
  if (!pendingEnd_) return;
  const ProgramEnd end = *pendingEnd_;
  pendingEnd_.reset();
  throw end;
}

void QtBackend::checkTermination() {
  if (!platform::takeTerminationRequest()) return;
  if (openBox_) {
    // A request while a message box waits is answered as the box's own way
    // out (No, or OK): the handler that asked goes on from there, as it
    // does for a user who chose it.
    if (QAbstractButton* out = openBox_->button(openWayOut_)) out->click();
    return;
  }
  if (app_) app_->terminationRequested();
}

// ---------------------------------------------------------------- windows

int32_t QtBackend::createWindow(Form& form) {
  const FormDesign& design = form.design();
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
  // A tool window: a thin caption, no minimise or maximise button, and no
  // place in the taskbar.
  if (design.border == BorderStyle::SizableToolWindow || !design.showInTaskbar) flags |= Qt::Tool;
  if (design.border == BorderStyle::FixedSingle) flags |= Qt::WindowMinimizeButtonHint;

  auto* w = new FormWidget(*this, flags);
  w->setObjectName(text(form.name()));
  w->setWindowTitle(text(form.caption()));
  QPalette palette = w->palette();
  palette.setColor(QPalette::Window, QColor(static_cast<int>((design.backColor >> 16) & 0xFF),
                                            static_cast<int>((design.backColor >> 8) & 0xFF),
                                            static_cast<int>(design.backColor & 0xFF)));
  w->setPalette(palette);
  w->setAutoFillBackground(true);

  Window& window = windows_[&form];
  window = Window{};
  window.handle = nextHandle_++;
  window.widget = w;
  widgets_[&form] = w;
  controls_[w] = &form;

  if (design.defaultPlacement) placeFirstTime(form);
  makeControls(form, w);
  // The native window exists from now on (hidden), so that its opacity
  // and placement can be set before it is first shown.
  w->winId();
  {
    Counter quiet(syncing_);
    applyFormGeometry(form);
    w->setWindowState(qtState(form.windowState()));
  }
  return window.handle;
}

void QtBackend::placeFirstTime(Form& form) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  Rect area;
  if (screen) {
    const QRect a = screen->availableGeometry();
    area = {toTwips(a.left()), toTwips(a.top()), toTwips(a.left() + a.width()) - toTwips(a.left()),
            toTwips(a.top() + a.height()) - toTwips(a.top())};
  }
  const Form* main = screen && app_ ? app_->mainForm() : nullptr;
  const Rect place = firstPlacement(form, main, area, form.width(), form.height(), placed_);
  if (!main || main == &form || !main->loaded()) ++placed_;
  form.placeAt(place.left, place.top, place.width, place.height);
}

void QtBackend::destroyWindow(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  FormWidget* w = it->second.widget;
  // The form's controls may be gone already (a form object being
  // destroyed): they are found through their widgets, never touched.
  for (auto c = widgets_.begin(); c != widgets_.end();) {
    if (c->second == w || w->isAncestorOf(c->second)) {
      controls_.erase(c->second);
      c = widgets_.erase(c);
    } else {
      ++c;
    }
  }
  windows_.erase(it);
  {
    Counter quiet(syncing_);
    w->hide();
  }
  // A handler of this very window may be running further up.
  w->deleteLater();
}

void QtBackend::makeControls(Container& container, QWidget* parent) {
  for (Control* child : container.children()) makeControl(*child, parent);
}

QWidget* QtBackend::makeControl(Control& control, QWidget* parent) {
  QWidget* w = nullptr;
  switch (control.kind()) {
    case Kind::Frame:
      w = new QGroupBox(parent);
      break;
    case Kind::Label: {
      auto* label = new QLabel(parent);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      w = label;
      break;
    }
    case Kind::Button: {
      auto* button = new QPushButton(parent);
      QObject::connect(button, &QPushButton::clicked, [this, button] {
        if (Control* c = controlOf(button)) deliver([c] { static_cast<Button*>(c)->userClick(); });
      });
      w = button;
      break;
    }
    case Kind::CheckBox: {
      auto* box = new QCheckBox(parent);
      QObject::connect(box, &QCheckBox::clicked, [this, box] {
        if (Control* c = controlOf(box)) deliver([c] { static_cast<CheckBox*>(c)->userClick(); });
        // The box shows what the model holds, whatever Qt toggled.
        if (Control* c = controlOf(box)) syncValue(*c);
      });
      w = box;
      break;
    }
    case Kind::Slider: {
      auto* slider = new QSlider(Qt::Horizontal, parent);
      slider->setTickPosition(QSlider::TicksBelow);
      QObject::connect(slider, &QSlider::valueChanged, [this, slider](int value) {
        if (syncing_ > 0) return;
        if (Control* c = controlOf(slider)) deliver([c, value] { static_cast<Slider*>(c)->userScroll(value); });
        if (Control* c = controlOf(slider)) syncValue(*c);
      });
      w = slider;
      break;
    }
    case Kind::Form:
      return nullptr;  // forms are windows, made by createWindow
  }
  w->setObjectName(text(control.name()));
  widgets_[&control] = w;
  controls_[w] = &control;
  applyAll(control);
  if (control.kind() == Kind::Frame) makeControls(static_cast<Container&>(control), w);
  return w;
}

QRect QtBackend::controlRect(const Control& control, QWidget* w) const {
  const QSize needs = w->sizeHint();
  const Rect r = controlPixels(control, needs.width(), needs.height(), twipsPerPixel());
  return QRect(r.left, r.top, r.width, r.height);
}

void QtBackend::applyAll(Control& control) {
  QWidget* w = widget(control);
  if (!w) return;
  Counter quiet(syncing_);
  changed(control, Property::Caption);  // sets the geometry for the caption
  w->setVisible(control.visible());
  w->setEnabled(control.enabled());
  if (control.kind() == Kind::Slider) changed(control, Property::Range);
  syncValue(control);
}

void QtBackend::syncValue(Control& control) {
  QWidget* w = widget(control);
  if (!w) return;
  Counter quiet(syncing_);
  if (control.kind() == Kind::CheckBox) {
    static_cast<QCheckBox*>(w)->setChecked(static_cast<CheckBox&>(control).value() != 0);
  } else if (control.kind() == Kind::Slider) {
    const QSignalBlocker block(w);
    static_cast<QSlider*>(w)->setValue(static_cast<Slider&>(control).value());
  }
}

// The frame the window system drew around the window, or the designed
// frame while it has drawn none yet.
void QtBackend::applyFormGeometry(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  Window& window = it->second;
  FormWidget* w = window.widget;
  QMargins frame;
  if (w->testAttribute(Qt::WA_Mapped) && w->windowHandle()) {
    frame = w->windowHandle()->frameMargins();
  } else {
    const Rect design = form.designRect();
    const int fw = toPixels(design.width - form.design().clientWidth);
    const int fh = toPixels(design.height - form.design().clientHeight);
    frame = QMargins(fw / 2, fh - fw / 2, fw - fw / 2, fw / 2);
  }
  window.frameLeft = frame.left();
  window.frameTop = frame.top();
  window.frameRight = frame.right();
  window.frameBottom = frame.bottom();
  const int width = std::max(1, toPixels(form.width()) - frame.left() - frame.right());
  const int height = std::max(1, toPixels(form.height()) - frame.top() - frame.bottom());
  Counter quiet(syncing_);
  if (form.design().border == BorderStyle::FixedSingle) {
    // Fixed for the user; the program still sizes it.
    w->setFixedSize(width, height);
  } else {
    w->resize(width, height);
  }
  // A window's position is that of its frame.
  w->move(toPixels(form.left()), toPixels(form.top()));
  // What the window reports until the window system has carried this out
  // is our own request on its way, not the user's doing: right after a
  // framing Qt knows the frame but not yet where the window manager put
  // the inside, and the sum is a place the window never had.
  window.asked = QRect(toPixels(form.left()), toPixels(form.top()), toPixels(form.width()), toPixels(form.height()));
  window.settleStart = platform::tickMs();
  window.settling = true;
  // Looked at again once settled, in case the window system placed it
  // elsewhere than asked and says nothing more.
  QTimer::singleShot(kSettleMs + 50, w, [this, w] {
    if (Form* f = formOf(w)) windowGeometryChanged(*f);
  });
}

void QtBackend::windowGeometryChanged(Form& form) {
  if (syncing_ > 0) return;
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  FormWidget* w = it->second.widget;
  if (!w->isVisible() || !w->testAttribute(Qt::WA_Mapped) || !w->windowHandle()) return;
  const QMargins frame = w->windowHandle()->frameMargins();
  Window& window = it->second;
  if (frame.left() != window.frameLeft || frame.top() != window.frameTop || frame.right() != window.frameRight ||
      frame.bottom() != window.frameBottom) {
    // Framed anew: the outer window keeps the size the model gives it.
    applyFormGeometry(form);
    return;
  }
  if (modelState(w->windowState()) != WindowState::Normal) return;
  const QRect outer = w->frameGeometry();
  if (window.settling) {
    if (outer != window.asked && platform::tickMs() - window.settleStart < kSettleMs) return;
    window.settling = false;
  }
  const QRect asModel(toPixels(form.left()), toPixels(form.top()), toPixels(form.width()), toPixels(form.height()));
  if (outer == asModel) return;
  const Rect moved{toTwips(outer.x()), toTwips(outer.y()), toTwips(outer.width()), toTwips(outer.height())};
  Counter quiet(syncing_);
  deliver([&form, moved] { form.userMoveResize(moved); });
}

void QtBackend::windowStateChanged(Form& form) {
  if (syncing_ > 0) return;
  QWidget* w = widget(form);
  if (!w || !w->isVisible()) return;
  const WindowState state = modelState(w->windowState());
  if (state == form.windowState()) return;
  // The window manager did it (minimised, restored): the model takes the
  // state as it is. Applied back, it would write the window's hints again
  // and undo what the user just did.
  Counter quiet(syncing_);
  deliver([&form, state] { form.userSetWindowState(state); });
}

void QtBackend::applyFormVisibility(Form& form) {
  QWidget* w = widget(form);
  if (!w) return;
  Counter quiet(syncing_);
  if (!form.visible()) {
    w->hide();
    return;
  }
  applyFormGeometry(form);
  switch (form.windowState()) {
    case WindowState::Minimized:
      w->showMinimized();
      break;
    case WindowState::Maximized:
      w->showMaximized();
      break;
    default:
      if (w->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) {
        w->showNormal();
      } else {
        w->show();
      }
      break;
  }
}

void QtBackend::flush() {
  // Qt sends what it has buffered when X events come in; a window
  // property set between two ticks must not wait for one.
  if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) xcb_flush(x11->connection());
}

bool QtBackend::setStaysOnTop(int32_t hwnd, bool on) {
  QWidget* w = window(hwnd);
  if (!w) return false;
  w->winId();
  QWindow* native = w->windowHandle();
  if (!native) return false;
  // On the native window itself: the widget's own flag change would make
  // a new native window and hide the old one.
  if (native->flags().testFlag(Qt::WindowStaysOnTopHint) != on) {
    native->setFlags(on ? native->flags() | Qt::WindowStaysOnTopHint : native->flags() & ~Qt::WindowStaysOnTopHint);
  }
  return true;
}

// ------------------------------------------------------------ model changes

void QtBackend::changed(Control& control, Property what) {
  QWidget* w = widget(control);
  if (!w) return;
  if (control.kind() == Kind::Form) {
    Form& form = static_cast<Form&>(control);
    switch (what) {
      case Property::Geometry:
        if (syncing_ == 0) applyFormGeometry(form);
        break;
      case Property::Caption:
        w->setWindowTitle(text(form.caption()));
        break;
      case Property::Visible:
        applyFormVisibility(form);
        break;
      case Property::Enabled:
        w->setEnabled(form.enabled());
        break;
      case Property::WindowState:
        if (syncing_ > 0) break;  // the window has it already
        if (form.visible()) {
          applyFormVisibility(form);
        } else {
          Counter quiet(syncing_);
          w->setWindowState(qtState(form.windowState()));
        }
        break;
      case Property::Value:
      case Property::Range:
        break;
    }
    return;
  }
  switch (what) {
    case Property::Geometry:
      w->setGeometry(controlRect(control, w));
      break;
    case Property::Caption:
      switch (control.kind()) {
        case Kind::Label:
          static_cast<QLabel*>(w)->setText(text(control.caption()));
          break;
        case Kind::Button:
        case Kind::CheckBox:
          static_cast<QAbstractButton*>(w)->setText(text(control.caption()));
          break;
        case Kind::Frame:
          static_cast<QGroupBox*>(w)->setTitle(text(control.caption()));
          break;
        default:
          break;
      }
      w->setGeometry(controlRect(control, w));
      break;
    case Property::Visible:
      w->setVisible(control.visible());
      break;
    case Property::Enabled:
      w->setEnabled(control.enabled());
      break;
    case Property::Range:
      if (control.kind() == Kind::Slider) {
        const Slider& s = static_cast<Slider&>(control);
        auto* slider = static_cast<QSlider*>(w);
        Counter quiet(syncing_);
        const QSignalBlocker block(slider);
        slider->setRange(s.min(), s.max());
        slider->setSingleStep(s.smallChange());
        slider->setPageStep(s.largeChange());
        slider->setTickInterval(tickInterval(s.min(), s.max(), s.largeChange(), toPixels(s.width())));
      }
      syncValue(control);
      break;
    case Property::Value:
      syncValue(control);
      break;
    case Property::WindowState:
      break;
  }
}

void QtBackend::repaint(Form& form) {
  if (QWidget* w = widget(form)) w->repaint();
}

void QtBackend::focus(Form& form) {
  QWidget* w = widget(form);
  if (!w || !w->isVisible()) return;
  w->raise();
  w->activateWindow();
}

// ------------------------------------------------------------------ timers

void QtBackend::timerChanged(Timer& timer, bool alive) {
  auto it = timers_.find(&timer);
  if (!alive) {
    if (it == timers_.end()) return;
    QTimer* qtimer = it->second;
    timers_.erase(it);
    qtimer->stop();
    QObject::disconnect(qtimer, nullptr, nullptr, nullptr);
    // It may be the timer whose tick is running now.
    qtimer->deleteLater();
    return;
  }
  QTimer* qtimer = nullptr;
  if (it == timers_.end()) {
    qtimer = new QTimer;
    qtimer->setTimerType(Qt::PreciseTimer);
    Timer* model = &timer;
    QObject::connect(qtimer, &QTimer::timeout, [this, model] { deliver([model] { model->fire(); }); });
    timers_[&timer] = qtimer;
  } else {
    qtimer = it->second;
  }
  // A new interval or a new start counts from now.
  if (timer.armed()) {
    qtimer->start(static_cast<int>(std::min<uint32_t>(timer.interval(), INT32_MAX)));
  } else {
    qtimer->stop();
  }
}

// ------------------------------------------------------- boxes and events

MessageBoxResult QtBackend::messageBox(const std::string& message, const std::string& title,
                                       MessageBoxButtons buttons) {
  const bool yesNo = buttons == MessageBoxButtons::YesNo;
  QMessageBox box(yesNo ? QMessageBox::Question : QMessageBox::Warning, text(title), text(message),
                  yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok);
  box.setObjectName(yesNo ? "messageBoxYesNo" : "messageBoxOk");
  if (yesNo) {
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  }
  QMessageBox* outerBox = openBox_;
  const QMessageBox::StandardButton outerWayOut = openWayOut_;
  openBox_ = &box;
  openWayOut_ = yesNo ? QMessageBox::No : QMessageBox::Ok;
  const int answer = box.exec();
  openBox_ = outerBox;
  openWayOut_ = outerWayOut;
  raisePendingEnd();
  if (!yesNo) return MessageBoxResult::Ok;
  return answer == QMessageBox::Yes ? MessageBoxResult::Yes : MessageBoxResult::No;
}

void QtBackend::doEvents() {
  // A termination request is an event like the others: a long handler that
  // lets events run closes down inside.
  checkTermination();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  raisePendingEnd();
}

void QtBackend::sleep(uint32_t ms) { platform::sleepMs(ms); }

void QtBackend::run() {
  quit_ = false;
  while (!quit_ && !(app_ && app_->ended())) {
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
  }
}

void QtBackend::quit() {
  quit_ = true;
  if (loop_) loop_->exit(0);
}

bool QtBackend::runUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const uint32_t start = platform::tickMs();
  for (;;) {
    if (done()) return true;
    if ((app_ && app_->ended()) || platform::tickMs() - start >= timeoutMs) return done();
    deliver([this] { checkTermination(); });
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    platform::sleepMs(1);
  }
}

}  // namespace ui
