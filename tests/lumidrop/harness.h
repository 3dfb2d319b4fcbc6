// The fading program on the headless backend, for scenario tests: a
// program folder of its own, a scripted library link, recording outputs
// and a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/temp_root.h"
#include "forms/frm_lumidrop.h"
#include "forms/frm_main.h"
#include "forms/program.h"
#include "forms/recording_outputs.h"
#include "link/telvaris_link.h"
#include "settings/mod_options.h"
#include "ui/application.h"
#include "ui/headless_backend.h"

namespace lumidrop::testing {

// A link that answers as the test says and keeps every call.
class ScriptedTelvaris : public TelvarisLink {
 public:
  int32_t ReportVersion(int32_t& major, int32_t& minor, int32_t& build) override {
    calls.push_back("ReportVersion");
    major = 5;
    minor = 0;
    build = 1;
    return 0;
  }
  int32_t initialiseMQTTConnection(const std::string& address, int32_t port, const std::string& clientId,
                                   int32_t debugLevel) override {
    calls.push_back("initialiseMQTTConnection " + address + " " + std::to_string(port) + " " + clientId + " " +
                    std::to_string(debugLevel));
    return 0;
  }
  int32_t subscribeToMQTTConnection(const std::string& topic) override {
    calls.push_back("subscribeToMQTTConnection " + topic);
    return subscribeResult;
  }
  int32_t unsubscribeFromMQTTConnection(const std::string& topic) override {
    calls.push_back("unsubscribeFromMQTTConnection " + topic);
    return 0;
  }
  int32_t terminateMQTTConnection() override {
    calls.push_back("terminateMQTTConnection");
    return 0;
  }
  int32_t tlMQTTRetrieveFeedbackInformation() override {
    ++polls;
    if (feedback.empty()) return -1;
    const int32_t r = feedback.front();
    feedback.pop_front();
    return r;
  }

  // Decisions the next polls return, in order (then -1).
  void queue(std::initializer_list<int32_t> decisions) { feedback.insert(feedback.end(), decisions); }
  void queue(int32_t decision, int times) { feedback.insert(feedback.end(), static_cast<size_t>(times), decision); }

  std::vector<std::string> calls;
  std::deque<int32_t> feedback;
  int32_t subscribeResult = 0;
  int polls = 0;
};

class Scenario : public fixtures::RootedTest {
 protected:
  Scenario() {
    program = std::make_unique<Program>(app, telvaris, layering, volume, root.path());
    program->queryOsVersion = [] { return platform::OsVersion{true, 2, 6, 1}; };
  }
  ~Scenario() override { program.reset(); }

  frmMain& panel() { return program->panel(); }
  frmLumidrop& overlay() { return program->lumidrop(); }
  LumidropSettings& settings() { return program->settings; }
  // The overlay's window if loaded.
  OverlayWindow* overlayWindow() { return program->overlayMade() ? overlay().loadedWindow() : nullptr; }

  std::string iniPath() const { return root.file("lumidrop.ini"); }
  std::string ini() const { return fixtures::readFile(iniPath()); }
  void writeIni(const std::string& text) const { fixtures::writeFile(iniPath(), text); }
  // A settings file with the link's values in place and remote.conf
  // present, so that no first-run defaults replace them.
  void writeSettings(const std::string& general, const std::string& mqtt = "") const {
    writeIni("[General]\r\n" + general + "[MQTT]\r\n" + mqtt);
    fixtures::writeFile(root.file("remote.conf"), "PORT=1883\r\n");
  }
  bool marker() const { return fixtures::pathExists(root.file("lumidrop.pid")); }

  void start() { app.start(panel()); }
  // Starts with `general` as the stored [General] keys; the program must
  // still run afterwards.
  void startWith(const std::string& general) {
    writeSettings(general);
    start();
    ASSERT_FALSE(app.ended());
  }
  void pressSetup() { panel().btnSetup.userClick(); }
  void pressExit() { panel().btnExit.userClick(); }
  void closePanel() { panel().userClose(); }

  // Lets the overlay's timer poll `ticks` times at its current interval.
  void ticks(int count) {
    OverlayWindow* w = overlayWindow();
    ASSERT_NE(w, nullptr);
    for (int i = 0; i < count; ++i) {
      const int64_t due = backend.dueIn(w->Timer1);
      ASSERT_GE(due, 0) << "the overlay's timer is not running";
      backend.advance(static_cast<uint32_t>(due));
    }
  }

  int lastAlpha() const { return layering.alphaCalls().empty() ? -1 : layering.alphaCalls().back().alpha; }
  int lastVolume() const { return volume.changes().empty() ? -1 : volume.changes().back().percent; }

  ui::HeadlessBackend backend;
  ui::Application app{backend};
  ScriptedTelvaris telvaris;
  RecordingLayering layering;
  RecordingVolume volume;
  std::unique_ptr<Program> program;
};

}  // namespace lumidrop::testing
