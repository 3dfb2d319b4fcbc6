// Window tests: each test process gets its own X server with a window
// manager and one QApplication on it (for all its tests), and may save screenshots as test
// artefacts (in the build tree, never committed).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <memory>
#include <string>

#include "fixtures/temp_root.h"
#include "fixtures/x_server.h"
#include "qt/qt_backend.h"
#include "ui/application.h"

namespace qttest {

class OnXServer : public fixtures::RootedTest {
 protected:
  void SetUp() override;

  static fixtures::XServer& x();
  // The X window id of a widget's native window. Asked of the window
  // itself: Qt makes a new native window when the stay-on-top flag of a
  // window changes, and the widget's own winId() keeps the old one.
  static uint64_t xid(QWidget* w) {
    w->winId();
    return static_cast<uint64_t>(w->windowHandle()->winId());
  }
  // Lets Qt run (outside any handler) until `done` holds or 10 s pass.
  bool pumpUntil(const std::function<bool()>& done, uint32_t timeoutMs = 10000) {
    return backend.runUntil(done, timeoutMs);
  }
  // Saves the screen as ARTEFACT_DIR/<name>.png once what it shows has
  // reached the server.
  void screenshot(const std::string& name);

  ui::QtBackend backend;
  ui::Application app{backend};
};

}  // namespace qttest
