// The DSU link under wine against the DSU simulator running on the Linux
// side on a pseudo-terminal that wine serves as a COM port registered with
// it: the port listing, the scan, and commands (the runner compares what
// the simulator received with the bytes the link must send); and whole
// sessions, over a COM port and over TCP/IP, against simulators replaying
// packets that say who they are, whose bytes this side writes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "dsu/port_scan.h"
#include "dsu/serial_wire.h"
#include "dsu/stop_token.h"
#include "dsu/p3_samples.h"
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

namespace {

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

template <class Condition>
bool waitUntil(Condition done, int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A session just started: waits until it streams, then takes packets from
// it until there are `count` (or 20 s are up).
std::vector<dsutest::Decoded> takeOnceStreaming(size_t count) {
  EXPECT_TRUE(waitUntil([] { return GetSystemStatus(0) == TLV_DSU_SYSTEM_OK; }, 20000))
      << "status " << GetSystemStatus(0);
  std::vector<dsutest::Decoded> taken;
  waitUntil(
      [&] {
        for (auto& d : dsutest::takePackets()) taken.push_back(d);
        return taken.size() >= count;
      },
      20000);
  return taken;
}

}  // namespace

TEST(WineDsu, ASessionHandsOutWhatTheSimulatorSentAndSavesItByteForByte) {
  // The runner starts the simulator on this replay once it is written; the
  // simulator says in its log when it serves.
  const std::string replayPath = winetest::peer("TLV_TEST_DSU_REPLAY");
  const std::string simLog = winetest::peer("TLV_TEST_DSU_SIM_LOG");
  const int com = std::atoi(winetest::peer("TLV_TEST_DSU_SESSION_COM").c_str());
  ASSERT_GT(com, 1);
  constexpr int kLength = 14;
  constexpr int kPeriod = 1000;
  const std::string replay = dsutest::samplePackets(kLength, kPeriod);
  {
    std::ofstream out(replayPath + ".part", std::ios::binary);
    out.write(replay.data(), static_cast<std::streamsize>(replay.size()));
  }
  ASSERT_TRUE(MoveFileA((replayPath + ".part").c_str(), replayPath.c_str()));
  ASSERT_TRUE(waitUntil([&] { return fileBytes(simLog).find("ready on COM") != std::string::npos; }, 20000))
      << "the simulator did not start";

  SetScanPortWaitTime(20);
  SetScanWaitTime(0, 1000);
  SetRecordingLength(1);
  SetDSUPacketLength(0, kLength);
  ASSERT_EQ(SetComPorts(0, 1, 50, com - 1), TLV_DSU_OK);
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  const std::vector<dsutest::Decoded> taken = takeOnceStreaming(300);
  EXPECT_EQ(ActiveComPort(0), com - 1);

  CreateDirectoryA("c:\\telvaris", nullptr);
  const std::string session = "c:\\telvaris\\wine-session.raw";
  ASSERT_EQ(TerminateDSU(0, 1, session.c_str()), TLV_TERMINATE_OK);
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_CLOSEDOWN_COMPLETE);
  SetRecordingLength(360);
  ASSERT_GE(taken.size(), 300u);

  // The file is a run of the replay from a packet's start, as long as what
  // was read; the packets handed out are the replay's, in order, from the
  // file's first packet on.
  const std::string file = fileBytes(session);
  EXPECT_EQ(file.size(), static_cast<size_t>(TotalBytesRead(0)));
  ASSERT_GE(file.size(), taken.size() * kLength);
  const long offset = dsutest::cyclicOffset(replay, file);
  ASSERT_GE(offset, 0) << "the session file is not what the simulator sent";
  EXPECT_EQ(offset % kLength, 0);
  for (size_t i = 0; i < taken.size(); ++i) {
    const int k = static_cast<int>((offset / kLength + static_cast<long>(i)) % kPeriod);
    ASSERT_EQ(taken[i], dsutest::expectedSample(kLength, k)) << "packet " << i << " handed out";
  }
}

TEST(WineDsu, ASessionOverTcpTakesTheStreamAndARefusedConnectionEndsIt) {
  // The replay is the one the COM session wrote; the runner started a TCP
  // simulator on it too.
  const std::string replay = fileBytes(winetest::peer("TLV_TEST_DSU_REPLAY"));
  const std::string simLog = winetest::peer("TLV_TEST_DSU_TCP_LOG");
  constexpr int kLength = 14;
  constexpr int kPeriod = 1000;
  ASSERT_EQ(replay, dsutest::samplePackets(kLength, kPeriod)) << "run with the COM session first";
  const std::string ready = "ready on tcp 127.0.0.1:";
  std::string text;
  ASSERT_TRUE(waitUntil([&] { return (text = fileBytes(simLog)).find(ready) != std::string::npos; }, 20000))
      << "the TCP simulator did not start";
  const int port = std::atoi(text.c_str() + text.find(ready) + ready.size());
  ASSERT_GT(port, 0);

  SetDSUPacketLength(0, kLength);
  SetRecordingLength(1);
  ASSERT_EQ(SetDataTransferMode(TLV_ROAD_TCPIP, "127.0.0.1", port, "", "", "", "", "", ""), TLV_ROAD_TCPIP);
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  const std::vector<dsutest::Decoded> taken = takeOnceStreaming(300);
  CreateDirectoryA("c:\\telvaris", nullptr);
  const std::string session = "c:\\telvaris\\wine-session-tcp.raw";
  ASSERT_EQ(TerminateDSU(0, 1, session.c_str()), TLV_TERMINATE_OK);
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_CLOSEDOWN_COMPLETE);
  ASSERT_GE(taken.size(), 300u);
  // The stream may start mid-packet (the identification report took a
  // piece of it): the packets handed out still follow each other in the
  // replay's order, and the file is a run of the replay.
  const int first = taken.front().channels[0];
  for (size_t i = 0; i < taken.size(); ++i) {
    const int k = static_cast<int>((first + static_cast<long>(i)) % kPeriod);
    ASSERT_EQ(taken[i], dsutest::expectedSample(kLength, k)) << "packet " << i << " handed out";
  }
  const std::string file = fileBytes(session);
  EXPECT_EQ(file.size(), static_cast<size_t>(TotalBytesRead(0)));
  EXPECT_GE(dsutest::cyclicOffset(replay, file), 0) << "the session file is not what the server sent";

  // Nobody listens on port 1: the session ends with status 4.
  SetDataTransferMode(TLV_ROAD_TCPIP, "127.0.0.1", 1, "", "", "", "", "", "");
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  EXPECT_TRUE(waitUntil([] { return GetSystemStatus(0) == TLV_DSU_SERIAL_PORT_FAILURE; }, 20000))
      << "status " << GetSystemStatus(0);
  TerminateDSU(0, 0, nullptr);
  SetDataTransferMode(TLV_ROAD_SERIAL, "", 0, "", "", "", "", "", "");
  SetRecordingLength(360);
}
