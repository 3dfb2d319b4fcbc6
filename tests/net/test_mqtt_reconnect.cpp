// The MQTT link through faults of its peers, against a real mosquitto: a
// broker that restarts, another client that takes over the link's identity,
// and a burst of messages larger than the receive queue.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/child_process.h"
#include "mqtt_test_support.h"
#include "net/mqtt_link.h"
#include "telvaris.h"

namespace {

using Clock = std::chrono::steady_clock;
using fixtures::publishFromOutside;
using fixtures::waitFor;
using mqtttest::LinkTest;
using MqttFaults = LinkTest;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// How often the broker's log says that `clientId` connected.
size_t connectionsOf(const fixtures::MosquittoBroker& broker, const std::string& clientId) {
  const std::string log = broker.log();
  const std::string line = " as " + clientId + " (";
  size_t count = 0;
  for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
  return count;
}

TEST_F(MqttFaults, ABrokerRestartIsSurvivedWithTheSubscriptionsInPlace) {
  const std::string id = "C1-restart@example.org";
  ASSERT_EQ(connect(id, 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("relay/feedback"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("relay/other"), 0);
  const uint32_t reconnectsBefore = net::mqtt::reconnectCount();
  ASSERT_TRUE(publishFromOutside(broker, "relay/feedback", R"({"feedback":"inhibit"})"));
  ASSERT_EQ(nextDecision(), 0);

  broker.stop();
  ASSERT_TRUE(waitFor([&] { return logCount("MQTT: Connection lost\n") == 1; }, 10000)) << logText();
  // Down: every call answers at once, as on a lost link.
  const auto calls = Clock::now();
  EXPECT_EQ(publishToMQTTConnection("relay/feedback", "reward"), -1);
  EXPECT_EQ(subscribeToMQTTConnection("relay/late"), TLV_MQTT_DISCONNECTED);
  std::vector<char> buffer(net::mqtt::kPollCopyLimit);
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), -1);
  EXPECT_EQ(tlMQTTRetrieveFeedbackInformation(), -1);
  EXPECT_EQ(unsubscribeFromMQTTConnection("relay/other"), 0);
  EXPECT_LT(msSince(calls), 2000) << "a call waited for the lost connection";
  EXPECT_EQ(net::mqtt::reconnectCount(), reconnectsBefore);

  // The first try meets no broker; a later one finds it back.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  broker.start();
  const auto back = Clock::now();
  ASSERT_TRUE(waitFor([&] { return logCount("MQTT: Reconnected\n") == 1; }, 15000)) << logText();
  const long long reconnectMs = msSince(back);
  RecordProperty("reconnect_ms_after_broker_back", std::to_string(reconnectMs));
  std::printf("[ figures  ] reconnected %lld ms after the broker came back\n", reconnectMs);
  EXPECT_EQ(net::mqtt::reconnectCount(), reconnectsBefore + 1);
  EXPECT_EQ(connectionsOf(broker, id), 2u) << broker.log();

  // The feedback subscription is back; the one ended while down is not, nor
  // the one refused while down.
  ASSERT_TRUE(publishFromOutside(broker, "relay/other", "inhibit"));
  ASSERT_TRUE(publishFromOutside(broker, "relay/late", "inhibit"));
  ASSERT_TRUE(publishFromOutside(broker, "relay/feedback", R"({"feedback":"reward"})"));
  EXPECT_EQ(nextDecision(), 1);
  ASSERT_EQ(publishToMQTTConnection("relay/feedback", "inhibit"), 0);
  EXPECT_EQ(nextDecision(), 0);
  EXPECT_EQ(messagesTaken(), 3u);

  // Lost again: terminate ends the tries at once, and nothing connects after it.
  broker.stop();
  ASSERT_TRUE(waitFor([&] { return logCount("MQTT: Connection lost\n") == 2; }, 10000)) << logText();
  const auto terminating = Clock::now();
  EXPECT_EQ(terminateMQTTConnection(), 0);
  EXPECT_LT(msSince(terminating), 2000);
  broker.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // past the next try's time
  EXPECT_EQ(connectionsOf(broker, id), 2u) << broker.log();
  const std::string log = logText();
  EXPECT_EQ(log.substr(log.size() - 37), "MQTT: Connection lost\nMQTT: Shutdown\n") << log;
  EXPECT_EQ(logCount("MQTT: Reconnected\n"), 1u);
}

// mosquitto keeps one connection per client identity and drops the older;
// mosquitto_sub comes back a second after each time it is pushed out.
TEST_F(MqttFaults, AnotherClientWithTheSameIdentityMakesItWaitLongest) {
  const std::string id = "C1-twin@example.org";
  ASSERT_EQ(connect(id, 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("twin/feedback"), 0);
  fixtures::ChildProcess twin;
  twin.start(
      fixtures::endingWithStarter({fixtures::findProgram("mosquitto_sub"), "-h", fixtures::MosquittoBroker::kHost, "-p",
                                   std::to_string(broker.port()), "-i", id, "-t", "twin/other"}),
      {}, broker.folder() + "/twin.out");

  const std::string clash =
      "MQTT: Connection lost again and again soon after connecting; another client may be using the identity " + id +
      "\n";
  ASSERT_TRUE(waitFor([&] { return logCount(clash) == 1; }, 30000)) << logText();
  const auto clashSeen = Clock::now();
  const size_t reconnects = logCount("MQTT: Reconnected\n");
  ASSERT_TRUE(waitFor([&] { return logCount("MQTT: Reconnected\n") > reconnects; }, 15000)) << logText();
  EXPECT_GE(msSince(clashSeen), 4500) << "the try after a take-over came before the longest wait";
  twin.stop();

  // With the other client gone the link keeps its connection: messages flow.
  ASSERT_TRUE(waitFor(
      [&] {
        return publishFromOutside(broker, "twin/feedback", R"({"feedback":"inhibit"})") && nextDecision(300) == 0;
      },
      20000))
      << logText();
  EXPECT_EQ(logCount(clash), 1u) << "said once per run of take-overs";
}

// A burst larger than the receive queue: the oldest messages go, each one
// counted, and the queue never holds more than its bounds.
TEST_F(MqttFaults, ABurstPastTheQueueBoundsDropsTheOldest) {
  ASSERT_EQ(connect("flooded", 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("burst"), 0);
  const uint64_t messagesBefore = net::mqtt::droppedMessages();
  const uint64_t bytesBefore = net::mqtt::droppedBytes();

  // By count: 1000 numbered messages more than the queue holds.
  const size_t total = net::mqtt::kQueueMaxMessages + 1000;
  std::string lines;
  for (size_t i = 0; i < total; ++i) lines += std::to_string(i) + "\n";
  ASSERT_TRUE(fixtures::publishLinesFromOutside(broker, "burst", lines));
  ASSERT_TRUE(waitFor(
      [&] { return net::mqtt::queueLevel().messages + (net::mqtt::droppedMessages() - messagesBefore) >= total; },
      60000));
  EXPECT_EQ(net::mqtt::queueLevel().messages, net::mqtt::kQueueMaxMessages);
  EXPECT_EQ(net::mqtt::droppedMessages() - messagesBefore, 1000u);
  // Messages 0 to 999: ten of one digit, ninety of two, nine hundred of three.
  EXPECT_EQ(net::mqtt::droppedBytes() - bytesBefore, 10u * 1 + 90 * 2 + 900 * 3);
  char text[16];
  std::string first, last;
  size_t taken = 0;
  for (int32_t n; (n = net::mqtt::pollText(text, sizeof text, 0)) >= 0; ++taken) {
    (taken == 0 ? first : last).assign(text, static_cast<size_t>(n));
  }
  EXPECT_EQ(taken, net::mqtt::kQueueMaxMessages);
  EXPECT_EQ(first, "1000");
  EXPECT_EQ(last, std::to_string(total - 1));

  // By bytes: two megabytes more than the queue holds, in 1 MiB messages.
  const size_t mib = 1024 * 1024;
  const size_t big = net::mqtt::kQueueMaxBytes / mib + 2;
  for (size_t i = 0; i < big; ++i) {
    const std::string payload(mib, static_cast<char>('a' + i));
    ASSERT_EQ(publishToMQTTConnectionWithLength("burst", payload.data(), static_cast<int32_t>(payload.size())), 0);
  }
  ASSERT_TRUE(waitFor(
      [&] { return net::mqtt::queueLevel().messages + (net::mqtt::droppedMessages() - messagesBefore - 1000) >= big; },
      30000));
  EXPECT_EQ(net::mqtt::queueLevel().bytes, net::mqtt::kQueueMaxBytes);
  EXPECT_EQ(net::mqtt::droppedBytes() - bytesBefore, 2890u + 2 * mib);
  std::vector<char> buffer(mib);
  ASSERT_EQ(net::mqtt::pollBytes(buffer.data(), buffer.size(), 0), static_cast<int32_t>(mib));
  EXPECT_EQ(buffer[0], 'c') << "the two oldest went";

  // The log counts them; the last tally is written at the latest by terminate.
  EXPECT_EQ(terminateMQTTConnection(), 0);
  const std::string log = logText();
  const size_t tally = log.rfind("MQTT: Receive queue full: ");
  ASSERT_NE(tally, std::string::npos) << log.substr(0, 2000);
  EXPECT_EQ(log.substr(tally), "MQTT: Receive queue full: 1002 messages (" + std::to_string(2890 + 2 * mib) +
                                   " bytes) dropped so far\nMQTT: Shutdown\n");
}

}  // namespace
