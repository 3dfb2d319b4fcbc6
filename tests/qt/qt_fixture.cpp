#include "qt_fixture.h"

#include <stdlib.h>

#include "platform/clock.h"

namespace qttest {

namespace {

// One X server and one QApplication for the whole test process: Qt keeps
// process-wide state of its connection that a second application on a
// second server would trip over.
class XEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    server = std::make_unique<fixtures::XServer>();
    setenv("DISPLAY", server->display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("WAYLAND_DISPLAY");
    static int argc = 1;
    static char name[] = "test_qt_backend";
    static char* argv[] = {name, nullptr};
    qapp = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override {
    qapp.reset();
    server.reset();
  }
  std::unique_ptr<fixtures::XServer> server;
  std::unique_ptr<QApplication> qapp;
};

XEnvironment* const environment =
    static_cast<XEnvironment*>(::testing::AddGlobalTestEnvironment(new XEnvironment));

}  // namespace

fixtures::XServer& OnXServer::x() { return *environment->server; }

void OnXServer::SetUp() {
  ASSERT_TRUE(environment->server && environment->qapp) << "no X server for the window tests";
}

void OnXServer::screenshot(const std::string& name) {
  // Let the last changes be drawn and reach the server first.
  const uint32_t start = platform::tickMs();
  pumpUntil([&] { return platform::tickMs() - start >= 300; });
  const std::string path = std::string(ARTEFACT_DIR) + "/" + name + ".png";
  EXPECT_TRUE(x().screenshot(path)) << "no screenshot " << path;
}

}  // namespace qttest
