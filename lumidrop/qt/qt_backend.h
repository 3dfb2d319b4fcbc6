// The form toolkit on Qt Widgets: each form is a top-level window, each
// control a widget at its designed place, each timer a Qt timer.
//
// Positions and sizes stay in twips in the model; the backend turns them
// into pixels by the screen's logical dpi (15 twips to the pixel at 96
// dpi). A form's model geometry is its outer window: until the window
// manager has framed a window the backend assumes the designed frame, and
// once the real frame is known it keeps the outer size the model asks for.
//
// User input reaches the model only through its user* entry points. An end
// of the program raised by a handler that ran inside pending events
// (doEvents, a message box) is carried past Qt's own frames and raised
// again on the handler's side, so no exception ever crosses Qt code.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMessageBox>
#include <QRect>

#include "ui/application.h"
#include "ui/backend.h"
#include "ui/controls.h"
#include "ui/geometry.h"

class QApplication;
class QEventLoop;
class QTimer;
class QWidget;

namespace ui {

// The Qt platform for the program's windows when the user named none
// (`requested`, QT_QPA_PLATFORM): X11 whenever an X display is there
// (`x11Display`, DISPLAY), on a Wayland desktop through XWayland, because
// Wayland gives a client no way to keep its window above the others and
// the overlay must stay on top. Empty: Qt's own choice stands.
std::string preferredPlatform(const char* requested, const char* x11Display);

class QtBackend : public Backend {
 public:
  // Uses the process's QApplication, or opens one (the window system's
  // connection) that lives as long as the backend.
  QtBackend();
  ~QtBackend() override;
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

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

  // The top-level widget of the loaded form with that window handle, or
  // nullptr.
  QWidget* window(int32_t hwnd) const;
  // The widget that draws `control` (a form or a control on a loaded form),
  // or nullptr.
  QWidget* widget(const Control& control) const;
  // The loaded form with that window handle, or nullptr.
  Form* form(int32_t hwnd) const;

  // Twips per pixel on the screen (1440 / logical dpi).
  double twipsPerPixel() const;
  int32_t toPixels(int32_t twips) const;
  int32_t toTwips(int32_t pixels) const;

  // Keeps the window of `hwnd` above all windows that are not kept above
  // (or stops doing so). False when there is no such window.
  bool setStaysOnTop(int32_t hwnd, bool on);

  // Sends what is buffered for the window system now.
  void flush();

  // Lets events run, from outside any handler, until `done` holds (true),
  // the program ends or `timeoutMs` pass (false).
  bool runUntil(const std::function<bool()>& done, uint32_t timeoutMs);

 private:
  class FormWidget;
  friend class FormWidget;

  struct Window {
    int32_t handle = 0;
    FormWidget* widget = nullptr;
    // The frame the geometry was last laid out with (pixels); -1 until
    // the window system reported one.
    int frameLeft = -1, frameTop = -1, frameRight = -1, frameBottom = -1;
    // The outer rectangle last asked of the window system (pixels), and
    // whether it may still be on its way.
    QRect asked;
    uint32_t settleStart = 0;
    bool settling = false;
  };
  // How long a window system may take to carry out a geometry we asked for.
  static constexpr uint32_t kSettleMs = 500;

  // Runs user input into the model; an end raised inside is kept for the
  // handler that let events run.
  void deliver(const std::function<void()>& input);
  void raisePendingEnd();
  void checkTermination();

  void makeControls(Container& container, QWidget* parent);
  QWidget* makeControl(Control& control, QWidget* parent);
  void applyAll(Control& control);
  // A control's widget geometry: its place in pixels, grown where the
  // caption needs more room in this font.
  QRect controlRect(const Control& control, QWidget* w) const;
  // The position of a window the window system would place: beside the
  // main window.
  void placeFirstTime(Form& form);
  void applyFormGeometry(Form& form);
  void applyFormVisibility(Form& form);
  void syncValue(Control& control);
  // The window moved, was resized or framed anew by the window system.
  void windowGeometryChanged(Form& form);
  void windowStateChanged(Form& form);
  Control* controlOf(QWidget* widget) const;
  Form* formOf(QWidget* widget) const;

  std::unique_ptr<QApplication> ownApp_;
  int argc_ = 1;
  std::vector<char*> argv_;
  Application* app_ = nullptr;
  int32_t nextHandle_ = 0x1000;
  int placed_ = 0;
  std::map<const Form*, Window> windows_;
  std::map<const Control*, QWidget*> widgets_;
  std::map<const QWidget*, Control*> controls_;
  std::map<Timer*, QTimer*> timers_;
  std::optional<ProgramEnd> pendingEnd_;
  QEventLoop* loop_ = nullptr;
  bool quit_ = false;
  std::unique_ptr<QTimer> terminationPoll_;
  // The message box on screen, and the button that is its way out.
  QMessageBox* openBox_ = nullptr;
  QMessageBox::StandardButton openWayOut_ = QMessageBox::NoButton;
  int syncing_ = 0;
};

}  // namespace ui
