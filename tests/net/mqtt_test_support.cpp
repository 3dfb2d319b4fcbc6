#include "mqtt_test_support.h"

#include <filesystem>

#include "telvaris.h"

namespace mqtttest {

void LinkTest::SetUp() {
  std::filesystem::create_directories(root.file("telvaris"));
}

void LinkTest::TearDown() {
  terminateMQTTConnection();
}

int32_t LinkTest::connect(const std::string& clientId, int32_t debugLevel) {
  return initialiseMQTTConnection(broker.address(), broker.port(), clientId.c_str(), debugLevel);
}

std::string LinkTest::logPath() const {
  return root.file("telvaris/MQTT.log");
}

std::string LinkTest::logText() const {
  return fixtures::readFile(logPath());
}

size_t LinkTest::logCount(const std::string& text) const {
  const std::string log = logText();
  size_t count = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
  return count;
}

size_t LinkTest::messagesTaken() const { return logCount("MQTT: Received '"); }

int32_t LinkTest::nextDecision(int timeoutMs) {
  const size_t before = messagesTaken();
  int32_t decision = -2;
  const bool taken = fixtures::waitFor(
      [&] {
        decision = tlMQTTRetrieveFeedbackInformation();
        return messagesTaken() > before;
      },
      timeoutMs);
  return taken ? decision : -2;
}

}  // namespace mqtttest
