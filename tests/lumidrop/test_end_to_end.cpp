// The fading program against a real broker: the real libtelvaris, loaded by
// name from the build's bin folder, connects to a private mosquitto;
// feedback messages published with mosquitto_pub on the user's feedback
// topic fade the overlay and the volume on the headless backend, in real
// time.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "fixtures/mosquitto_broker.h"
#include "fixtures/temp_root.h"
#include "forms/frm_lumidrop.h"
#include "forms/frm_main.h"
#include "forms/program.h"
#include "forms/recording_outputs.h"
#include "link/telvaris_link.h"
#include "platform/dynlib.h"
#include "ui/application.h"
#include "ui/headless_backend.h"

using lumidrop::alphaForLevel;

namespace {

constexpr const char* kEmail = "trainee@example.org";
constexpr const char* kTopic = "/pelorvantis/trainee@example.org/feedback";
constexpr const char* kClient = "C1-trainee@example.org";

const char* const kLinkExports[] = {"ReportVersion",
                                    "initialiseMQTTConnection",
                                    "subscribeToMQTTConnection",
                                    "unsubscribeFromMQTTConnection",
                                    "terminateMQTTConnection",
                                    "tlMQTTRetrieveFeedbackInformation"};

class EndToEnd : public fixtures::RootedTest {
 protected:
  void SetUp() override {
    platform::DynamicLibrary probe;
    ASSERT_TRUE(probe.open(std::string(TELVARIS_BIN_DIR) + "/libtelvaris.so")) << probe.error();
    for (const char* name : kLinkExports) {
      if (!probe.symbol(name)) GTEST_SKIP() << "libtelvaris has no " << name << " yet: the MQTT link is not built";
    }
    broker = std::make_unique<fixtures::MosquittoBroker>();
    fixtures::writeFile(root.file("remote.conf"), "PORT=1883\r\n");
    fixtures::writeFile(root.file("lumidrop.ini"),
                        std::string("[General]\r\nOpacityInhibit=100\r\nVolumeInhibit=30\r\nEmail=\"") + kEmail +
                            "\"\r\n[MQTT]\r\nServerAddress=\"" + fixtures::MosquittoBroker::kAddress +
                            "\"\r\nServerPortNumber=" + std::to_string(broker->port()) + "\r\nSubscriberTopic=\"" +
                            kTopic + "\"\r\nClientID=\"" + kClient + "\"\r\n");
    program = std::make_unique<lumidrop::Program>(app, link, layering, volume, root.path());
  }
  void TearDown() override { program.reset(); }

  bool publish(const std::string& decision) {
    return fixtures::publishFromOutside(*broker, kTopic, "{\"feedback\":\"" + decision + "\"}");
  }
  // Publishes one decision and lets the program run until it counted it.
  void decide(const std::string& decision) {
    const int32_t before = program->lumidrop().feedbackCount;
    ASSERT_TRUE(publish(decision));
    ASSERT_TRUE(backend.runUntil([&] { return program->lumidrop().feedbackCount == before + 1; }, 10000))
        << "the " << decision << " message did not arrive";
  }

  std::unique_ptr<fixtures::MosquittoBroker> broker;
  ui::HeadlessBackend backend{ui::HeadlessBackend::Clock::Real};
  ui::Application app{backend};
  lumidrop::RecordingLayering layering;
  lumidrop::RecordingVolume volume;
  std::optional<std::string> linkFailure;
  lumidrop::LibraryTelvarisLink link{TELVARIS_BIN_DIR, [this](const std::string& why) {
                                       linkFailure = why;
                                       app.end(1);
                                     }};
  std::unique_ptr<lumidrop::Program> program;
};

}  // namespace

TEST_F(EndToEnd, FeedbackMessagesFromTheBrokerFadeTheOverlayAndTheVolume) {
  app.start(program->panel());
  ASSERT_FALSE(app.ended()) << (linkFailure ? *linkFailure : "the program ended at start-up");
  EXPECT_EQ(link.loadedFrom(), std::string(TELVARIS_BIN_DIR) + "/libtelvaris.so");
  ASSERT_TRUE(broker->waitForSubscription(kClient)) << broker->log();
  EXPECT_TRUE(backend.messages().empty());
  layering.clear();
  volume.clear();

  // Auto fade from level 10: three inhibits climb to 13 with the volume
  // still full (not above 30), a reward steps back to 12.
  decide("inhibit");
  decide("inhibit");
  decide("inhibited");  // only the first seven letters count
  EXPECT_EQ(program->panel().lblStatus.caption(), "Reward Percentage is 0.00%");
  decide("reward");
  EXPECT_EQ(layering.alphas(),
            (std::vector<int>{alphaForLevel(11), alphaForLevel(12), alphaForLevel(13), alphaForLevel(12)}));
  EXPECT_EQ(volume.percents(), (std::vector<int>{100, 100, 100, 88}));
  EXPECT_EQ(program->panel().lblStatus.caption(), "Reward Percentage is 25.00%");
  EXPECT_EQ(program->lumidrop().fadeLevel, 12);

  // With no message the program stays as it is.
  backend.runUntil([] { return false; }, 300);
  EXPECT_EQ(layering.alphas().size(), 4u);

  program->panel().btnExit.userClick();
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_TRUE(broker->waitForDisconnect(kClient)) << broker->log();
  EXPECT_EQ(volume.percents().back(), 100);
  EXPECT_EQ(layering.alphas().back(), 0);
  EXPECT_FALSE(fixtures::pathExists(root.file("lumidrop.pid")));
  const std::string ini = fixtures::readFile(root.file("lumidrop.ini"));
  EXPECT_NE(ini.find(std::string("SubscriberTopic=\"") + kTopic + "\"\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("ServerPortNumber= " + std::to_string(broker->port()) + "\r\n"), std::string::npos) << ini;
}

TEST_F(EndToEnd, ABrokerThatIsNotThereShowsAsARefusedSubscription) {
  broker->stop();
  app.start(program->panel());
  EXPECT_TRUE(app.ended());
  ASSERT_EQ(backend.messages().size(), 1u);
  EXPECT_EQ(backend.messages()[0].text.rfind("ERROR: Connection failure to remote server rc=", 0), 0u)
      << backend.messages()[0].text;
  EXPECT_NE(backend.messages()[0].text, "ERROR: Connection failure to remote server rc=0");
  EXPECT_FALSE(fixtures::pathExists(root.file("lumidrop.pid")));
}
