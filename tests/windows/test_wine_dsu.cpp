// The DSU link under wine against the DSU simulator running on the Linux
// side on a pseudo-terminal that wine serves as a COM port registered with
// it: the port listing, the scan, and commands. The runner compares what
// the simulator received with the bytes the link must send.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "dsu/port_scan.h"
#include "dsu/serial_wire.h"
#include "dsu/stop_token.h"
#include "telvaris.h"
#include "wine_env.h"

TEST(WineDsu, TheListingFindsTheUnitsPortTheScanTakesItAndCommandsReachIt) {
  const int com = std::atoi(winetest::peer("TLV_TEST_DSU_COM").c_str());
  ASSERT_GT(com, 1);
  const int port = com - 1;

  int32_t listed[256] = {};
  const int32_t answer = ListActiveCOMPorts(listed);
  ASSERT_GT(answer, 1);  // count + 1
  EXPECT_TRUE(std::find(listed, listed + answer - 1, com) != listed + answer - 1) << "COM" << com << " not listed";
  EXPECT_TRUE(std::is_sorted(listed, listed + answer - 1));

  ASSERT_EQ(SetDebugMode(0, 1, "c:\\telvaris\\dsu-wine.log"), TLV_LOG_OK);
  SetScanPortWaitTime(20);
  SetScanWaitTime(0, 1000);
  ASSERT_EQ(SetComPorts(0, 1, 50, port), TLV_DSU_OK);
  EXPECT_EQ(dsu::scanPorts(dsu::sessionStop()), port);
  EXPECT_EQ(ActiveComPort(0), port);
  dsu::wire::close(port);

  EXPECT_EQ(programDSU(0, 1, 6, 0), TLV_DSU_OK);
  EXPECT_EQ(SetDSUProtocol(0, 2), TLV_DSU_OK);
  dsu::wire::close(port);
  SetDebugMode(0, 0, nullptr);

  std::ifstream log("c:\\telvaris\\dsu-wine.log");
  const std::string text(std::istreambuf_iterator<char>(log), {});
  EXPECT_NE(text.find("Telvaris identified on COM" + std::to_string(com)), std::string::npos) << text;
}
