// The port scan against DSU simulators and silent lines on pseudo-terminals
// linked as COM ports: the hint first, the candidates in ascending order and
// each once, the answer that is one byte too short, COM1, the override, and
// a scan cut short when the session is told to end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "dsu/link_settings.h"
#include "dsu/port_scan.h"
#include "dsu/serial_wire.h"
#include "dsu/stop_token.h"
#include "dsu_link_support.h"
#include "fixtures/dsu_simulator.h"
#include "fixtures/pty_pair.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace {

using dsutest::countMatching;
using fixtures::DsuSimulator;

const std::string kStop = "\x02NO C\n";
const std::string kStart = "\x02RING\n";
// Every port test sets the port up the same way; the device's answers to
// the line steps (a pseudo-terminal has no modem lines) are not negative.
const std::vector<std::string> kSetUp = {"PortSetTimeOuts Code=1", "PortParms Code=0", "PortBaud Code=1",
                                         "PortDTR Code=\\d+", "PortRTS Code=\\d+"};

class PortScan : public dsutest::DsuLinkTest {
 protected:
  void SetUp() override {
    DsuLinkTest::SetUp();
    // Waits a loaded machine keeps easily, short enough for a test.
    SetScanPortWaitTime(20);
    SetScanWaitTime(0, 1000);
  }
  // True when nothing of ours holds the port: the serial layer opens it.
  static bool closed(int port) {
    if (dsu::wire::isOpen(port) || comports::PortOpen(port, 4096, 1024) != 0) return false;
    comports::PortClose(port);
    return true;
  }
};

TEST_F(PortScan, TheHintIsTestedFirstAndNothingIsEnumerated) {
  DsuSimulator sim(dsutest::kSimulator, 4);
  fixtures::PtyPair other;
  other.linkAsCom(2);
  ASSERT_EQ(SetComPorts(0, 1, 50, 3), TLV_DSU_OK);
  EXPECT_EQ(dsu::scanPorts(dsu::sessionStop()), 3);
  EXPECT_EQ(ActiveComPort(0), 3);
  EXPECT_TRUE(dsu::wire::held(3));
  // Set up, settled, stopped and started, then stopped again once found.
  EXPECT_TRUE(sim.waitForReceived(18));
  EXPECT_EQ(sim.received(), kStop + kStart + kStop);
  const auto log = this->log();
  std::vector<std::string> expected = {"Testing hint COM4", "Testing COM4"};
  expected.insert(expected.end(), kSetUp.begin(), kSetUp.end());
  expected.insert(expected.end(),
                  {"Sending 'NO CARRIER'", "Sending 'RING'", "Sending 'NO CARRIER'", "Telvaris identified on COM4"});
  const auto scan = dsutest::messagesFrom(log, "Testing hint COM4");
  ASSERT_EQ(scan.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(countMatching({scan[i]}, expected[i]) == 1) << scan[i];
  EXPECT_EQ(countMatching(log, ".*candidate COM ports identified"), 0u);
  dsu::wire::close(3);
}

TEST_F(PortScan, CandidatesInAscendingOrderAndAnAnswerOfExactlyOnePacketIsNotADsu) {
  fixtures::PtyPair silent;
  silent.linkAsCom(2);
  // Exactly packetLength (14) bytes: one more is needed.
  DsuSimulator shortAnswer(dsutest::kSimulator, 3, {"--answer-bytes", "14"});
  DsuSimulator dsu(dsutest::kSimulator, 6);
  ASSERT_EQ(SetComPorts(0, 1, 50, 0), TLV_DSU_OK);
  EXPECT_EQ(dsu::scanPorts(dsu::sessionStop()), 5);
  EXPECT_EQ(ActiveComPort(0), 5);

  const std::vector<std::string> expected = {"Bypassing hint port",
                                             "3 candidate COM ports identified",
                                             "Testing COM2",
                                             "Time out waiting for serial device",
                                             "Telvaris not found on COM2",
                                             "Testing COM3",
                                             "Serial Device found. 14 bytes returned",
                                             "Telvaris not found on COM3",
                                             "Testing COM6",
                                             "Telvaris identified on COM6"};
  std::vector<std::string> milestones;
  for (const auto& m : log()) {
    if (std::find(expected.begin(), expected.end(), m) != expected.end()) milestones.push_back(m);
  }
  EXPECT_EQ(milestones, expected);
  EXPECT_EQ(shortAnswer.received(), kStop + kStart);
  EXPECT_TRUE(shortAnswer.waitForOutput("RING: streaming"));
  // The ports that were not a DSU are closed again; the DSU's is held.
  EXPECT_TRUE(closed(1));
  EXPECT_TRUE(closed(2));
  EXPECT_TRUE(dsu::wire::held(5));
  dsu::wire::close(5);
}

TEST_F(PortScan, ADsuOnCom1IsFoundAndARepeatedNumberIsTestedOnce) {
  DsuSimulator sim(dsutest::kSimulator, 1);
  ASSERT_EQ(SetComPorts(0, 1, 50, 0), TLV_DSU_OK);  // 0: no hint, as ever
  EXPECT_EQ(dsu::scanPorts(dsu::sessionStop()), 0);
  EXPECT_EQ(ActiveComPort(0), 0);
  EXPECT_TRUE(dsu::wire::held(0));
  dsu::wire::close(0);
  EXPECT_EQ(countMatching(log(), "Telvaris identified on COM1"), 1u);

  // A second scan enumerates again: 1, 1 in the list, COM1 tested once.
  SetDebugMode(0, 0, nullptr);
  ASSERT_EQ(SetDebugMode(0, 1, logPath().c_str()), 0);
  EXPECT_EQ(dsu::scanPorts(dsu::sessionStop()), 0);
  const auto log = this->log();
  EXPECT_EQ(countMatching(log, "2 candidate COM ports identified"), 1u);
  EXPECT_EQ(countMatching(log, "Testing COM1"), 1u);
  int32_t list[dsu::kMaxCandidates];
  EXPECT_EQ(dsu::candidates(list), 2);
  EXPECT_EQ(list[0], 1);
  EXPECT_EQ(list[1], 1);
  dsu::wire::close(0);
}

TEST_F(PortScan, TheOverrideTakesTheHintUntestedAndReportsAPortThatFails) {
  DsuSimulator sim(dsutest::kSimulator, 7);
  ASSERT_EQ(SetComPorts(0, 1, 50, 6), TLV_DSU_OK);
  ASSERT_EQ(OverrideCOMPortScan(0, 1), TLV_DSU_OK);
  EXPECT_EQ(dsu::scanPorts(dsu::sessionStop()), 6);
  EXPECT_EQ(ActiveComPort(0), 6);
  EXPECT_TRUE(dsu::wire::held(6));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sim.received(), "") << "no signals on the override path";
  dsu::wire::close(6);

  ASSERT_EQ(SetComPorts(0, 1, 50, 10), TLV_DSU_OK);  // COM11: no such device
  EXPECT_EQ(dsu::scanPorts(dsu::sessionStop()), comports::kSystemError);
  EXPECT_EQ(ActiveComPort(0), 10);
  const auto log = this->log();
  EXPECT_EQ(countMatching(log, "Overriding COM Port Scan\\. Returning COM(7|11)"), 2u);
  EXPECT_EQ(countMatching(log, "Setting up serial communucations for COM(7|11)"), 2u);
  EXPECT_EQ(countMatching(log, "Windows Error \\d+: [\\s\\S]*"), 1u);
}

TEST_F(PortScan, AScanEndsEarlyWhenTheSessionIsToldToEnd) {
  DsuSimulator sim(dsutest::kSimulator, 4);
  ASSERT_EQ(SetComPorts(0, 1, 50, 3), TLV_DSU_OK);
  SetScanPortWaitTime(60000);  // a settling time no session would sit out
  dsu::StopToken& stop = dsu::sessionStop();
  std::thread terminate([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.request();
  });
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(dsu::scanPorts(stop), -1);
  terminate.join();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
  EXPECT_EQ(sim.received(), "") << "given up before the signals";
  EXPECT_TRUE(closed(3));
  EXPECT_EQ(countMatching(log(), ".*candidate COM ports identified"), 0u);
}

}  // namespace
