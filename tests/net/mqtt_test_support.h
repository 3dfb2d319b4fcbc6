// Common ground of the MQTT link tests: a fresh TELVARIS_ROOT with the
// folder of the MQTT log, a private broker, and a link that is terminated
// after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fixtures/mosquitto_broker.h"
#include "fixtures/temp_root.h"

namespace mqtttest {

class LinkTest : public fixtures::RootedTest {
 protected:
  LinkTest() = default;
  // A broker that listens with TLS.
  explicit LinkTest(fixtures::TlsListener tls) : broker(std::move(tls)) {}
  void SetUp() override;
  void TearDown() override;

  // initialiseMQTTConnection against the test's broker.
  int32_t connect(const std::string& clientId, int32_t debugLevel = 0);

  // How often `text` occurs in the link's log so far.
  size_t logCount(const std::string& text) const;

  std::string logPath() const;
  std::string logText() const;
  // How many messages the link has taken so far, as its log tells
  // (needs a non-zero debug level).
  size_t messagesTaken() const;

  // Calls tlMQTTRetrieveFeedbackInformation until it takes a message (up to
  // `timeoutMs`) and returns the decision for it; -2 when none came.
  int32_t nextDecision(int timeoutMs = 5000);

  fixtures::MosquittoBroker broker;
};

}  // namespace mqtttest
