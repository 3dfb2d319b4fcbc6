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
#include <tuple>
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

// Initial segments as the device receives them, worked out from its table.
// Light 10 Hz (0x3A3D) and sound 200 Hz (0x2CCD): fixed bytes 0-12 add up
// to 1243, six light codes 6 x (0x3A + 0x3D) = 714, four sound codes
// 4 x (0x2C + 0xCD) = 996, and the fixed tail FF FF, FF FF, 00 00, 80 80,
// FF FF, 7F x 6, 80 x 6, 00 x 6 is 3316: 6269 = 0x187D.
const Bytes kSegment10And200 = {
    0xA3, 0x31, 0x3F, 0x20, 0x64, 0x7F, 0x01, 0x81, 0x81, 0x55, 0x7F, 0x77, 0x77, 0x3A, 0x3D, 0x3A,
    0x3D, 0x3A, 0x3D, 0x3A, 0x3D, 0x3A, 0x3D, 0x3A, 0x3D, 0x2C, 0xCD, 0x2C, 0xCD, 0xFF, 0xFF, 0x2C,
    0xCD, 0x2C, 0xCD, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F,
    0x7F, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x7D};
// Light 125 Hz (0x0FFF) and sound 500 Hz (0x0800): 1243 + 6 x 270 + 4 x 8
// + 3316 = 6211 = 0x1843.
const Bytes kSegment125And500 = {
    0xA3, 0x31, 0x3F, 0x20, 0x64, 0x7F, 0x01, 0x81, 0x81, 0x55, 0x7F, 0x77, 0x77, 0x0F, 0xFF, 0x0F,
    0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x08, 0x00, 0x08, 0x00, 0xFF, 0xFF, 0x08,
    0x00, 0x08, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F,
    0x7F, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x43};

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
  using outputs::procyon::kLightModifier;
  using outputs::procyon::kSoundModifier;
  using outputs::procyon::rateCode;
  const double lightSingle = static_cast<float>(kLightModifier);  // 32.7680016
  const double soundSingle = static_cast<float>(kSoundModifier);  // 4.0960002
  // 10 Hz light: a = 327.68, 12 - log2(a) = 3.64, p = 3, a x 8 = 2621.44,
  // m = 2621: 3 x 4096 + 2621 = 14909 (0x3A3D).
  EXPECT_EQ(rateCode(10, kLightModifier), 0x3A3D);
  EXPECT_EQ(rateCode(10, lightSingle), 0x3A3D);
  // 200 Hz sound: a = 819.2, p = 2, a x 4 = 3276.8, m = 3277: 0x2CCD.
  EXPECT_EQ(rateCode(200, kSoundModifier), 0x2CCD);
  // 1 Hz light: a = 32.768, p = 6, a x 64 = 2097.15, m = 2097: 0x6831.
  EXPECT_EQ(rateCode(1, kLightModifier), 0x6831);
  // Exact powers of two: sound 500 Hz is a = 2048, p = 1, m = 4096, which
  // is 2048 x 2^0, code 0x0800; sound 125 Hz is a = 512, p = 3, m = 4096,
  // that is 2048 x 2^-2, code 0x2800. In single precision 500 Hz is
  // a = 2048.0001, p = 0 and m = 2048 straight away.
  EXPECT_EQ(rateCode(500, kSoundModifier), 0x0800);
  EXPECT_EQ(rateCode(125, kSoundModifier), 0x2800);
  EXPECT_EQ(rateCode(500, soundSingle), 0x0800);
  // a = 4096 (light 125 Hz, sound 1000 Hz; 4096.0002 in single precision):
  // p = 0, m = 4096, one past the mantissa; the nearest code is 0x0FFF.
  EXPECT_EQ(rateCode(125, kLightModifier), 0x0FFF);
  EXPECT_EQ(rateCode(1000, kSoundModifier), 0x0FFF);
  EXPECT_EQ(rateCode(125, lightSingle), 0x0FFF);
  EXPECT_EQ(rateCode(1000, soundSingle), 0x0FFF);
  // a above 4096.5: p = 0 with m above 4096 (light 126 Hz: a = 4128.8,
  // 12 - log2(a) = -0.01 truncates to 0), or p below 0 from a = 8192 on.
  for (int light : {126, 200, 249, 250}) {
    EXPECT_FALSE(rateCode(light, kLightModifier)) << light;
    EXPECT_FALSE(rateCode(light, lightSingle)) << light;
  }
  for (int sound : {1001, 1999, 2000}) {
    EXPECT_FALSE(rateCode(sound, kSoundModifier)) << sound;
    EXPECT_FALSE(rateCode(sound, soundSingle)) << sound;
  }
  EXPECT_FALSE(rateCode(0, kLightModifier));
  EXPECT_FALSE(rateCode(-10, kSoundModifier));
  // The small end: a = 1/8 is p = 15, m = 4096, that is 2048 x 2^-14
  // (0xE800); a = 1/16 is 2048 x 2^-15 (0xF800), the smallest code; a =
  // 0.06 needs p = 16, a fifth exponent bit.
  EXPECT_EQ(rateCode(0.125, 1.0), 0xE800);
  EXPECT_EQ(rateCode(0.0625, 1.0), 0xF800);
  EXPECT_FALSE(rateCode(0.06, 1.0));
}

TEST_F(Procyon, ASessionAtLevel0SendsThePacketsInOrderAndReadsNothing) {
  // Bytes already waiting on the line stay unread: at level 0 nothing is.
  wire.send(std::string("waiting"));
  ASSERT_EQ(initialiseAVESession(10, 200), 0);
  const Bytes expected = concat({kStop, kStartUp2, kStartUp3, kSegment10And200});
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

TEST_F(Procyon, RatesAtTheTopGetTheNearestCodeAndRatesWithoutOneAreRefused) {
  SetProcyonDebugLevel(1);
  for (auto [light, sound] :
       {std::pair{0, 10}, {10, 0}, {-1, 10}, {126, 10}, {200, 10}, {250, 10}, {10, 1001}, {10, 1999}, {10, 2000}}) {
    EXPECT_EQ(initialiseAVESession(light, sound), -1) << light << " " << sound;
  }
  EXPECT_EQ(wire.receiveAll(200), "");
  EXPECT_FALSE(fixtures::pathExists(root.file("procyon.log")));

  ASSERT_EQ(initialiseAVESession(125, 500), 0);
  EXPECT_EQ(bytesOf(wire.receive(82, 3000)), concat({kStop, kStartUp2, kStartUp3, kSegment125And500}));
  // Single-precision modifiers: light 125 Hz and sound 1000 Hz are 0x0FFF,
  // sound 500 Hz is 0x0800.
  ASSERT_EQ(relayToProcyon(0, 3, 125), 0);
  EXPECT_EQ(bytesOf(wire.receive(8, 3000)), functionFor(3, 0x0F, 0xFF));
  ASSERT_EQ(relayToProcyon(1, 98, 1000), 0);
  EXPECT_EQ(bytesOf(wire.receive(8, 3000)), functionFor(98, 0x0F, 0xFF));
  ASSERT_EQ(relayToProcyon(1, 2, 500), 0);
  EXPECT_EQ(bytesOf(wire.receive(8, 3000)), functionFor(2, 0x08, 0x00));
  for (auto [type, function, value] :
       {std::tuple{0, 3, 0}, {0, 3, 126}, {0, 96, 200}, {1, 98, 1001}, {2, 9, 5000}}) {
    EXPECT_EQ(relayToProcyon(type, function, value), -1) << type << " " << function << " " << value;
  }
  EXPECT_EQ(wire.receiveAll(200), "");
  // A value for another function is only its low byte: 0 goes as it is.
  EXPECT_EQ(relayToProcyon(0, 50, 0), 0);
  EXPECT_EQ(bytesOf(wire.receive(8, 3000)), functionFor(50, 0x00, 0x00));
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
  ASSERT_EQ(initialiseAVESession(125, 500), 0);
  ASSERT_EQ(relayToProcyon(0, 1, 10), 0);
  ASSERT_EQ(stopProcyonSession(), 0);
  stopDevice();
  const std::string text = log();
  EXPECT_NE(text.find(">> 163 51 6 20 0 240  RC=6\n<< 163 52 6 161 1 126  RC=6\n"), std::string::npos) << text;
  EXPECT_NE(text.find(">> 163 51 7 28 1 0 250  RC=7\n"), std::string::npos) << text;
  // The rate steps of every code, with the exponent and mantissa sent.
  EXPECT_NE(text.find("\nFrequency=125.000000\nModifier=32.768000\nx1=4096.000000\nx2=12.000000\nx3=0.000000\n"
                      "x4=0\nx5=4095\nx6=4095\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nFrequency=500.000000\nModifier=4.096000\nx1=2048.000000\nx2=11.000000\nx3=1.000000\n"
                      "x4=0\nx5=2048\nx6=2048\n"),
            std::string::npos)
      << text;
  // A function change's code, with the light modifier in single precision.
  EXPECT_NE(text.find("\nrelayToProcyon: Type=0, Function=1, Value=10\n"
                      "\nFrequency=10.000000\nModifier=32.768002\nx1=327.680016\nx2=8.356144\nx3=3.643856\n"
                      "x4=3\nx5=2621\nx6=14909\n>> 163 48 8 1 58 61 1 83  RC=8\n"),
            std::string::npos)
      << text;
  // A refusal is noted and nothing more: the session went on.
  EXPECT_NE(text.find("<< 163 52 6 225 1 190 Error condition...  RC=6\n"), std::string::npos) << text;
  EXPECT_EQ(bytesOf(received),
            concat({kStop, kStartUp2, kStartUp3, kSegment125And500, functionFor(1, 0x3A, 0x3D), kStop}));
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
  EXPECT_EQ(bytesOf(fixtures::readFile(root.file("procyon.dat"))), kSegment10And200);
  EXPECT_EQ(errors, "CheckSum = 187d\n\n");
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
