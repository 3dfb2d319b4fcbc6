// Running out of memory inside an export is a result, not the end of the
// host: each export that allocates returns its documented code, and the
// library goes on working once memory is back. Every allocation through
// operator new fails while the failing allocator is armed; results are
// checked after it is disarmed, so the checks themselves can allocate.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "fixtures/failing_allocator.h"
#include "fixtures/temp_root.h"
#include "net/mqtt_link.h"
#include "net/mqtt_test_support.h"
#include "telvaris.h"

namespace {

namespace allocation = fixtures::allocation;

// Waits without allocating.
bool waitWithoutAllocating(bool (*condition)(), int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 10) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

class OutOfMemoryLink : public mqtttest::LinkTest {
 protected:
  void TearDown() override {
    allocation::disarm();
    LinkTest::TearDown();
  }
};

TEST_F(OutOfMemoryLink, AMessageArrivingWithoutMemoryIsKeptAndAFailedConnectReturnsItsCode) {
  // No log: the arriving message is then the only thing that allocates.
  ASSERT_EQ(connect("oom-link", 0), TLV_MQTT_OK);
  ASSERT_EQ(subscribeToMQTTConnection("oom/echo"), TLV_MQTT_OK);
  ASSERT_TRUE(broker.waitForSubscription("oom-link"));
  const char payload[] = "P3\0bytes";

  // The message goes out and comes back on the client library's thread,
  // which has no memory to queue it.
  allocation::failAll();
  const int32_t published = publishToMQTTConnectionWithLength("oom/echo", payload, sizeof payload);
  const bool refusedOnArrival = waitWithoutAllocating([] { return allocation::failures() > 0; }, 10000);
  allocation::disarm();
  EXPECT_EQ(published, TLV_MQTT_OK);
  ASSERT_TRUE(refusedOnArrival) << "the arriving message never needed memory";

  // The client library offers a refused message again when the next packet
  // comes in, so the queue runs one message behind until a quiet moment (a
  // keep-alive answer): once memory is back, every message comes, in order,
  // whole and once.
  char received[64] = {};
  ASSERT_EQ(publishToMQTTConnection("oom/echo", "second"), TLV_MQTT_OK);
  ASSERT_EQ(net::mqtt::pollBytes(received, sizeof received, 5000), static_cast<int32_t>(sizeof payload));
  EXPECT_EQ(std::memcmp(received, payload, sizeof payload), 0);
  ASSERT_EQ(publishToMQTTConnection("oom/echo", "third"), TLV_MQTT_OK);
  ASSERT_EQ(net::mqtt::pollBytes(received, sizeof received, 5000), 6);
  EXPECT_EQ(std::string(received, 6), "second");

  allocation::failAll();
  const int32_t reconnected = connect("oom-link-2", 1);  // no memory for the log's path
  allocation::disarm();
  EXPECT_EQ(reconnected, TLV_MQTT_FAILURE);
}

class OutOfMemory : public fixtures::RootedTest {
 protected:
  void TearDown() override {
    allocation::disarm();
    TerminateCloudClient();
    SetDebugMode(0, 0, nullptr);
  }
};

int32_t g_callbackCalls = 0;
void TLV_CALL countCall(uint16_t*) { ++g_callbackCalls; }

TEST_F(OutOfMemory, DatagramsDebugLogAndSharedBlockAnswerWithTheirCodes) {
  std::filesystem::create_directories(root.file("telvaris/export"));
  const std::string logFile = root.file("debug.log");
  const int32_t values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const uint32_t bundleValues[5] = {};
  const char* longPattern = "/feedback/channel/1";  // beyond a short string's inline room

  allocation::failAll();
  const int32_t debugMode = SetDebugMode(0, 1, "c:\\debug.log");
  const int32_t cloud = InitialiseCloudClient("127.0.0.1", 9, 1, "c:\\capture.bin");
  const int32_t written = tlAPIWriteValues(10);
  const int32_t registered = tlAPISetupCallback(0, countCall);
  allocation::disarm();
  EXPECT_EQ(debugMode, TLV_LOG_CANNOT_OPEN);
  EXPECT_EQ(InsertLogMessage("tag", "text"), TLV_LOG_OFF) << "logging must stay off";
  EXPECT_EQ(cloud, TLV_DATAGRAM_NO_SOCKETS);
  EXPECT_FALSE(fixtures::pathExists(root.file("capture.bin")));
  EXPECT_EQ(written, TLV_BLOCK_CANNOT_WRITE);
  EXPECT_EQ(registered, TLV_BLOCK_OK);
  EXPECT_EQ(tlAPIStartRecording(), TLV_BLOCK_OK) << "the callback was registered without memory for its log line";
  EXPECT_EQ(g_callbackCalls, 1);

  // Set up with memory; then sends and log lines run out of it.
  ASSERT_EQ(SetDebugMode(0, 1, "c:\\debug.log"), TLV_LOG_OK);
  ASSERT_EQ(InitialiseCloudClient("127.0.0.1", 9, 0, nullptr), TLV_DATAGRAM_OK);
  allocation::failAll();
  const int32_t json = SendJSONPacket("/feedback", values, 8);
  const int32_t osc = SendOSCPacket(longPattern, bundleValues);
  const int32_t message = InsertLogMessage("lost", "no memory for its time stamp");
  allocation::disarm();
  EXPECT_EQ(json, TLV_DATAGRAM_NOT_SENT);
  EXPECT_EQ(osc, TLV_DATAGRAM_NOT_SENT);
  EXPECT_EQ(message, TLV_LOG_OK);

  // Memory is back: everything works as before.
  EXPECT_EQ(SendJSONPacket("/feedback", values, 8), TLV_DATAGRAM_OK);
  EXPECT_EQ(InsertLogMessage("kept", "with memory"), TLV_LOG_OK);
  const std::string log = fixtures::readFile(logFile);
  EXPECT_EQ(log.find("lost: "), std::string::npos) << log;
  EXPECT_NE(log.find("kept: with memory\n"), std::string::npos) << log;
  EXPECT_EQ(tlAPIWriteValues(10), TLV_BLOCK_OK);
}

}  // namespace
