#include <gtest/gtest.h>

#include <string>

#include "dsu/debug_log.h"
#include "dsu/transfer_mode.h"
#include "fixtures/temp_root.h"
#include "telvaris.h"

namespace {

class TransferMode : public fixtures::RootedTest {
 protected:
  void SetUp() override { ASSERT_EQ(SetDebugMode(0, 1, root.file("dsu.log").c_str()), 0); }
  void TearDown() override {
    SetDebugMode(0, 0, nullptr);
    SetDataTransferMode(0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  std::string log() const { return fixtures::readFile(root.file("dsu.log")); }
};

TEST_F(TransferMode, MqttStoresTheEndpointsAndPlainPayloads) {
  EXPECT_EQ(SetDataTransferMode(2, "127.0.0.1", 1883, "trainee", "pub/decisions", "sub/dsu", "a", "b", "c"), 2);
  const auto s = dsu::transferSettings();
  EXPECT_EQ(s.mode, dsu::kMqtt);
  EXPECT_EQ(s.brokerAddress, "127.0.0.1");
  EXPECT_EQ(s.brokerPort, 1883);
  EXPECT_EQ(s.userId, "trainee");
  EXPECT_EQ(s.publishTopic, "pub/decisions");
  EXPECT_EQ(s.subscribeTopic, "sub/dsu");
  EXPECT_EQ(s.startPayload, "start");
  EXPECT_EQ(s.stopPayload, "stop");
  EXPECT_NE(log().find("] - Data Transfer Mode set to MQTT\n"), std::string::npos) << log();
  EXPECT_NE(log().find("] - Server Address: 127.0.0.1:1883, P-Topic: pub/decisions, S-Topic: sub/dsu\n"),
            std::string::npos);
}

TEST_F(TransferMode, RelayPayloadsCarryTheFourParts) {
  EXPECT_EQ(SetDataTransferMode(3, "relay.local", 8883, "me@example.org", "p", "s", "dev", "42", "x"), 3);
  auto s = dsu::transferSettings();
  EXPECT_EQ(s.startPayload, "start/dev/42/me@example.org/x");
  EXPECT_EQ(s.stopPayload, "stop/dev/42/me@example.org/x");
  EXPECT_NE(log().find("Data Transfer Mode set to Pelorvantis\n"), std::string::npos);

  EXPECT_EQ(SetDataTransferMode(4, "relay.local", 8883, "me@example.org", "p", "s", "dev", "42", "x"), 3);
  s = dsu::transferSettings();
  EXPECT_EQ(s.mode, dsu::kRelay);
  EXPECT_EQ(s.startPayload, "monitor/dev/42/me@example.org/x");
  EXPECT_EQ(s.stopPayload, "stop/dev/42/me@example.org/x");
}

TEST_F(TransferMode, TcpIpAndSerialAndUnknownModes) {
  EXPECT_EQ(SetDataTransferMode(1, "192.0.2.10", 5000, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(dsu::transferSettings().serverAddress, "192.0.2.10");
  EXPECT_NE(log().find("Data Transfer Mode set to TCP/IP\n"), std::string::npos);
  EXPECT_NE(log().find("] - Server IP: 192.0.2.10, Port 5000\n"), std::string::npos);

  EXPECT_EQ(SetDataTransferMode(7, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(dsu::transferMode(), dsu::kSerial);
  EXPECT_NE(log().find("] - Data transfer mode '7' not recognised - defaulting to SERIAL\n"), std::string::npos);
  EXPECT_NE(log().find("Data Transfer Mode set to Serial\n"), std::string::npos);
}

TEST_F(TransferMode, TextThatDoesNotFitChangesNothing) {
  ASSERT_EQ(SetDataTransferMode(2, "broker", 1, "id", "pub", "sub", "", "", ""), 2);
  const std::string topic64(64, 't');
  EXPECT_EQ(SetDataTransferMode(2, "broker", 1, "id", topic64.c_str(), "sub", "", "", ""), -1);
  EXPECT_EQ(SetDataTransferMode(2, std::string(32, 'b').c_str(), 1, "id", "pub", "sub", "", "", ""), -1);
  EXPECT_EQ(SetDataTransferMode(1, "192.168.100.100x", 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(SetDataTransferMode(2, nullptr, 1, "id", "pub", "sub", "", "", ""), -1);
  EXPECT_EQ(SetDataTransferMode(3, "broker", 1, "id", "pub", "sub", nullptr, "", ""), -1);
  EXPECT_EQ(SetDataTransferMode(3, "broker", 1, "id", "pub", "sub", std::string(120, 'x').c_str(), "", ""), -1)
      << "the start payload would pass 127 characters";
  auto s = dsu::transferSettings();
  EXPECT_EQ(s.mode, dsu::kMqtt);
  EXPECT_EQ(s.publishTopic, "pub");
  EXPECT_EQ(s.brokerAddress, "broker");

  // The longest texts that fit are kept whole.
  const std::string topic63(63, 't');
  EXPECT_EQ(SetDataTransferMode(2, std::string(31, 'b').c_str(), 1, std::string(99, 'u').c_str(), topic63.c_str(),
                                std::string(95, 's').c_str(), "", "", ""),
            2);
  EXPECT_EQ(dsu::transferSettings().publishTopic, topic63);
}

}  // namespace
