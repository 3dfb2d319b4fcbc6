// The cloud client against a real UDP receiver on the loopback: the bytes
// of every datagram as the receiver gets them, the capture file beside
// them, bad arguments refused before anything is sent, and a client that
// is set up again or used from several threads.
#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "fixtures/temp_root.h"
#include "fixtures/udp_receiver.h"
#include "telvaris.h"

namespace {

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

uint32_t bigEndianAt(const std::string& data, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(data[at])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(data[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(data[at + 2])) << 8 | static_cast<uint8_t>(data[at + 3]);
}

uint32_t littleEndianAt(const std::string& data, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(data[at + 3])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(data[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(data[at + 1])) << 8 | static_cast<uint8_t>(data[at]);
}

size_t openDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

class CloudClient : public fixtures::RootedTest {
 protected:
  void TearDown() override { EXPECT_EQ(TerminateCloudClient(), 0); }
  int32_t start(int32_t capture = 0, const std::string& path = "") {
    return InitialiseCloudClient("127.0.0.1", receiver.port(), capture, capture ? path.c_str() : nullptr);
  }
  fixtures::UdpReceiver receiver;
};

}  // namespace

TEST_F(CloudClient, ABundleIsTheFixed72ByteLayout) {
  ASSERT_EQ(start(), 0);
  const uint32_t values[5] = {bitsOf(1.5f), bitsOf(-2.25f), 0, 0x7FC00000u, 0xDEADBEEFu};
  const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  ASSERT_EQ(SendOSCPacket("/lumidrop/fb", values), 0);
  const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  const auto got = receiver.next();
  ASSERT_TRUE(got);
  const std::string& d = *got;
  ASSERT_EQ(d.size(), 72u);
  EXPECT_EQ(d.substr(0, 8), "#bundle ") << "a space, not a zero, ends the tag";
  const uint32_t stamp = littleEndianAt(d, 8);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(d.substr(12, 4), std::string(4, '\0'));
  EXPECT_EQ(d.substr(16, 4), std::string("\0\0\0\x34", 4));
  EXPECT_EQ(d.substr(20, 24), "/lumidrop/fb" + std::string(12, '\0'));
  EXPECT_EQ(d.substr(44, 8), std::string(",fffff\0\0", 8));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(bigEndianAt(d, 52 + 4 * i), values[i]) << "value " << i;
}

TEST_F(CloudClient, AddressPatternsUpTo23CharactersFitAndLongerOnesAreRefused) {
  ASSERT_EQ(start(1, root.file("capture.bin")), 0);
  const uint32_t values[5] = {1, 2, 3, 4, 5};
  const std::string longest(23, 'p');
  ASSERT_EQ(SendOSCPacket(longest.c_str(), values), 0);
  const auto got = receiver.next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->substr(20, 24), longest + std::string(1, '\0'));
  EXPECT_EQ(got->substr(44, 6), ",fffff") << "the pattern did not run into the type tags";

  // One more character would leave the pattern without its zero: nothing
  // is sent or captured, rather than a cut or overlong address.
  EXPECT_EQ(SendOSCPacket(std::string(24, 'p').c_str(), values), -4);
  EXPECT_EQ(SendOSCPacket(std::string(300, 'p').c_str(), values), -4);
  EXPECT_EQ(SendOSCPacket(nullptr, values), -4);
  EXPECT_EQ(SendOSCPacket("/x", nullptr), -4);
  EXPECT_FALSE(receiver.next(200));
  EXPECT_EQ(fixtures::readFile(root.file("capture.bin")), *got);
}

TEST_F(CloudClient, TextObjectsOfEachTypeAsReceiversParseThem) {
  ASSERT_EQ(start(), 0);
  const int32_t values[8] = {7, -12, 300, 0, 2147483647, -2147483647 - 1, 42, 99};
  const std::pair<int32_t, std::string> expected[] = {
      {2, "{\n address: \"/fb\",\n args:[\n  7,\n  -12\n ]\n},"},
      {4, "{address:\"/fb\",args:[-12,-2147483648,1023,1023]},"},
      {6, "{\n address: \"/fb\",\n args:[\n  7,\n  -12,\n  300,\n  0,\n  2147483647,\n  -2147483648\n ]\n},"},
      {8,
       "{\n address: \"/fb\",\n args:[\n  7,\n  -12,\n  300,\n  0,\n  2147483647,\n  -2147483648,\n  42,\n  99\n ]\n},"},
  };
  for (const auto& [type, text] : expected) {
    ASSERT_EQ(SendJSONPacket("/fb", values, type), 0) << "type " << type;
    const auto got = receiver.next();
    ASSERT_TRUE(got) << "type " << type;
    EXPECT_EQ(*got, text) << "type " << type << ": no terminating zero, nothing more";
  }
  // A long address goes whole.
  const std::string address(1000, 'a');
  ASSERT_EQ(SendJSONPacket(address.c_str(), values, 4), 0);
  EXPECT_EQ(receiver.next(), "{address:\"" + address + "\",args:[-12,-2147483648,1023,1023]},");
}

TEST_F(CloudClient, TypesWithoutATemplateAndNullArgumentsSendNothing) {
  ASSERT_EQ(start(), 0);
  const int32_t values[8] = {};
  for (int32_t type : {0, 1, 3, 5, 7, 9, -2, 1000}) EXPECT_EQ(SendJSONPacket("/fb", values, type), -4) << type;
  EXPECT_EQ(SendJSONPacket(nullptr, values, 2), -4);
  EXPECT_EQ(SendJSONPacket("/fb", nullptr, 2), -4);
  EXPECT_FALSE(receiver.next(200));
}

TEST_F(CloudClient, TheCaptureFileHoldsExactlyWhatWasSent) {
  // A drive path, mapped as the library's fixed files are; an older
  // capture there is replaced.
  std::filesystem::create_directories(root.file("telvaris"));
  const std::string file = root.file("telvaris/capture.bin");
  fixtures::writeFile(file, "an older capture");
  ASSERT_EQ(start(1, "c:\\telvaris\\capture.bin"), 0);
  EXPECT_EQ(fixtures::readFile(file), "");

  const uint32_t bundleValues[5] = {bitsOf(0.5f), 0, 0, 0, 0};
  const int32_t values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::string sent;
  ASSERT_EQ(SendOSCPacket("/a", bundleValues), 0);
  ASSERT_EQ(SendJSONPacket("/b", values, 6), 0);
  ASSERT_EQ(SendOSCPacket("/c", bundleValues), 0);
  for (int i = 0; i < 3; ++i) sent += receiver.next().value_or("(missing)");
  // Written through as each datagram goes, not only at the end.
  EXPECT_EQ(fixtures::readFile(file), sent);
  EXPECT_EQ(TerminateCloudClient(), 0);
  EXPECT_EQ(fixtures::readFile(file), sent);
}

TEST_F(CloudClient, AFailedSendSaysSoAndIsNotCaptured) {
  // The broadcast address without permission to broadcast: the system
  // refuses every datagram.
  const std::string file = root.file("capture.bin");
  ASSERT_EQ(InitialiseCloudClient("255.255.255.255", receiver.port(), 1, file.c_str()), 0);
  const uint32_t bundleValues[5] = {};
  const int32_t values[8] = {};
  EXPECT_EQ(SendOSCPacket("/a", bundleValues), -3);
  EXPECT_EQ(SendJSONPacket("/b", values, 2), -3);
  EXPECT_EQ(fixtures::readFile(file), "");
}

TEST_F(CloudClient, SendsBeforeSetUpOrAfterTheEndFail) {
  const uint32_t bundleValues[5] = {};
  const int32_t values[8] = {};
  EXPECT_EQ(TerminateCloudClient(), 0) << "nothing set up";
  EXPECT_EQ(SendOSCPacket("/a", bundleValues), -3);
  EXPECT_EQ(SendJSONPacket("/b", values, 2), -3);
  ASSERT_EQ(start(), 0);
  ASSERT_EQ(SendOSCPacket("/a", bundleValues), 0);
  EXPECT_TRUE(receiver.next());
  EXPECT_EQ(TerminateCloudClient(), 0);
  EXPECT_EQ(SendOSCPacket("/a", bundleValues), -3);
  EXPECT_EQ(SendJSONPacket("/b", values, 2), -3);
  EXPECT_EQ(TerminateCloudClient(), 0);
  EXPECT_FALSE(receiver.next(200));
}

TEST_F(CloudClient, AReceiverOrCaptureFileThatCannotBeUsedSetsNothingUp) {
  const uint32_t bundleValues[5] = {};
  const int port = receiver.port();
  for (const char* address : {"300.1.1.1", "localhost", "", "127.0.0.1 ", "1.2.3.4.5"}) {
    EXPECT_EQ(InitialiseCloudClient(address, port, 0, nullptr), -4) << "'" << address << "'";
  }
  EXPECT_EQ(InitialiseCloudClient(nullptr, port, 0, nullptr), -4);
  for (int32_t bad : {0, -1, 65536, 2147483647}) EXPECT_EQ(InitialiseCloudClient("127.0.0.1", bad, 0, nullptr), -4);
  EXPECT_EQ(InitialiseCloudClient("127.0.0.1", port, 1, nullptr), -4) << "capture without a file";
  EXPECT_EQ(SendOSCPacket("/a", bundleValues), -3);

  // A capture file in a folder that does not exist.
  const std::string missing = root.file("no-such-folder/capture.bin");
  EXPECT_EQ(InitialiseCloudClient("127.0.0.1", port, 1, missing.c_str()), -5);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(SendOSCPacket("/a", bundleValues), -3) << "nothing was set up";
  EXPECT_FALSE(receiver.next(200));

  // A failed set-up also ends the client that was there.
  ASSERT_EQ(start(), 0);
  EXPECT_EQ(InitialiseCloudClient("localhost", port, 0, nullptr), -4);
  EXPECT_EQ(SendOSCPacket("/a", bundleValues), -3);
}

TEST_F(CloudClient, SettingUpAgainMovesToTheNewReceiverAndLeavesNothingOpen) {
  fixtures::UdpReceiver second;
  const uint32_t values[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(start(1, root.file("first.bin")), 0);
  ASSERT_EQ(SendOSCPacket("/first", values), 0);
  ASSERT_EQ(InitialiseCloudClient("127.0.0.1", second.port(), 1, root.file("second.bin").c_str()), 0);
  ASSERT_EQ(SendOSCPacket("/second", values), 0);
  const auto atFirst = receiver.next();
  const auto atSecond = second.next();
  ASSERT_TRUE(atFirst && atSecond);
  EXPECT_EQ(atFirst->substr(20, 6), "/first");
  EXPECT_EQ(atSecond->substr(20, 7), "/second");
  EXPECT_FALSE(receiver.next(200)) << "the first receiver got the second datagram too";
  EXPECT_EQ(fixtures::readFile(root.file("first.bin")), *atFirst);
  EXPECT_EQ(fixtures::readFile(root.file("second.bin")), *atSecond);

  // Sockets and capture files of earlier set-ups are closed.
  const size_t open = openDescriptors();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(start(1, root.file("again.bin")), 0);
  EXPECT_EQ(openDescriptors(), open);
}

TEST_F(CloudClient, TwoThreadsSendingShareOneClient) {
  ASSERT_EQ(start(1, root.file("capture.bin")), 0);
  constexpr int kEach = 200;
  const int32_t values[8] = {5, 6, 0, 0, 0, 0, 0, 0};
  const uint32_t bundle[5] = {1, 2, 3, 4, 5};
  const std::string text = "{\n address: \"/json\",\n args:[\n  5,\n  6\n ]\n},";
  std::atomic<int> failures{0};
  std::thread json([&] {
    for (int i = 0; i < kEach; ++i) failures += SendJSONPacket("/json", values, 2) != 0;
  });
  std::thread osc([&] {
    for (int i = 0; i < kEach; ++i) failures += SendOSCPacket("/osc", bundle) != 0;
  });
  json.join();
  osc.join();
  EXPECT_EQ(failures, 0);
  ASSERT_EQ(TerminateCloudClient(), 0);

  // The capture holds every datagram whole, one after the other (the
  // loopback may drop some on the receiver's side; the capture is the
  // record of what was sent).
  const std::string capture = fixtures::readFile(root.file("capture.bin"));
  int bundles = 0, texts = 0;
  for (size_t at = 0; at < capture.size();) {
    if (capture.compare(at, 8, "#bundle ") == 0 && at + 72 <= capture.size()) {
      EXPECT_EQ(capture.substr(at + 20, 24), "/osc" + std::string(20, '\0')) << "at " << at;
      EXPECT_EQ(bigEndianAt(capture, at + 68), 5u) << "at " << at;
      ++bundles;
      at += 72;
    } else if (capture.compare(at, text.size(), text) == 0) {
      ++texts;
      at += text.size();
    } else {
      ADD_FAILURE() << "torn capture at byte " << at;
      break;
    }
  }
  EXPECT_EQ(bundles, kEach);
  EXPECT_EQ(texts, kEach);
  // Whatever reached the receiver came whole.
  while (const auto got = receiver.next(100)) EXPECT_TRUE(got->size() == 72 || *got == text);
}

TEST_F(CloudClient, SendsRacingAnEndOrANewSetUpGoWholeOrFailCleanly) {
  ASSERT_EQ(start(), 0);
  std::atomic<bool> running{true};
  std::atomic<int> odd{0};
  std::thread sender([&] {
    const uint32_t bundle[5] = {1, 2, 3, 4, 5};
    while (running) {
      const int32_t rc = SendOSCPacket("/osc", bundle);
      if (rc != 0 && rc != -3) ++odd;
    }
  });
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(TerminateCloudClient(), 0);
    EXPECT_EQ(start(), 0);
  }
  running = false;
  sender.join();
  EXPECT_EQ(odd, 0);
  while (const auto got = receiver.next(100)) EXPECT_EQ(got->size(), 72u);
}
