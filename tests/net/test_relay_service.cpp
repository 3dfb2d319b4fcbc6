// The relay service stand-in on a real broker, seen through the library's
// MQTT link the way a fading program and a DSU read thread see it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fixtures/relay_service.h"
#include "mqtt_test_support.h"
#include "net/mqtt_link.h"
#include "telvaris.h"

namespace {

using fixtures::OutsideSubscriber;
using fixtures::RelayService;
using mqtttest::LinkTest;

const std::string kEmail = "trainee@example.org";
const std::string kFeedbackTopic = "/pelorvantis/" + kEmail + "/feedback";
const std::string kAppTopic = "app/trainee/publish";
const std::string kStreamTopic = "dsu/trainee/subscribe";
constexpr int kPacket = 14;

using RelayServiceStandIn = LinkTest;

TEST(RelayServiceProgram, SaysWhatItDoesAndRefusesBadArguments) {
  fixtures::TempRoot scratch;
  const std::string out = scratch.file("out.txt");
  fixtures::ChildProcess help;
  help.start({RELAY_SERVICE_PATH, "--help"}, {}, out);
  int status = -1;
  ASSERT_TRUE(help.waitExit(10000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string text = fixtures::readFile(out);
  EXPECT_NE(text.find("Usage: relay-service"), std::string::npos);
  EXPECT_NE(text.find("/pelorvantis/ADDRESS/feedback"), std::string::npos);
  EXPECT_NE(text.find("--relay"), std::string::npos);

  for (const std::vector<std::string>& args : {std::vector<std::string> {"--listen", "t"},
                                               {"--email", "a@b", "--listen", "t", "--relay"},
                                               {"--email", "a@b", "--listen", "t", "--packets", "0"},
                                               {"--email", "a@b", "--listen", "t", "--bogus"}}) {
    fixtures::ChildProcess bad;
    std::vector<std::string> argv = {RELAY_SERVICE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    bad.start(argv, {}, out);
    ASSERT_TRUE(bad.waitExit(10000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args.back();
  }
}

TEST_F(RelayServiceStandIn, TurnsEachDecisionIntoOneFeedbackObject) {
  RelayService relay(RELAY_SERVICE_PATH, broker, kEmail, kAppTopic);
  OutsideSubscriber outside(broker, kFeedbackTopic, 2);
  // The fading program's side.
  ASSERT_EQ(connect("C1-" + kEmail, 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection(kFeedbackTopic.c_str()), 0);
  // What tlAPISetFeedbackStatus sends in MQTT mode, from another process.
  ASSERT_TRUE(fixtures::publishFromOutside(broker, kAppTopic, "inhibit"));
  EXPECT_EQ(nextDecision(), 0);
  ASSERT_TRUE(fixtures::publishFromOutside(broker, kAppTopic, "start/a/b/user/c"));  // not in relay mode: ignored
  ASSERT_TRUE(fixtures::publishFromOutside(broker, kAppTopic, "inhibited"));         // not a decision word
  ASSERT_TRUE(fixtures::publishFromOutside(broker, kAppTopic, "reward"));
  EXPECT_EQ(nextDecision(), 1);
  EXPECT_EQ(outside.payloads(), R"({"feedback":"inhibit"}{"feedback":"reward"})");
  EXPECT_NE(logText().find(R"(MQTT: Received '{"feedback":"inhibit"}' of length 22)"), std::string::npos);
  EXPECT_EQ(messagesTaken(), 2u);
}

TEST_F(RelayServiceStandIn, TheLibrarysOwnPublishReachesTheFeedbackTopic) {
  RelayService relay(RELAY_SERVICE_PATH, broker, kEmail, kAppTopic);
  // One process plays both ends: it publishes a decision the way the shared
  // block does, and takes the feedback the relay makes of it.
  ASSERT_EQ(connect("C1-" + kEmail, 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection(kFeedbackTopic.c_str()), 0);
  ASSERT_EQ(publishToMQTTConnectionWithLength(kAppTopic.c_str(), "inhibit", 7), 0);
  EXPECT_EQ(nextDecision(), 0);
  // It says so (just after it published).
  EXPECT_TRUE(
      fixtures::waitFor([&] { return relay.output().find("inhibit -> " + kFeedbackTopic) != std::string::npos; }, 5000))
      << relay.output();
}

struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<int> messageSizes;
  std::chrono::steady_clock::duration span {};
};

// Takes stream messages until `packets` packets have come (or 20 s passed).
Stream takeStream(size_t packets) {
  Stream s;
  std::vector<uint8_t> buffer(net::mqtt::kPollCopyLimit);
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point first;
  while (s.bytes.size() < packets * kPacket && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    const int32_t n = net::mqtt::pollBytes(buffer.data(), buffer.size(), 1000);
    if (n <= 0) continue;
    if (s.messageSizes.empty()) first = std::chrono::steady_clock::now();
    s.span = std::chrono::steady_clock::now() - first;
    s.messageSizes.push_back(n);
    s.bytes.insert(s.bytes.end(), buffer.begin(), buffer.begin() + n);
  }
  return s;
}

// Checks the P3 framing of a run of 14-byte packets and returns the packet
// counters.
std::vector<int> framedCounters(const std::vector<uint8_t>& bytes) {
  std::vector<int> counters;
  EXPECT_EQ(bytes.size() % kPacket, 0u);
  for (size_t at = 0; at + kPacket <= bytes.size(); at += kPacket) {
    for (int i = 0; i < kPacket - 1; ++i) EXPECT_EQ(bytes[at + static_cast<size_t>(i)] & 0x80, 0);
    EXPECT_EQ(bytes[at + kPacket - 1] & 0x80, 0x80);
    counters.push_back(static_cast<int8_t>(bytes[at]) >> 1);
  }
  return counters;
}

TEST_F(RelayServiceStandIn, RelayModeStreamsP3FromStartUntilStop) {
  RelayService relay(RELAY_SERVICE_PATH, broker, kEmail, kAppTopic, kStreamTopic, 4);
  // The DSU read thread's side: it subscribes to the stream, then publishes its start signal.
  ASSERT_EQ(connect("dsu-user"), 0);
  ASSERT_EQ(subscribeToMQTTConnection(kStreamTopic.c_str()), 0);
  ASSERT_EQ(publishToMQTTConnection(kAppTopic.c_str(), "start/first/second/dsu-user/last"), 0);

  const Stream s = takeStream(2 * 256);
  ASSERT_GE(s.bytes.size(), 2u * 256 * kPacket) << relay.output();
  for (int size : s.messageSizes) ASSERT_EQ(size, 4 * kPacket) << "a few packets a message";
  const std::vector<int> counters = framedCounters(s.bytes);
  for (size_t i = 1; i < counters.size(); ++i) ASSERT_EQ(counters[i], (counters[i - 1] + 1) % 64) << "packet " << i;
  // About 256 packets a second (loosely: the time from first to last message).
  const double seconds = std::chrono::duration<double>(s.span).count();
  const double rate = static_cast<double>(counters.size() - 4) / seconds;
  EXPECT_GT(rate, 128.0);
  EXPECT_LT(rate, 512.0);
  // The signals move: channel 0 (bytes 2 and 4) takes many values.
  std::set<int> channel0;
  for (size_t at = 0; at < s.bytes.size(); at += kPacket)
    channel0.insert(((s.bytes[at + 4] >> 4) & 7) * 128 + s.bytes[at + 2]);
  EXPECT_GT(channel0.size(), 50u);

  ASSERT_EQ(publishToMQTTConnection(kAppTopic.c_str(), "stop/first/second/dsu-user/last"), 0);
  // Whatever was under way drains; then the stream stays silent.
  std::vector<uint8_t> buffer(net::mqtt::kPollCopyLimit);
  while (net::mqtt::pollBytes(buffer.data(), buffer.size(), 300) > 0) {
  }
  EXPECT_EQ(net::mqtt::pollBytes(buffer.data(), buffer.size(), 700), -1);
  EXPECT_TRUE(fixtures::waitFor([&] { return relay.output().find("stream ended after") != std::string::npos; }, 5000))
      << relay.output();

  // A monitor request starts it again.
  ASSERT_EQ(publishToMQTTConnection(kAppTopic.c_str(), "monitor/first/second/dsu-user/last"), 0);
  EXPECT_GE(framedCounters(takeStream(16).bytes).size(), 16u);
  ASSERT_EQ(publishToMQTTConnection(kAppTopic.c_str(), "stop/first/second/dsu-user/last"), 0);
}

TEST_F(RelayServiceStandIn, RelayModeStillTurnsDecisionsIntoFeedback) {
  RelayService relay(RELAY_SERVICE_PATH, broker, kEmail, kAppTopic, kStreamTopic);
  ASSERT_EQ(connect("C1-" + kEmail, 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection(kFeedbackTopic.c_str()), 0);
  ASSERT_TRUE(fixtures::publishFromOutside(broker, kAppTopic, "reward"));
  EXPECT_EQ(nextDecision(), 1);
}

TEST_F(RelayServiceStandIn, EndsCleanlyOnSigintAndSigterm) {
  for (const int signal : {SIGINT, SIGTERM}) {
    RelayService relay(RELAY_SERVICE_PATH, broker, kEmail, kAppTopic, kStreamTopic);
    ASSERT_TRUE(fixtures::publishFromOutside(broker, kAppTopic, "start/a/b/c/d"));  // mid-stream
    ASSERT_TRUE(broker.waitForPublication(relay.clientId()));
    ASSERT_EQ(kill(relay.process().pid(), signal), 0);
    int status = -1;
    ASSERT_TRUE(relay.process().waitExit(5000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "signal " << signal;
    EXPECT_TRUE(broker.waitForLog("Client " + relay.clientId() + " disconnected."));
  }
}

TEST_F(RelayServiceStandIn, WaitsForALateBrokerAndStillEndsOnSigterm) {
  broker.stop();
  fixtures::ChildProcess relay;
  relay.start(fixtures::endingWithStarter({RELAY_SERVICE_PATH, "--broker", broker.uri(), "--client-id", "late-relay",
                                           "--email", kEmail, "--listen", kAppTopic}),
              {}, root.file("relay.out"));
  EXPECT_TRUE(fixtures::waitFor(
      [&] { return fixtures::readFile(root.file("relay.out")).find("trying again") != std::string::npos; }, 10000));
  broker.start();
  EXPECT_TRUE(broker.waitForSubscription("late-relay"));
  EXPECT_EQ(relay.stop(), 0);
}

}  // namespace
