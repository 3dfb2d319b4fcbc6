// The Procyon stand-in as the library's device: a session through the
// library's exports reaches it as packets it names and answers as the
// device does; a damaged packet gets the error answer; it ends cleanly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "fixtures/child_process.h"
#include "fixtures/temp_root.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace {

constexpr int kCom = 9;

class ProcyonSim : public fixtures::RootedTest {
 protected:
  void SetUp() override {
    previous = std::filesystem::current_path();
    std::filesystem::current_path(root.path());
    sim.start({PROCYON_SIM_PATH, "--com", std::to_string(kCom)}, {{"TELVARIS_ROOT", root.path()}},
              root.file("sim.log"));
    ASSERT_TRUE(fixtures::waitFor([&] { return output().find("the device is on COM9") != std::string::npos; }, 5000))
        << output();
  }
  void TearDown() override { std::filesystem::current_path(previous); }
  std::string output() const { return fixtures::readFile(root.file("sim.log")); }
  bool said(const std::string& line) {
    return fixtures::waitFor([&] { return output().find(line + "\n") != std::string::npos; }, 3000);
  }

  std::filesystem::path previous;
  fixtures::ChildProcess sim;
};

}  // namespace

TEST_F(ProcyonSim, ASessionThroughTheLibraryIsNamedAndAnsweredPacketByPacket) {
  SetProcyonComPort(kCom - 1);
  SetProcyonDebugLevel(2);
  ASSERT_EQ(initialiseAVESession(125, 500), 0);
  ASSERT_EQ(relayToProcyon(0, 1, 12), 0);
  ASSERT_EQ(relayToProcyon(1, 97, 200), 0);
  ASSERT_EQ(relayToProcyon(1, 200, 300), 0);
  ASSERT_EQ(terminateAVESession(), 0);

  // The codes at the top of the range read back as the rates: light 125 Hz
  // goes as 0x0FFF, 4095 / 32.768 = 124.97 Hz; sound 500 Hz as 0x0800,
  // 2048 / 4.096. 12 Hz of light is 3146 / 2^3 (0x3C4A); 200 Hz of sound
  // is 3277 / 2^2 / 4.096 = 200.01 Hz (0x2CCD).
  EXPECT_TRUE(said("stop\nstart-up 2\nstart-up 3\ninitial segment: light 124.97 Hz, sound 500.00 Hz")) << output();
  EXPECT_TRUE(said("function 1 value 0x3C4A (rate code: 12.00 Hz as light, 96.01 Hz as sound)")) << output();
  EXPECT_TRUE(said("function 97 value 0x2CCD (rate code: 25.00 Hz as light, 200.01 Hz as sound)")) << output();
  EXPECT_TRUE(said("function 200 value 0x002C\nstop")) << output();
  // Every answer was the device's "all well".
  const std::string log = fixtures::readFile(root.file("procyon.log"));
  EXPECT_EQ(log.find("Error condition"), std::string::npos) << log;
  EXPECT_NE(log.find("<< 163 52 6 161 1 126  RC=6\n"), std::string::npos) << log;
}

TEST_F(ProcyonSim, DamagedOrStrayBytesGetTheErrorAnswer) {
  const int port = kCom - 1;
  ASSERT_EQ(comports::PortOpen(port, 4096, 1024), 0);
  // A function change whose sum is one off, after two stray bytes.
  const uint8_t bad[] = {0x55, 0x66, 0xA3, 0x30, 0x08, 0x05, 0x00, 0x01, 0x00, 0xE2};
  ASSERT_EQ(comports::PortSendBytes(port, bad, sizeof bad), static_cast<int32_t>(sizeof bad));
  EXPECT_TRUE(said("skipped 2 stray byte(s)")) << output();
  EXPECT_TRUE(said("function 5 value 0x0001 (rate code: 0.03 Hz as light, 0.24 Hz as sound) (bad checksum)"))
      << output();
  uint8_t reply[6] = {};
  int32_t got = 0;
  ASSERT_TRUE(fixtures::waitFor(
      [&] {
        got += comports::PortGets(port, reply + got, 6 - got);
        return got == 6;
      },
      3000));
  EXPECT_EQ(reply[3], 0xE1);
  comports::PortClose(port);
}

TEST_F(ProcyonSim, EndsOnATerminationRequestAndTakesItsLinkAway) {
  const std::string link = root.file("dosdevices/com9");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  const int status = sim.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_NE(output().find("procyon-sim: stopped"), std::string::npos);
}
