#include "qt_fixture.h"

#include <stdlib.h>

#include "platform/clock.h"

namespace qttest {

std::unique_ptr<fixtures::XServer> OnXServer::server_;
std::unique_ptr<QApplication> OnXServer::qapp_;

void OnXServer::SetUpTestSuite() {
  server_ = std::make_unique<fixtures::XServer>();
  setenv("DISPLAY", server_->display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  unsetenv("WAYLAND_DISPLAY");
  static int argc = 1;
  static char name[] = "test_qt_backend";
  static char* argv[] = {name, nullptr};
  qapp_ = std::make_unique<QApplication>(argc, argv);
}

void OnXServer::TearDownTestSuite() {
  qapp_.reset();
  server_.reset();
}

void OnXServer::SetUp() { ASSERT_TRUE(server_ && qapp_) << "no X server for the window tests"; }

void OnXServer::screenshot(const std::string& name) {
  // Let the last changes be drawn and reach the server first.
  const uint32_t start = platform::tickMs();
  pumpUntil([&] { return platform::tickMs() - start >= 300; });
  const std::string path = std::string(ARTEFACT_DIR) + "/" + name + ".png";
  EXPECT_TRUE(x().screenshot(path)) << "no screenshot " << path;
}

}  // namespace qttest
