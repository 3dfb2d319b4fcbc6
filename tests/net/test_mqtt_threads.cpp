// The MQTT link used from several threads at once, as in a main
// application's process: the DSU read thread polls while other threads
// publish feedback decisions.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "mqtt_test_support.h"
#include "net/mqtt_link.h"
#include "telvaris.h"

namespace {

using mqtttest::LinkTest;
using MqttLinkThreads = LinkTest;

TEST_F(MqttLinkThreads, PublishesDoNotWaitBehindABlockedPoll) {
  constexpr int kPublishes = 20;
  fixtures::OutsideSubscriber outside(broker, "app/publish", kPublishes);
  ASSERT_EQ(connect("main-application"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("dsu/stream"), 0);

  std::atomic<bool> pollStarted {false}, pollReturned {false};
  int32_t polled = 0;
  std::vector<char> buffer(net::mqtt::kPollCopyLimit);
  std::thread reader([&] {
    pollStarted = true;
    polled = pollMQTTConnectionForResponse(buffer.data());  // nothing comes for now: waits up to 5 s
    pollReturned = true;
  });
  while (!pollStarted) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  for (int i = 0; i < kPublishes; ++i) {
    EXPECT_EQ(publishToMQTTConnection("app/publish", i % 2 ? "reward" : "inhibit"), 0);
  }
  EXPECT_FALSE(pollReturned) << "the publishes finished only after the poll gave up";
  std::string expected;
  for (int i = 0; i < kPublishes; ++i) expected += i % 2 ? "reward" : "inhibit";
  EXPECT_EQ(outside.payloads(), expected);

  // A message for the poller ends its wait.
  EXPECT_EQ(publishToMQTTConnection("dsu/stream", "P3"), 0);
  reader.join();
  EXPECT_EQ(polled, 2);
  EXPECT_STREQ(buffer.data(), "P3");
}

TEST_F(MqttLinkThreads, ReceiversAndPublishersShareOneConnection) {
  constexpr int kPerPublisher = 100;
  ASSERT_EQ(connect("shared"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("loop"), 0);

  std::atomic<int> inhibits {0}, rewards {0}, taken {0};
  auto receiver = [&](bool useRetrieve) {
    std::vector<char> buffer(net::mqtt::kPollCopyLimit);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (taken < 2 * kPerPublisher && std::chrono::steady_clock::now() < deadline) {
      int32_t decision = -1;
      if (useRetrieve) {
        decision = tlMQTTRetrieveFeedbackInformation();
      } else if (net::mqtt::pollText(buffer.data(), buffer.size(), 50) > 0) {
        decision = buffer[0] == 'i' ? 0 : 1;
      }
      if (decision == 0) ++inhibits;
      if (decision == 1) ++rewards;
      if (decision >= 0) ++taken;
    }
  };
  auto publisher = [&](const char* word) {
    for (int i = 0; i < kPerPublisher; ++i) {
      EXPECT_EQ(publishToMQTTConnection("loop", word), 0);
      if (i % 10 == 9) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  };
  std::thread r1(receiver, true), r2(receiver, false);
  std::thread p1(publisher, "inhibit"), p2(publisher, "reward");
  p1.join();
  p2.join();
  r1.join();
  r2.join();
  EXPECT_EQ(inhibits, kPerPublisher);
  EXPECT_EQ(rewards, kPerPublisher);
}

TEST_F(MqttLinkThreads, TerminateDoesNotWaitForABlockedPoll) {
  ASSERT_EQ(connect("closing"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("nothing"), 0);
  std::atomic<bool> pollStarted {false};
  int32_t polled = 0;
  std::chrono::steady_clock::time_point pollEnd;
  std::thread reader([&] {
    std::vector<char> buffer(net::mqtt::kPollCopyLimit);
    pollStarted = true;
    polled = pollMQTTConnectionForResponse(buffer.data());
    pollEnd = std::chrono::steady_clock::now();
  });
  while (!pollStarted) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(terminateMQTTConnection(), 0);
  reader.join();
  EXPECT_EQ(polled, -1);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(pollEnd - start).count(), 4000)
      << "the poll ended with the connection, not after its full wait";
  EXPECT_TRUE(broker.waitForDisconnect("closing"));
}

}  // namespace
