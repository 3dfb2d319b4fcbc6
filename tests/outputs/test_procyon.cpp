// The Procyon AVE device's session over a pseudo-terminal linked as a COM
// port: the packets the device receives, byte for byte; rate codes worked
// out by hand; the log and its levels; replies read only when logged; and
// what happens when the port or a rate cannot be used.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/pty_pair.h"
#include "fixtures/temp_root.h"
#include "outputs/procyon.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kCom = 7;
constexpr int kPort = kCom - 1;  // the serial layer counts from 0 for COM1

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The stop, start-up 2 and start-up 3 packets as the device documents them.
const Bytes kStop = {0xA3, 0x33, 0x06, 0x14, 0x00, 0xF0};
const Bytes kStartUp2 = {0xA3, 0x33, 0x07, 0x1C, 0x01, 0x00, 0xFA};
const Bytes kStartUp3 = {0xA3, 0x33, 0x06, 0x1A, 0x00, 0xF6};

// The initial segment for a light code and a sound code, laid out from the
// device's table, with the checksum added up here.
Bytes segmentFor(uint8_t lightHigh, uint8_t lightLow, uint8_t soundHigh, uint8_t soundLow) {
  Bytes s = {0xA3, 0x31, 0x3F, 0x20, 0x64, 0x7F, 0x01, 0x81, 0x81, 0x55, 0x7F, 0x77, 0x77};
  for (int i = 0; i < 6; ++i) s.insert(s.end(), {lightHigh, lightLow});
  for (int i = 0; i < 2; ++i) s.insert(s.end(), {soundHigh, soundLow});
  s.insert(s.end(), {0xFF, 0xFF});
  for (int i = 0; i < 2; ++i) s.insert(s.end(), {soundHigh, soundLow});
  s.insert(s.end(), {0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF});
  s.insert(s.end(), 6, 0x7F);
  s.insert(s.end(), 6, 0x80);
  s.insert(s.end(), 6, 0x00);
  unsigned sum = 0;
  for (uint8_t b : s) sum += b;
  s.push_back(static_cast<uint8_t>(sum >> 8));
  s.push_back(static_cast<uint8_t>(sum));
  return s;
}

// A function-change packet with its checksum added up here.
Bytes functionFor(uint8_t function, uint8_t high, uint8_t low) {
  const unsigned sum = 0xA3 + 0x30 + 0x08 + function + high + low;
  return {0xA3, 0x30, 0x08, function, high, low, static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)};
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class Procyon : public fixtures::RootedTest {
 protected:
  void SetUp() override {
    wire.linkAsCom(kCom);
    // The log and the segment copy go to the current folder.
    previous = std::filesystem::current_path();
    std::filesystem::current_path(root.path());
    SetProcyonComPort(kPort);
    SetProcyonDebugLevel(0);
  }
  void TearDown() override {
    stopDevice();
    terminateAVESession();
    std::filesystem::current_path(previous);
  }
  std::string log() const { return fixtures::readFile(root.file("procyon.log")); }

  // Answers every packet the way the device does: A3 34 06, then A1 (or
  // another byte for the packets counted in `refuse`), and a checksum.
  void startDevice(int refuseFrom = -1) {
    device = std::thread([this, refuseFrom] {
      int packets = 0;
      while (deviceRunning) {
        const std::string head = wire.receive(3, 100);
        if (head.size() < 3) continue;
        const size_t length = static_cast<uint8_t>(head[2]);
        const std::string rest = wire.receive(length - 3, 2000);
        received += head + rest;
        const uint8_t status = refuseFrom >= 0 && packets >= refuseFrom ? 0xE1 : 0xA1;
        const unsigned sum = 0xA3 + 0x34 + 0x06 + status;
        wire.send(Bytes{0xA3, 0x34, 0x06, status, static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)});
        ++packets;
      }
    });
  }
  void stopDevice() {
    deviceRunning = false;
    if (device.joinable()) device.join();
  }

  fixtures::PtyPair wire;
  std::filesystem::path previous;
  std::thread device;
  std::atomic<bool> deviceRunning{true};
  std::string received;  // what the device got, for threads that answer
};

}  // namespace

TEST(ProcyonCodes, RateCodesAsWorkedOutByHand) {
  using outputs::procyon::rateCode;
  // 10 Hz light: a = 327.68, p = 3, m = 2621, code 14909.
  EXPECT_EQ(rateCode(10, outputs::procyon::kLightModifier), 14909);
  // 200 Hz sound: a = 819.2, p = 2, m = 3277, code 11469 (0x2CCD).
  EXPECT_EQ(rateCode(200, outputs::procyon::kSoundModifier), 0x2CCD);
  // 1 Hz light: a = 32.768, p = 6, m = 2097, code 26673.
  EXPECT_EQ(rateCode(1, outputs::procyon::kLightModifier), 6 * 4096 + 2097);
  // 125 Hz light: a = 4096 exactly, p = 0, m = 4096.
  EXPECT_EQ(rateCode(125, outputs::procyon::kLightModifier), 4096);
  // No code in two bytes: nothing, not a wrapped or undefined value.
  EXPECT_FALSE(rateCode(0, outputs::procyon::kLightModifier));
  EXPECT_FALSE(rateCode(-10, outputs::procyon::kSoundModifier));
  EXPECT_FALSE(rateCode(250, outputs::procyon::kLightModifier));   // a = 8192: p = -1
  EXPECT_FALSE(rateCode(2000, outputs::procyon::kSoundModifier));  // a = 8192
  EXPECT_TRUE(rateCode(249, outputs::procyon::kLightModifier));
  EXPECT_TRUE(rateCode(1999, outputs::procyon::kSoundModifier));
  EXPECT_FALSE(rateCode(0.125, 1.0)) << "p = 15, m = 4096 would need a 17th bit";
  EXPECT_TRUE(rateCode(0.2, 1.0));
}

TEST_F(Procyon, ASessionAtLevel0SendsThePacketsInOrderAndReadsNothing) {
  // Bytes already waiting on the line stay unread: at level 0 nothing is.
  wire.send(std::string("waiting"));
  ASSERT_EQ(initialiseAVESession(10, 200), 0);
  const Bytes expected = concat({kStop, kStartUp2, kStartUp3, segmentFor(0x3A, 0x3D, 0x2C, 0xCD)});
  EXPECT_EQ(bytesOf(wire.receive(expected.size(), 3000)), expected);
  char left[16] = {};
  EXPECT_EQ(comports::PortGets(kPort, left, sizeof left), 7);
  EXPECT_EQ(std::string(left), "waiting");

  // Function changes: a plain value is its low byte; the checksum of the
  // first six bytes follows, high byte first (463 = 0x01CF).
  ASSERT_EQ(relayToProcyon(1, 200, 300), 0);
  EXPECT_EQ(bytesOf(wire.receive(8, 3000)), (Bytes{0xA3, 0x30, 0x08, 0xC8, 0x00, 0x2C, 0x01, 0xCF}));
  // A rate function carries the rate code: 10 Hz light.
  ASSERT_EQ(relayToProcyon(0, 1, 10), 0);
  EXPECT_EQ(bytesOf(wire.receive(8, 3000)), functionFor(1, 0x3A, 0x3D));
  // Functions 96-99 too, with the sound modifier for any type but 0; only
  // the function's low 8 bits count (0x161 is 97).
  ASSERT_EQ(relayToProcyon(5, 0x161, 200), 0);
  EXPECT_EQ(bytesOf(wire.receive(8, 3000)), functionFor(97, 0x2C, 0xCD));

  ASSERT_EQ(stopProcyonSession(), 0);
  EXPECT_EQ(bytesOf(wire.receive(6, 3000)), kStop);
  ASSERT_EQ(terminateAVESession(), 0);
  EXPECT_EQ(bytesOf(wire.receive(6, 3000)), kStop);
  EXPECT_FALSE(fixtures::pathExists(root.file("procyon.log"))) << "no log at level 0";
  EXPECT_FALSE(fixtures::pathExists(root.file("procyon.dat")));
}

TEST_F(Procyon, RatesWithoutACodeAreRefusedAndNothingIsSent) {
  SetProcyonDebugLevel(1);
  for (auto [light, sound] : {std::pair{0, 10}, {10, 0}, {-1, 10}, {250, 10}, {10, 2000}}) {
    EXPECT_EQ(initialiseAVESession(light, sound), -1) << light << " " << sound;
  }
  EXPECT_EQ(wire.receiveAll(200), "");
  EXPECT_FALSE(fixtures::pathExists(root.file("procyon.log")));

  ASSERT_EQ(initialiseAVESession(249, 1999), 0);
  EXPECT_EQ(wire.receive(82, 3000).size(), 82u);
  EXPECT_EQ(relayToProcyon(0, 3, 0), -1);
  EXPECT_EQ(relayToProcyon(1, 98, 5000), -1);
  EXPECT_EQ(wire.receiveAll(200), "");
  // A value for another function is only its low byte: 0 goes as it is.
  EXPECT_EQ(relayToProcyon(0, 50, 0), 0);
  EXPECT_EQ(wire.receive(8, 3000).size(), 8u);
}

TEST_F(Procyon, TheLogAtLevel1TellsTheSession) {
  SetProcyonDebugLevel(1);
  ASSERT_EQ(initialiseAVESession(10, 200), 0);
  ASSERT_EQ(relayToProcyon(0, 0x1FF, -3), 0);
  ASSERT_EQ(terminateAVESession(), 0);
  const std::string text = log();
  const std::regex expected(
      "Telvaris to Procyon Communications Log\n"
      "\\d{4}/\\d\\d/\\d\\d-\\d\\d:\\d\\d:\\d\\d\n"
      "\nSetting Up Communications...\n\n"
      "Communications established\n"
      "\nValues passed into DLL:\nLightrate=10\nsoundRate=200\n"
      "Constructing Initial Segment: Sound=200.000000, Light=10.000000\n"
      "\nrelayToProcyon: Type=0, Function=255, Value=-3\n"
      "\nEnd of session\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(Procyon, Level2LogsEveryPacketWithTheDevicesReply) {
  // The device refuses from the fourth packet (the initial segment) on.
  startDevice(3);
  SetProcyonDebugLevel(2);
  ASSERT_EQ(initialiseAVESession(10, 200), 0);
  ASSERT_EQ(stopProcyonSession(), 0);
  stopDevice();
  const std::string text = log();
  EXPECT_NE(text.find(">> 163 51 6 20 0 240  RC=6\n<< 163 52 6 161 1 126  RC=6\n"), std::string::npos) << text;
  EXPECT_NE(text.find(">> 163 51 7 28 1 0 250  RC=7\n"), std::string::npos) << text;
  // The rate steps of both codes.
  EXPECT_NE(text.find("\nFrequency=10.000000\nModifier=32.768000\nx1=327.680000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nx4=3\nx5=2621\nx6=14909\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nFrequency=200.000000\nModifier=4.096000\nx1=819.200000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nx4=2\nx5=3277\nx6=11469\n"), std::string::npos) << text;
  // A refusal is noted and nothing more: the session went on.
  EXPECT_NE(text.find("<< 163 52 6 225 1 190 Error condition...  RC=6\n"), std::string::npos) << text;
  EXPECT_EQ(bytesOf(received),
            concat({kStop, kStartUp2, kStartUp3, segmentFor(0x3A, 0x3D, 0x2C, 0xCD), kStop}));
}

TEST_F(Procyon, Level2WithNoAnswerLogsAnEmptyReplyAsAnError) {
  SetProcyonDebugLevel(2);
  ASSERT_EQ(initialiseAVESession(10, 200), 0);
  EXPECT_NE(log().find("<< 0 0 0 0 0 0 Error condition...  RC=0\n"), std::string::npos) << log();
}

TEST_F(Procyon, Level3KeepsTheSegmentAndItsChecksum) {
  startDevice();
  SetProcyonDebugLevel(3);
  fixtures::writeFile(root.file("procyon.dat"), "an older copy that is longer than sixty-three bytes in all, surely");
  testing::internal::CaptureStderr();
  ASSERT_EQ(initialiseAVESession(10, 200), 0);
  const std::string errors = testing::internal::GetCapturedStderr();
  stopDevice();
  const Bytes segment = segmentFor(0x3A, 0x3D, 0x2C, 0xCD);
  EXPECT_EQ(bytesOf(fixtures::readFile(root.file("procyon.dat"))), segment);
  char line[64];
  std::snprintf(line, sizeof line, "CheckSum = %x\n\n", segment[61] * 256 + segment[62]);
  EXPECT_EQ(errors, line);
}

TEST_F(Procyon, APortThatCannotBeSetUpGivesOneAndTheCodeInTheLog) {
  SetProcyonDebugLevel(1);
  SetProcyonComPort(kPort + 1);  // nothing behind it
  EXPECT_EQ(initialiseAVESession(10, 200), 1);
  EXPECT_NE(log().find("Communication Error. Return Code is -103\n"), std::string::npos) << log();
  EXPECT_EQ(log().find("Communications established"), std::string::npos);
  // Later calls on the dead session harm nothing.
  EXPECT_EQ(relayToProcyon(0, 1, 10), 0);
  EXPECT_EQ(stopProcyonSession(), 0);
  EXPECT_EQ(terminateAVESession(), 0);
  EXPECT_EQ(wire.receiveAll(200), "");

  SetProcyonComPort(-5);
  EXPECT_EQ(initialiseAVESession(10, 200), 1);
  EXPECT_NE(log().find("Communication Error. Return Code is -1\n"), std::string::npos) << log();
}

TEST_F(Procyon, ASecondSessionReplacesTheFirstAndAFinishedOneCanStartAgain) {
  SetProcyonDebugLevel(1);
  ASSERT_EQ(initialiseAVESession(10, 200), 0);
  ASSERT_EQ(wire.receive(82, 3000).size(), 82u);
  // Without an end in between: the port is taken again, not refused as
  // already open, and the log starts afresh.
  ASSERT_EQ(initialiseAVESession(20, 300), 0);
  EXPECT_EQ(wire.receive(82, 3000).size(), 82u);
  const std::string text = log();
  EXPECT_EQ(text.rfind("Telvaris to Procyon Communications Log\n", 0), 0u);
  EXPECT_EQ(text.find("Lightrate=10"), std::string::npos) << text;
  EXPECT_NE(text.find("Lightrate=20"), std::string::npos) << text;
  ASSERT_EQ(terminateAVESession(), 0);
  EXPECT_EQ(bytesOf(wire.receive(6, 3000)), kStop);
  ASSERT_EQ(initialiseAVESession(10, 200), 0);
  EXPECT_EQ(wire.receive(82, 3000).size(), 82u);
}
