// lumidropRemote as a process, with the real libtelvaris in its folder,
// against a private mosquitto: feedback decisions published with
// mosquitto_pub keep reaching it across a restart of its broker, and it
// reaches a broker over TLS with the CA file its settings name.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "fixtures/child_process.h"
#include "fixtures/mosquitto_broker.h"
#include "fixtures/temp_root.h"

using fixtures::readFile;
using fixtures::waitFor;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTopic = "/pelorvantis/trainee@example.org/feedback";

class ProgramLink : public fixtures::RootedTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root.file("telvaris"));  // for MQTT.log
    std::filesystem::create_directories(folder());
    std::filesystem::copy_file(TELVARIS_PATH, folder() + "/libtelvaris.so");
    fixtures::writeFile(folder() + "/remote.conf", "PORT=1883\r\n");
    // ALSA's default control made one that does not exist: no real mixer.
    fixtures::writeFile(root.file("alsa.conf"), "ctl.!default { type hw card 31 }\n");
  }
  void TearDown() override { program.stop(); }

  std::string folder() const { return root.file("program"); }
  std::string output() const { return readFile(root.file("output.log")); }
  std::string mqttLog() const { return readFile(root.file("telvaris/MQTT.log")); }
  size_t statusLines() const {
    const std::string text = output(), line = "lblStatus \"Reward Percentage is ";
    size_t count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
  }

  void writeSettings(const fixtures::MosquittoBroker& broker, const std::string& extraMqttLines = "") {
    fixtures::writeFile(folder() + "/lumidrop.ini",
                        std::string("[General]\r\nEmail=\"trainee@example.org\"\r\n[MQTT]\r\nServerAddress=\"") +
                            broker.address() + "\"\r\nServerPortNumber=" + std::to_string(broker.port()) +
                            "\r\nSubscriberTopic=\"" + kTopic +
                            "\"\r\nClientID=\"C1-trainee@example.org\"\r\nDebugLevel=1\r\n" + extraMqttLines);
  }
  void start() {
    // Headless: the program writes what it would show.
    program.start({LUMIDROP_PATH},
                  {{"LUMIDROP_HOME", folder()},
                   {"DISPLAY", ""},
                   {"WAYLAND_DISPLAY", ""},
                   {"PULSE_SERVER", "unix:" + root.file("no-sound-server")},
                   {"ALSA_CONFIG_PATH", root.file("alsa.conf")}},
                  root.file("output.log"));
  }
  // Publishes `decision` and waits until the program shows `percentage`.
  bool follows(const fixtures::MosquittoBroker& broker, const std::string& decision, const std::string& percentage) {
    return fixtures::publishFromOutside(broker, kTopic, "{\"feedback\":\"" + decision + "\"}") &&
           waitFor([&] { return output().find("Reward Percentage is " + percentage + "\"") != std::string::npos; },
                   10000);
  }

  fixtures::ChildProcess program;
};

TEST_F(ProgramLink, FollowsDecisionsAgainSoonAfterItsBrokerComesBack) {
  fixtures::MosquittoBroker broker;
  writeSettings(broker);
  start();
  ASSERT_TRUE(broker.waitForSubscription("C1-trainee@example.org")) << output();
  ASSERT_TRUE(follows(broker, "inhibit", "0.00%")) << output();
  ASSERT_TRUE(follows(broker, "reward", "50.00%")) << output();

  broker.stop();
  ASSERT_TRUE(waitFor([&] { return mqttLog().find("MQTT: Connection lost\n") != std::string::npos; }, 10000))
      << mqttLog();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  broker.start();
  const auto back = Clock::now();
  // Decisions published before the link is back are lost with the
  // connection (QoS 0); the first one it takes is the run's third.
  const size_t before = statusLines();
  bool followed = false;
  while (!followed && Clock::now() - back < std::chrono::seconds(20)) {
    ASSERT_TRUE(fixtures::publishFromOutside(broker, kTopic, R"({"feedback":"reward"})"));
    followed = waitFor([&] { return statusLines() > before; }, 250);
  }
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - back).count();
  ASSERT_TRUE(followed) << output() << mqttLog();
  RecordProperty("follows_decisions_ms_after_broker_back", std::to_string(ms));
  std::printf("[ figures  ] the program followed a decision %lld ms after its broker came back\n", ms);
  EXPECT_LT(ms, 5000);
  EXPECT_NE(output().find("Reward Percentage is 66.67%\""), std::string::npos) << output();
  EXPECT_TRUE(program.running()) << "the same process, not a new start";
  EXPECT_NE(mqttLog().find("MQTT: Connection lost\nMQTT: Reconnected\n"), std::string::npos) << mqttLog();

  const int status = program.stop();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ProgramLink, ReachesATlsBrokerWithTheCAFileOfItsSettings) {
  fixtures::TestCertificates ca;
  fixtures::MosquittoBroker broker(ca.issue("broker", "IP:127.0.0.1"));

  // Without the CA file the broker's certificate does not verify: the link
  // fails, and the program says so and ends.
  writeSettings(broker);
  start();
  int status = -1;
  ASSERT_TRUE(program.waitExit(20000, &status)) << output();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << output();
  EXPECT_NE(output().find("ERROR: Connection failure to remote server rc="), std::string::npos) << output();
  EXPECT_NE(mqttLog().find("MQTT: connection failed. RC="), std::string::npos) << mqttLog();

  // With it (a path in the program's folder) the link comes up over TLS.
  std::filesystem::copy_file(ca.caFile(), folder() + "/private-ca.pem");
  writeSettings(broker, "CAFile=\"private-ca.pem\"\r\n");
  start();
  ASSERT_TRUE(broker.waitForSubscription("C1-trainee@example.org")) << output() << mqttLog();
  ASSERT_TRUE(follows(broker, "inhibit", "0.00%")) << output();
  ASSERT_TRUE(follows(broker, "reward", "50.00%")) << output();
  status = program.stop();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The key is the user's: a save keeps it as it stands.
  EXPECT_NE(readFile(folder() + "/lumidrop.ini").find("CAFile=\"private-ca.pem\""), std::string::npos);
}

}  // namespace
