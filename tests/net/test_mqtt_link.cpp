// The MQTT link against a real mosquitto, with mosquitto_pub and
// mosquitto_sub as outside peers.
#include <MQTTClient.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "mqtt_test_support.h"
#include "net/mqtt_link.h"
#include "telvaris.h"

namespace {

using namespace std::string_literals;
using fixtures::OutsideSubscriber;
using fixtures::publishFromOutside;
using mqtttest::LinkTest;

using MqttLink = LinkTest;

TEST_F(MqttLink, ConnectSubscribePublishAndPoll) {
  ASSERT_EQ(connect("C1-trainee@example.org"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("/pelorvantis/trainee@example.org/feedback"), 0);
  ASSERT_EQ(publishToMQTTConnection("/pelorvantis/trainee@example.org/feedback", "hello"), 0);
  std::vector<char> buffer(net::mqtt::kPollCopyLimit, 'x');
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), 5);
  EXPECT_EQ(std::string(buffer.data(), 6), "hellox") << "only the payload's positions are written";
}

TEST_F(MqttLink, PublishesSendExactlyTheirBytes) {
  OutsideSubscriber outside(broker, "app/out", 3);
  ASSERT_EQ(connect("publisher"), 0);
  // The text form sends no terminating zero.
  EXPECT_EQ(publishToMQTTConnection("app/out", "inhibit"), 0);
  // The length form sends zero bytes inside, and nothing past the length.
  const char bytes[] = {'a', '\0', 'b', '\0', '\0', 'c', 'z', 'z'};
  EXPECT_EQ(publishToMQTTConnectionWithLength("app/out", bytes, 6), 0);
  EXPECT_EQ(publishToMQTTConnection("app/out", "reward"), 0);
  EXPECT_EQ(outside.payloads(), "inhibit"s + "a\0b\0\0c"s + "reward"s);
}

TEST_F(MqttLink, MessagesFromAnOutsidePublisherReachPollAndRetrieve) {
  ASSERT_EQ(connect("C1-trainee@example.org", 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("relay/feedback"), 0);

  ASSERT_TRUE(publishFromOutside(broker, "relay/feedback", "ab\0cd"s));
  std::vector<char> buffer(net::mqtt::kPollCopyLimit + 8, 'x');
  // The full length comes back; from the zero byte on the buffer holds zeros.
  ASSERT_EQ(pollMQTTConnectionForResponse(buffer.data()), 5);
  EXPECT_EQ(std::string(buffer.data(), 6), "ab\0\0\0x"s);

  ASSERT_TRUE(publishFromOutside(broker, "relay/feedback", R"({"feedback":"inhibit"})"));
  EXPECT_EQ(nextDecision(), 0);
  ASSERT_TRUE(publishFromOutside(broker, "relay/feedback", R"({"feedback":"reward"})"));
  EXPECT_EQ(nextDecision(), 1);
}

TEST_F(MqttLink, PollCopiesAtMostTheDsuBufferSize) {
  ASSERT_EQ(connect("poller"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("big"), 0);
  const size_t limit = net::mqtt::kPollCopyLimit;
  ASSERT_TRUE(publishFromOutside(broker, "big", std::string(limit + 1000, 'p')));
  std::vector<char> buffer(limit + 16, 'x');
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), static_cast<int32_t>(limit));
  EXPECT_EQ(buffer[limit - 1], 'p');
  EXPECT_EQ(buffer[limit], 'x');
}

TEST_F(MqttLink, RetrieveDecidesEachPayloadForm) {
  ASSERT_EQ(connect("C1-forms@example.org", 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("forms"), 0);
  struct Form {
    std::string payload;
    int32_t decision;
  };
  const std::vector<Form> forms = {
      {R"({"feedback":"inhibit"})", 0},
      {R"({"feedback":"reward"})", 1},
      {R"({"feedback":"inhibited"})", 0},  // seven characters compared
      {R"({"feedback":"neutral"})", 1},    // any other word rewards
      {"inhibit", 0},                      // a main application's bare words
      {"reward", 1},
      {"start/a/b/c/d", -1},
      {"{}", -1},
      {"", -1},
      {"inhibit\0reward"s, 0},  // the text ends at a zero byte
      {"\0{\"k\":\"inhibit\"}"s, -1},
  };
  for (const Form& form : forms) {
    ASSERT_EQ(
        publishToMQTTConnectionWithLength("forms", form.payload.data(), static_cast<int32_t>(form.payload.size())), 0);
    EXPECT_EQ(nextDecision(), form.decision) << "payload '" << form.payload << "'";
  }
}

TEST_F(MqttLink, RetrieveCutsLongPayloadsTo2047Bytes) {
  ASSERT_EQ(connect("long", 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("long"), 0);
  // The decision word lies past the cut: only the key is left, one token.
  const std::string head = R"({"feedback":)";
  const std::string payload = head + std::string(2047 - head.size(), ' ') + R"("inhibit"})";
  ASSERT_EQ(publishToMQTTConnection("long", payload.c_str()), 0);
  EXPECT_EQ(nextDecision(), -1);
  const std::string expected =
      "MQTT: Received '" + payload.substr(0, 2047) + "' of length " + std::to_string(payload.size()) + "\n";
  EXPECT_NE(logText().find(expected), std::string::npos);

  // Just within the bound the word still decides.
  const std::string fits = head + std::string(2047 - head.size() - 9, ' ') + R"("inhibit")";
  ASSERT_EQ(fits.size(), 2047u);
  ASSERT_EQ(publishToMQTTConnection("long", fits.c_str()), 0);
  EXPECT_EQ(nextDecision(), 0);
}

TEST_F(MqttLink, RetrieveGivesUpAfterAbout50MsWithoutALogLine) {
  ASSERT_EQ(connect("idle", 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("quiet"), 0);
  const std::string before = logText();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tlMQTTRetrieveFeedbackInformation(), -1);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 45);
  EXPECT_LT(ms, 2000);
  EXPECT_EQ(logText(), before);
}

TEST_F(MqttLink, UnsubscribedTopicsNoLongerDeliver) {
  ASSERT_EQ(connect("leaver", 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("first"), 0);
  EXPECT_EQ(unsubscribeFromMQTTConnection("first"), 0);
  ASSERT_TRUE(publishFromOutside(broker, "first", "inhibit"));
  // Still connected: a message on another topic gets through, the earlier one never does.
  ASSERT_EQ(subscribeToMQTTConnection("second"), 0);
  ASSERT_TRUE(publishFromOutside(broker, "second", "reward"));
  EXPECT_EQ(nextDecision(), 1);
  EXPECT_EQ(messagesTaken(), 1u);
  EXPECT_NE(logText().find("MQTT: Unsubscribing from first\n"), std::string::npos);
  // Unsubscribing from a topic never subscribed is no failure either.
  EXPECT_EQ(unsubscribeFromMQTTConnection("never"), 0);
}

TEST_F(MqttLink, TerminateEndsTheSessionAndANewOneMayFollow) {
  ASSERT_EQ(connect("first-session"), 0);
  EXPECT_EQ(terminateMQTTConnection(), 0);
  EXPECT_TRUE(broker.waitForDisconnect("first-session"));
  EXPECT_EQ(publishToMQTTConnection("t", "after"), -1);
  EXPECT_EQ(tlMQTTRetrieveFeedbackInformation(), -1);
  EXPECT_EQ(terminateMQTTConnection(), 0);

  ASSERT_EQ(connect("second-session"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("t"), 0);
  ASSERT_EQ(publishToMQTTConnection("t", "again"), 0);
  std::vector<char> buffer(net::mqtt::kPollCopyLimit);
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), 5);
  EXPECT_STREQ(buffer.data(), "again");
}

TEST_F(MqttLink, ASecondInitialiseClosesTheFirstClient) {
  ASSERT_EQ(connect("old-client"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("old-topic"), 0);
  ASSERT_EQ(connect("new-client"), 0);
  EXPECT_TRUE(broker.waitForDisconnect("old-client"));
  // The new client starts clean: the old subscription is gone with the old client.
  ASSERT_TRUE(publishFromOutside(broker, "old-topic", "inhibit"));
  ASSERT_EQ(subscribeToMQTTConnection("new-topic"), 0);
  ASSERT_TRUE(publishFromOutside(broker, "new-topic", "reward"));
  std::vector<char> buffer(net::mqtt::kPollCopyLimit);
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), 6);
  EXPECT_STREQ(buffer.data(), "reward");
}

TEST(MqttLinkAlone, CallsWithoutAnyInitialiseFailCleanly) {
  fixtures::TempRoot root;
  EXPECT_EQ(terminateMQTTConnection(), 0);
  EXPECT_NE(subscribeToMQTTConnection("t"), 0);
  EXPECT_EQ(publishToMQTTConnection("t", "x"), -1);
  EXPECT_EQ(publishToMQTTConnectionWithLength("t", "x", 1), -1);
  char buffer[8];
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer), -1);
  EXPECT_EQ(tlMQTTRetrieveFeedbackInformation(), -1);
  EXPECT_EQ(unsubscribeFromMQTTConnection("t"), 0);
  EXPECT_EQ(terminateMQTTConnection(), 0);
}

// The code the client library itself gives for a connect to `uri`.
int libraryConnectCode(const std::string& uri) {
  MQTTClient client = nullptr;
  if (MQTTClient_create(&client, uri.c_str(), "probe", MQTTCLIENT_PERSISTENCE_NONE, nullptr) != MQTTCLIENT_SUCCESS)
    return 0;
  MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
  options.keepAliveInterval = 20;
  options.cleansession = 1;
  const int rc = MQTTClient_connect(client, &options);
  MQTTClient_destroy(&client);
  return rc;
}

TEST_F(MqttLink, WithoutABrokerEveryCallFailsAndNothingCrashes) {
  broker.stop();
  const int expected = libraryConnectCode(broker.uri());
  ASSERT_NE(expected, 0);
  const int32_t rc = connect("lonely", 1);
  EXPECT_EQ(rc, expected);
  EXPECT_NE(logText().find("MQTT: connection failed. RC=" + std::to_string(rc) + "\n"), std::string::npos);
  EXPECT_EQ(logText().find("Connected"), std::string::npos);

  const int32_t subscribed = subscribeToMQTTConnection("t");
  EXPECT_NE(subscribed, 0);
  EXPECT_NE(logText().find("MQTT: Subscription failed. RC=" + std::to_string(subscribed) + "\n"), std::string::npos);
  EXPECT_EQ(publishToMQTTConnection("t", "inhibit"), -1);
  EXPECT_EQ(publishToMQTTConnectionWithLength("t", "inhibit", 7), -1);
  EXPECT_NE(logText().find("MQTT: Publish setup failed. RC="), std::string::npos);
  std::vector<char> buffer(16);
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), -1);
  EXPECT_EQ(tlMQTTRetrieveFeedbackInformation(), -1);
  EXPECT_EQ(unsubscribeFromMQTTConnection("t"), 0);
  EXPECT_EQ(terminateMQTTConnection(), 0);
}

TEST_F(MqttLink, LosingTheBrokerIsReportedNotFatal) {
  ASSERT_EQ(connect("orphan"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("t"), 0);
  broker.stop();
  // The loss shows on a receive or on a publish, whichever meets it first.
  EXPECT_TRUE(fixtures::waitFor(
      [] {
        tlMQTTRetrieveFeedbackInformation();
        return publishToMQTTConnection("t", "inhibit") == -1;
      },
      10000));
  EXPECT_EQ(tlMQTTRetrieveFeedbackInformation(), -1);
  EXPECT_EQ(terminateMQTTConnection(), 0);
}

TEST_F(MqttLink, BadArgumentsAreRefused) {
  EXPECT_EQ(initialiseMQTTConnection(nullptr, broker.port(), "id", 0), MQTTCLIENT_NULL_PARAMETER);
  EXPECT_EQ(initialiseMQTTConnection(fixtures::MosquittoBroker::kAddress, broker.port(), nullptr, 0),
            MQTTCLIENT_NULL_PARAMETER);
  // A scheme the client library does not know fails at creation, negative.
  EXPECT_LT(initialiseMQTTConnection("nonsense://127.0.0.1", broker.port(), "id", 0), 0);

  ASSERT_EQ(connect("careful"), 0);
  EXPECT_NE(subscribeToMQTTConnection(nullptr), 0);
  EXPECT_EQ(publishToMQTTConnection(nullptr, "x"), -1);
  EXPECT_EQ(publishToMQTTConnection("t", nullptr), -1);
  EXPECT_EQ(publishToMQTTConnectionWithLength("t", nullptr, 3), -1);
  EXPECT_EQ(publishToMQTTConnectionWithLength("t", "abc", -1), -1);
  EXPECT_EQ(pollMQTTConnectionForResponse(nullptr), -1);
  EXPECT_EQ(unsubscribeFromMQTTConnection(nullptr), 0);
  // The connection is still good.
  ASSERT_EQ(subscribeToMQTTConnection("t"), 0);
  ASSERT_EQ(publishToMQTTConnectionWithLength("t", nullptr, 0), 0);
  std::vector<char> buffer(net::mqtt::kPollCopyLimit, 'x');
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), 0);
  EXPECT_EQ(buffer[0], 'x');
}

// ---- the DSU road's receive ------------------------------------------------

TEST_F(MqttLink, TheDsuRoadGetsRawBytesAndKeepsWhatDidNotFit) {
  ASSERT_EQ(connect("dsu-thread"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("dsu/stream"), 0);
  const std::string packet = "\x00\x00\x05\x00\x21\x07\x08\x43\x00\x0A\x65\x0B\x0C\xF7"s;
  ASSERT_TRUE(publishFromOutside(broker, "dsu/stream", packet));
  uint8_t buffer[64];
  ASSERT_EQ(net::mqtt::pollBytes(buffer, sizeof buffer), 14);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 14), packet);

  // A payload larger than the buffer comes out in turns, nothing lost.
  ASSERT_TRUE(publishFromOutside(broker, "dsu/stream", "0123456789"));
  ASSERT_TRUE(publishFromOutside(broker, "dsu/stream", "next"));
  ASSERT_EQ(net::mqtt::pollBytes(buffer, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "0123");
  ASSERT_EQ(net::mqtt::pollBytes(buffer, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "4567");
  ASSERT_EQ(net::mqtt::pollBytes(buffer, 4), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "89");
  ASSERT_EQ(net::mqtt::pollBytes(buffer, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "next");
  EXPECT_EQ(net::mqtt::pollBytes(buffer, 4, 100), -1);
}

// ---- the log -------------------------------------------------------------

TEST_F(MqttLink, DebugLevelZeroCreatesNoLog) {
  ASSERT_EQ(connect("silent", 0), 0);
  ASSERT_EQ(subscribeToMQTTConnection("t"), 0);
  ASSERT_EQ(publishToMQTTConnection("t", "inhibit"), 0);
  EXPECT_EQ(tlMQTTRetrieveFeedbackInformation(), 0);
  EXPECT_EQ(terminateMQTTConnection(), 0);
  EXPECT_FALSE(fixtures::pathExists(logPath()));
}

TEST_F(MqttLink, LevelOneLogsTheConnection) {
  fixtures::writeFile(logPath(), "left from an earlier run\n");
  ASSERT_EQ(connect("C1-trainee@example.org", 1), 0);
  EXPECT_EQ(logText(), "MQTT: Creating telvarisDLL -> pelorVantis connection for " + broker.uri() +
                           ", with userid C1-trainee@example.org \n"
                           "MQTT: Connecting to pelorVantis\n"
                           "MQTT: Connected to pelorVantis\n");
}

TEST_F(MqttLink, LogLinesAreWrittenAsTheyStand) {
  ASSERT_EQ(connect("id-%s-%n", 1), 0);
  const char* topic = "t/%s/%d/%n";
  ASSERT_EQ(subscribeToMQTTConnection(topic), 0);
  ASSERT_EQ(publishToMQTTConnection(topic, "%s%n%d"), 0);
  EXPECT_EQ(nextDecision(), -1);
  ASSERT_EQ(publishToMQTTConnectionWithLength(topic, "abc", 3), 0);
  EXPECT_EQ(nextDecision(), -1);
  EXPECT_EQ(unsubscribeFromMQTTConnection(topic), 0);
  EXPECT_EQ(terminateMQTTConnection(), 0);
  EXPECT_EQ(logText(), "MQTT: Creating telvarisDLL -> pelorVantis connection for " + broker.uri() +
                           ", with userid id-%s-%n \n"
                           "MQTT: Connecting to pelorVantis\n"
                           "MQTT: Connected to pelorVantis\n"
                           "MQTT: Subscribing to t/%s/%d/%n\n"
                           "MQTT: Publishing %s%n%d to t/%s/%d/%n\n"
                           "MQTT: Received '%s%n%d' of length 6\n"
                           "MQTT: Publishing 3 bytes to t/%s/%d/%n\n"
                           "MQTT: Received 'abc' of length 3\n"
                           "MQTT: Unsubscribing from t/%s/%d/%n\n"
                           "MQTT: Shutdown\n");
}

TEST_F(MqttLink, TheLogStaysOpenAcrossInitialisationsUntilTerminate) {
  ASSERT_EQ(connect("a", 1), 0);
  // Level 0 silences the log without closing it; the next level 1 goes on
  // writing the same file instead of emptying it.
  ASSERT_EQ(connect("b", 0), 0);
  ASSERT_EQ(subscribeToMQTTConnection("hidden"), 0);
  ASSERT_EQ(connect("c", 1), 0);
  const std::string text = logText();
  EXPECT_NE(text.find("with userid a \n"), std::string::npos);
  EXPECT_EQ(text.find("userid b"), std::string::npos);
  EXPECT_EQ(text.find("hidden"), std::string::npos);
  EXPECT_NE(text.find("with userid c \n"), std::string::npos);

  EXPECT_EQ(terminateMQTTConnection(), 0);
  // After terminate a new initialisation empties the file again.
  ASSERT_EQ(connect("d", 1), 0);
  EXPECT_EQ(logText().find("userid a"), std::string::npos);
  EXPECT_NE(logText().find("userid d"), std::string::npos);
}

TEST_F(MqttLink, WithoutTheLogFolderLoggingIsSkipped) {
  std::filesystem::remove_all(root.file("telvaris"));
  ASSERT_EQ(connect("no-folder", 1), 0);
  ASSERT_EQ(subscribeToMQTTConnection("t"), 0);
  ASSERT_EQ(publishToMQTTConnection("t", "reward"), 0);
  std::vector<char> buffer(net::mqtt::kPollCopyLimit);
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), 6);
  EXPECT_FALSE(fixtures::pathExists(root.file("telvaris")));
}

}  // namespace

namespace {

// The fading program stops its timer while the setup panel is open and makes
// no calls for as long as that lasts; the broker must not drop the link
// meanwhile (it does after one and a half keep-alive intervals of silence).
TEST_F(MqttLink, AnIdleLinkStaysConnected) {
  ASSERT_EQ(connect("C1-idle@example.org"), 0);
  ASSERT_EQ(subscribeToMQTTConnection("idle/feedback"), 0);
  std::this_thread::sleep_for(std::chrono::seconds(net::mqtt::kKeepAliveSeconds * 3 / 2 + 15));
  ASSERT_TRUE(publishFromOutside(broker, "idle/feedback", R"({"feedback":"inhibit"})"));
  std::vector<char> buffer(net::mqtt::kPollCopyLimit);
  EXPECT_EQ(pollMQTTConnectionForResponse(buffer.data()), 22);
  EXPECT_EQ(broker.log().find("Client C1-idle@example.org has exceeded timeout"), std::string::npos);
}

}  // namespace
