// The DSU link's settings as a host sets them: what is refused and left
// unchanged, what each call logs, and the COM port listing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsu/link_settings.h"
#include "dsu_link_support.h"
#include "fixtures/pty_pair.h"
#include "telvaris.h"

namespace {

using dsutest::countMatching;

class DsuSettings : public dsutest::DsuLinkTest {};

TEST_F(DsuSettings, RefusedValuesChangeNothingAndEveryChangeIsLogged) {
  const dsu::LinkSettings& s = dsu::linkSettings();
  EXPECT_EQ(SetComPorts(0, 2, 9, 3), TLV_DSU_OK);
  EXPECT_EQ(s.hintPort, 3);
  EXPECT_EQ(SetComPorts(0, 0, 9, 5), TLV_DSU_BAD_ARGUMENT);  // first port 0
  EXPECT_EQ(SetComPorts(0, 9, 2, 5), TLV_DSU_BAD_ARGUMENT);  // last before first
  EXPECT_EQ(s.hintPort, 3);
  EXPECT_EQ(s.firstPort, 2);
  EXPECT_EQ(s.lastPort, 9);

  EXPECT_EQ(SetScanWaitTime(0, -1), TLV_DSU_BAD_ARGUMENT);
  EXPECT_EQ(SetScanWaitTime(0, 10001), TLV_DSU_BAD_ARGUMENT);
  EXPECT_EQ(s.scanDelayMs, 200);
  EXPECT_EQ(SetScanWaitTime(0, 10000), TLV_DSU_OK);
  EXPECT_EQ(SetScanWaitTime(0, 0), TLV_DSU_OK);
  EXPECT_EQ(s.scanDelayMs, 0);

  EXPECT_EQ(SetScanPortWaitTime(0), 2000);
  EXPECT_EQ(SetScanPortWaitTime(-5), 2000);
  EXPECT_EQ(SetScanPortWaitTime(150), 150);
  EXPECT_EQ(SetScanPortWaitTime(0), 150);

  EXPECT_EQ(ReadDelay(-1), TLV_DSU_BAD_ARGUMENT);
  EXPECT_EQ(ReadDelay(25), TLV_DSU_OK);
  EXPECT_EQ(s.readDelayMs, 25);

  EXPECT_EQ(GetSerialSendingMode(), 1);
  EXPECT_EQ(SerialSendingMode(0), TLV_DSU_OK);
  EXPECT_EQ(GetSerialSendingMode(), 0);
  EXPECT_EQ(SerialSendingMode(7), TLV_DSU_OK);
  EXPECT_EQ(GetSerialSendingMode(), 7);

  EXPECT_EQ(OverrideCOMPortScan(0, 1), TLV_DSU_OK);
  EXPECT_EQ(SetDSUBaudRate(0, 250000), TLV_DSU_OK);
  EXPECT_EQ(SetDSUPacketLength(0, 11), TLV_DSU_OK);
  EXPECT_EQ(EarlyV3Support(0), TLV_DSU_OK);
  EXPECT_EQ(SetSampleRateTo512Hz(), TLV_DSU_OK);
  EXPECT_EQ(s.scanOverride, 1);
  EXPECT_EQ(s.baudCode, 250000);
  EXPECT_EQ(s.packetLength, 11);
  EXPECT_EQ(s.earlyV3, 1);
  EXPECT_EQ(s.rate512Requested, 1);
  EXPECT_EQ(ActiveComPort(0), 0);

  const std::vector<std::string> expected = {"Altering Scan Delay to 10000 mS",
                                             "Altering Scan Delay to 0 mS",
                                             "Read Delay set to 25",
                                             "Setting Serial 'Burst' mode",
                                             "Setting Serial 'single-step' mode",
                                             "Setting COM Port Scan Override to 1",
                                             "Baud rate set to 250000",
                                             "Setting Packet length to 11",
                                             "Adjusting protocol for 'old' Version 3 DSU's",
                                             "Requesting a sample rate of 512Hz"};
  EXPECT_EQ(dsutest::messagesFrom(log(), expected.front()), expected);
}

TEST_F(DsuSettings, ListActiveComPortsGivesTheNumbersPresentAscendingOnce) {
  fixtures::PtyPair com7, com3, com12;
  com7.linkAsCom(7);
  com3.linkAsCom(3);
  com12.linkAsCom(12);
  std::vector<int32_t> ports(256, -1);
  // Listed twice: the list starts afresh each time.
  EXPECT_EQ(ListActiveCOMPorts(ports.data()), 4);
  EXPECT_EQ(ListActiveCOMPorts(ports.data()), 4);
  EXPECT_EQ(std::vector<int32_t>(ports.begin(), ports.begin() + 4), (std::vector<int32_t> {3, 7, 12, -1}));
  EXPECT_EQ(countMatching(log(), "3 candidate COM ports identified"), 2u);
  EXPECT_EQ(ListActiveCOMPorts(nullptr), TLV_DSU_BAD_ARGUMENT);
}

TEST_F(DsuSettings, NoPortAtAllListsNothing) {
  std::vector<int32_t> ports(256, -1);
  EXPECT_EQ(ListActiveCOMPorts(ports.data()), 0);
  EXPECT_EQ(ports[0], -1);
  EXPECT_EQ(countMatching(log(), "0 candidate COM ports identified"), 1u);
}

}  // namespace
