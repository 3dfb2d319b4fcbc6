// What the library puts on the wire, as the DSU simulator recorded it byte
// for byte: command framing in single-step and burst mode (also when a
// write fails part-way), the start and stop signals on each road,
// programDSU and SetDSUProtocol; and the identification report's log
// against the simulator's answers and against a unit that says nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "dsu/dsu_commands.h"
#include "dsu/link_settings.h"
#include "dsu/serial_wire.h"
#include "dsu/stop_token.h"
#include "dsu_link_support.h"
#include "fixtures/dsu_simulator.h"
#include "fixtures/mosquitto_broker.h"
#include "fixtures/pty_pair.h"
#include "net/mqtt_link.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace {

using dsutest::countMatching;
using fixtures::DsuSimulator;

const std::string STX = "\x02";
const std::string SOH = "\x01";
const std::string LF = "\n";
const std::string kStop = STX + "NO C" + LF;
const std::string kStart = STX + "RING" + LF;

constexpr int kCom = 5;
constexpr int kPort = kCom - 1;

class DsuCommands : public dsutest::DsuLinkTest {
 protected:
  // The session's port, open and held, as a scan leaves it.
  void takeSessionPort(int port) {
    ASSERT_EQ(dsu::openAndSetUp(port), 0);
    dsu::wire::hold(port);
    dsu::linkSettings().activeComPort = port;
  }
  void leadNowhere(int com) {
    std::filesystem::create_directories(root.file("dosdevices"));
    std::filesystem::remove(root.file("dosdevices/com" + std::to_string(com)));
    std::filesystem::create_symlink(root.file("nothing"), root.file("dosdevices/com" + std::to_string(com)));
  }
  static bool receivedExactly(const DsuSimulator& sim, const std::string& bytes) {
    return fixtures::waitFor([&] { return sim.received().size() >= bytes.size(); }, 5000) && sim.received() == bytes;
  }
};

TEST_F(DsuCommands, SingleStepAndBurstFramingByteForByte) {
  DsuSimulator sim(dsutest::kSimulator, kCom);
  takeSessionPort(kPort);

  // Single-step (the default): 0x02, the text, 0x0A, one byte a write with
  // 5 ms after each; a six-character command takes at least 40 ms.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(SendCommandToDSU("W97102", 6), TLV_DSU_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(40));
  EXPECT_EQ(SendCommandToDSU("R971", 4), TLV_DSU_OK);
  std::string expected = STX + "W97102" + LF + STX + "R971" + LF;
  EXPECT_TRUE(receivedExactly(sim, expected)) << sim.received();

  // Burst: 0x01, the text in one write, 0x0A. The length cuts the text; a
  // length beyond it stops at its end.
  EXPECT_EQ(SerialSendingMode(0), TLV_DSU_OK);
  EXPECT_EQ(GetSerialSendingMode(), 0);
  EXPECT_EQ(SendCommandToDSU("W9A004xyz", 6), TLV_DSU_OK);
  EXPECT_EQ(SendCommandToDSU("IDENT", 50), TLV_DSU_OK);
  expected += SOH + "W9A004" + LF + SOH + "IDENT" + LF;
  EXPECT_TRUE(receivedExactly(sim, expected)) << sim.received();

  // Refused before anything is sent.
  EXPECT_EQ(SendCommandToDSU(nullptr, 4), TLV_DSU_BAD_ARGUMENT);
  EXPECT_EQ(SendCommandToDSU("R971", -1), TLV_DSU_BAD_ARGUMENT);
  EXPECT_TRUE(sim.waitForOutput("IDENT: answered"));
  EXPECT_TRUE(sim.waitForOutput("W9A004: 512 samples a second"));
  EXPECT_EQ(sim.received(), expected);

  const auto log = this->log();
  EXPECT_EQ(countMatching(log, "Telvaris command '(W97102|R971|W9A004|IDENT)' issued"), 4u);
  EXPECT_EQ(countMatching(log, "Setting Serial 'Burst' mode"), 1u);
}

TEST_F(DsuCommands, AWriteThatFailsPartWaySkipsTheRestButEndsTheFrame) {
  // The unit hangs up after three bytes: 0x02 'W' '9' arrive, then every
  // write fails.
  DsuSimulator sim(dsutest::kSimulator, kCom, {"--hangup-after-bytes", "3"});
  takeSessionPort(kPort);
  EXPECT_EQ(SendCommandToDSU("W9A004", 6), TLV_DSU_PORT_FAILED);
  ASSERT_TRUE(sim.waitForOutput("line hung up"));
  EXPECT_EQ(sim.received(), STX + "W9");
  // Single-step: the first failing byte and the closing 0x0A are reported,
  // the command bytes between them are skipped.
  EXPECT_EQ(countMatching(log(), "Errorcheck code=-\\d+|Windows Error [\\s\\S]*"), 2u);

  // Burst: all three writes are attempted, and each failure reported.
  SerialSendingMode(0);
  EXPECT_EQ(SendCommandToDSU("R971", 4), TLV_DSU_PORT_FAILED);
  EXPECT_EQ(countMatching(log(), "Errorcheck code=-\\d+|Windows Error [\\s\\S]*"), 5u);
  EXPECT_EQ(sim.received(), STX + "W9");
}

TEST_F(DsuCommands, StartAndStopSignalsOnEachRoad) {
  DsuSimulator sim(dsutest::kSimulator, kCom);
  takeSessionPort(kPort);
  dsu::StopToken& pace = dsu::StopToken::never();
  EXPECT_EQ(dsu::sendStopSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_EQ(dsu::sendStartSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_TRUE(sim.waitForOutput("RING: streaming 14-byte packets at 256 a second"));
  // An early version 3 unit: a line feed in front instead of 0x02.
  EXPECT_EQ(EarlyV3Support(0), TLV_DSU_OK);
  EXPECT_EQ(dsu::sendStopSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_EQ(dsu::sendStartSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_TRUE(receivedExactly(sim, kStop + kStart + LF + "NO C" + LF + LF + "RING" + LF)) << sim.received();
  EXPECT_TRUE(sim.waitForOutput("NO CARRIER: stream stopped after"));
  dsu::linkSettings().earlyV3 = 0;
  EXPECT_EQ(dsu::sendStopSignal(kPort, pace), TLV_DSU_OK);  // the stream ends before the port is taken away
  EXPECT_TRUE(sim.waitForReceived(30));

  // TCP/IP: logged, nothing sent.
  const size_t sent = sim.received().size();
  EXPECT_EQ(sent, 30u);
  SetDataTransferMode(1, "127.0.0.1", 9, "", "", "", "", "", "");
  EXPECT_EQ(dsu::sendStartSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_EQ(SendCommandToDSU("R971", 4), TLV_DSU_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sim.received().size(), sent);

  // MQTT (mode 2) and the relay service (mode 3): the payloads reach the
  // unit through a real broker; commands are not carried.
  fixtures::MosquittoBroker broker;
  DsuSimulator remote(dsutest::kSimulator, broker, "app/publish", "dsu/stream");
  ASSERT_EQ(net::mqtt::initialise(fixtures::MosquittoBroker::kAddress, broker.port(), "dsu-link-test", 0), 0);
  ASSERT_EQ(SetDataTransferMode(2, fixtures::MosquittoBroker::kAddress, broker.port(), "trainee", "app/publish",
                                "dsu/stream", "", "", ""),
            TLV_ROAD_MQTT);
  EXPECT_EQ(dsu::sendStartSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_TRUE(remote.waitForOutput("start: streaming 14-byte packets"));
  EXPECT_EQ(dsu::sendStopSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_EQ(SendCommandToDSU("R971", 4), TLV_DSU_OK);
  ASSERT_EQ(SetDataTransferMode(4, fixtures::MosquittoBroker::kAddress, broker.port(), "trainee", "app/publish",
                                "dsu/stream", "first", "second", "last"),
            TLV_ROAD_RELAY);
  EXPECT_EQ(dsu::sendStartSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_EQ(dsu::sendStopSignal(kPort, pace), TLV_DSU_OK);
  EXPECT_TRUE(remote.waitForReceived(72)) << remote.received();
  EXPECT_EQ(remote.received(), "startstopmonitor/first/second/trainee/laststop/first/second/trainee/last");
  net::mqtt::terminate();

  const auto log = this->log();
  EXPECT_EQ(countMatching(log, "Sending 'NO CARRIER'"), 5u);
  EXPECT_EQ(countMatching(log, "Sending 'RING'"), 5u);
  EXPECT_EQ(countMatching(log, "BT_SENDDATA Doesn't support MQTT\\. 'R971' ignored"), 1u);
  EXPECT_EQ(sim.received().size(), sent) << "nothing went to the serial unit on the other roads";
}

TEST_F(DsuCommands, ProgramDsuGoodAndBadValuesWithAndWithoutPersist) {
  DsuSimulator sim(dsutest::kSimulator, kCom);
  ASSERT_EQ(SetComPorts(0, 1, 50, kPort), TLV_DSU_OK);
  std::string expected;

  // Each call's bytes are let reach the unit before the next: a stop signal
  // empties the transmit queue, and a pseudo-terminal's reaches into the
  // far end's unread bytes.
  const auto call = [&](int32_t result, const std::string& bytes) {
    expected += bytes;
    return result == TLV_DSU_OK && receivedExactly(sim, expected);
  };
  EXPECT_TRUE(call(programDSU(0, 1, 6, 0), kStop + STX + "W97102" + LF)) << sim.received();
  EXPECT_TRUE(call(programDSU(0, 1, 8, 1), kStop + STX + "W97103" + LF + STX + "WA0003" + LF)) << sim.received();
  EXPECT_TRUE(call(programDSU(0, 2, 512, 1), kStop + STX + "W9A004" + LF + STX + "WA0104" + LF)) << sim.received();
  EXPECT_TRUE(call(programDSU(0, 2, 2048, 0), kStop + STX + "W9A001" + LF)) << sim.received();
  // Bad values: nothing beyond the stop signal, and the port is closed, so
  // the next call reaches the unit.
  EXPECT_EQ(programDSU(0, 1, 5, 0), TLV_DSU_BAD_CHANNELS);
  EXPECT_TRUE(call(TLV_DSU_OK, kStop)) << sim.received();
  EXPECT_EQ(programDSU(0, 2, 300, 1), TLV_DSU_BAD_RATE);
  EXPECT_TRUE(call(TLV_DSU_OK, kStop)) << sim.received();
  EXPECT_EQ(programDSU(0, 3, 8, 0), TLV_DSU_UNKNOWN_COMMAND);
  EXPECT_TRUE(call(TLV_DSU_OK, kStop)) << sim.received();
  EXPECT_FALSE(dsu::wire::isOpen(kPort));
  SerialSendingMode(0);
  EXPECT_TRUE(call(programDSU(0, 1, 2, 0), kStop + SOH + "W97100" + LF)) << sim.received();
  EXPECT_TRUE(sim.waitForOutput("W97100: 2 channels, 5-byte packets"));
  EXPECT_TRUE(sim.waitForOutput("WA0104: stored A01 = 04"));

  // A port that cannot be opened: its own code, the serial layer's in the log.
  leadNowhere(9);
  ASSERT_EQ(SetComPorts(0, 1, 50, 8), TLV_DSU_OK);
  EXPECT_EQ(programDSU(0, 1, 6, 0), TLV_DSU_PORT_FAILED);
  EXPECT_EQ(sim.received(), expected);

  const auto log = dsutest::messagesFrom(this->log(), "Accessing Telvaris on port 5");
  EXPECT_EQ(countMatching(log, "Active channels altered to (6|8|2)"), 3u);
  EXPECT_EQ(countMatching(log, "Sample Rate altered to (512|2048)"), 2u);
  EXPECT_EQ(countMatching(log, "Invalid channel value '5' passed to ProgramDSU"), 1u);
  EXPECT_EQ(countMatching(log, "Invalid Sample Rate 300 passed to ProgramDSU"), 1u);
  EXPECT_EQ(countMatching(log, "Unknown Command '3' passed to ProgramDSU"), 1u);
  EXPECT_EQ(countMatching(log, "Closing Telvaris on port 5"), 8u);
  EXPECT_EQ(countMatching(log, "Accessing Telvaris on port 9"), 1u);
  EXPECT_EQ(countMatching(log, "Windows Error \\d+: [\\s\\S]*"), 1u);
}

TEST_F(DsuCommands, SetDsuProtocolForEachProtocolKeepsItsPortButNeverBlocksTheNextOpen) {
  DsuSimulator sim(dsutest::kSimulator, kCom);
  ASSERT_EQ(SetComPorts(0, 1, 50, kPort), TLV_DSU_OK);
  std::string expected;
  const auto call = [&](int32_t result, const std::string& bytes) {
    expected += bytes;  // let each call's bytes reach the unit before the next stop signal
    return result == TLV_DSU_OK && receivedExactly(sim, expected);
  };
  EXPECT_TRUE(call(SetDSUProtocol(0, 2), kStop + STX + "WA0008" + LF + STX + "WA0108" + LF)) << sim.received();
  EXPECT_TRUE(dsu::wire::isOpen(kPort));
  EXPECT_TRUE(call(SetDSUProtocol(0, 3), kStop + STX + "WA0009" + LF + STX + "WA0180" + LF)) << sim.received();
  EXPECT_TRUE(call(SetDSUProtocol(0, 7), kStop + STX + "WA0003" + LF + STX + "WA0108" + LF)) << sim.received();
  EXPECT_TRUE(call(programDSU(0, 1, 4, 0), kStop + STX + "W97101" + LF)) << sim.received();

  leadNowhere(9);
  ASSERT_EQ(SetComPorts(0, 1, 50, 8), TLV_DSU_OK);
  EXPECT_EQ(SetDSUProtocol(0, 2), TLV_DSU_PORT_FAILED);
  // The port a session holds is not taken from it.
  takeSessionPort(kPort);
  ASSERT_EQ(SetComPorts(0, 1, 50, kPort), TLV_DSU_OK);
  EXPECT_EQ(programDSU(0, 1, 4, 0), TLV_DSU_PORT_FAILED);
  EXPECT_TRUE(dsu::wire::held(kPort));
  EXPECT_EQ(sim.received(), expected);
  const auto log = this->log();
  for (const char* line :
       {"Setting protocol to=2 on COM5", "Altering Protocol type: WA0009", "Altering TimeBase: WA0180",
        "Altering Protocol type: WA0003", "Setting protocol to=2 on COM9", "Failed to communicate with DSU. RC=-103"}) {
    EXPECT_EQ(countMatching(log, line), 1u) << line;
  }
}

TEST_F(DsuCommands, IdentificationReportAgainstTheSimulatorAndASilentUnit) {
  uint8_t buffer[4096];
  {
    DsuSimulator sim(dsutest::kSimulator, kCom);
    takeSessionPort(kPort);
    dsu::ReplyReader replies = dsu::serialReplies(kPort, buffer, sizeof buffer);
    dsu::identificationReport(kPort, replies, dsu::sessionStop());
    EXPECT_EQ(sim.received(), kStop + STX + "RA00" + LF + STX + "R971" + LF + STX + "R9A0" + LF + STX + "IDENT" + LF);
    const std::vector<std::string> expected = {"Sending 'NO CARRIER'",
                                               "Telvaris command 'RA00' issued",
                                               "DSU reports protocol is set to Telvaris",
                                               "Telvaris command 'R971' issued",
                                               "DSU reports packet length set to 14 (8 Ports)",
                                               "Telvaris command 'R9A0' issued",
                                               "DSU reports sample rate set to 256",
                                               "Telvaris command 'IDENT' issued",
                                               "DSU Identification:",
                                               "dsu-sim DSU simulator (P3 stream)"};
    EXPECT_EQ(dsutest::messagesFrom(log(), "Sending 'NO CARRIER'"), expected);

    // The unit reprogrammed: each answer read anew.
    SendCommandToDSU("W97102", 6);
    SendCommandToDSU("W9A004", 6);
    SendCommandToDSU("WA0009", 6);
    // (The report's stop signal empties the transmit queue.)
    ASSERT_TRUE(sim.waitForOutput("WA0009: stored A00 = 09"));
    SetDebugMode(0, 0, nullptr);
    ASSERT_EQ(SetDebugMode(0, 1, logPath().c_str()), 0);
    dsu::identificationReport(kPort, replies, dsu::sessionStop());
    const auto again = log();
    EXPECT_EQ(countMatching(again, "DSU reports protocol is set to IBVA"), 1u);
    EXPECT_EQ(countMatching(again, "DSU reports packet length set to 11 \\(6 Ports\\)"), 1u);
    EXPECT_EQ(countMatching(again, "DSU reports sample rate set to 512"), 1u);
    dsu::wire::close(kPort);
  }
  {
    // Values the library has no name for.
    DsuSimulator sim(dsutest::kSimulator, kCom, {"--length", "50", "--rate", "300", "--ident", "unit 7"});
    takeSessionPort(kPort);
    SendCommandToDSU("WA0005", 6);
    ASSERT_TRUE(sim.waitForOutput("WA0005: stored A00 = 05"));
    SetDebugMode(0, 0, nullptr);
    ASSERT_EQ(SetDebugMode(0, 1, logPath().c_str()), 0);
    dsu::ReplyReader replies = dsu::serialReplies(kPort, buffer, sizeof buffer);
    dsu::identificationReport(kPort, replies, dsu::sessionStop());
    const auto log = this->log();
    EXPECT_EQ(countMatching(log, "DSU reports protocol is set to Unknown Protocol"), 1u);
    EXPECT_EQ(countMatching(log, "DSU reports packet length set to Unknown packet length \\(52\\)"), 1u);
    EXPECT_EQ(countMatching(log, "DSU reports sample rate set to Unknown \\(00\\)"), 1u);
    EXPECT_EQ(countMatching(log, "unit 7"), 1u);
    dsu::wire::close(kPort);
  }
  {
    // A unit that says nothing.
    fixtures::PtyPair silent;
    silent.linkAsCom(kCom);
    takeSessionPort(kPort);
    SetDebugMode(0, 0, nullptr);
    ASSERT_EQ(SetDebugMode(0, 1, logPath().c_str()), 0);
    dsu::ReplyReader replies = dsu::serialReplies(kPort, buffer, sizeof buffer);
    dsu::identificationReport(kPort, replies, dsu::sessionStop());
    const std::vector<std::string> expected = {"Sending 'NO CARRIER'",
                                               "Telvaris command 'RA00' issued",
                                               "readProtocol: no data returned",
                                               "Telvaris command 'R971' issued",
                                               "readPacketLength : no data returned",
                                               "Telvaris command 'R9A0' issued",
                                               "Telvaris command 'IDENT' issued",
                                               "DSU Identification:",
                                               ""};
    EXPECT_EQ(dsutest::messagesFrom(log(), "Sending 'NO CARRIER'"), expected);

    // With logging off the report sends nothing at all.
    SetDebugMode(0, 0, nullptr);
    silent.receiveAll(100);
    dsu::identificationReport(kPort, replies, dsu::sessionStop());
    EXPECT_EQ(silent.receiveAll(200), "");
    dsu::wire::close(kPort);
  }
}

TEST_F(DsuCommands, CallerCommandsAndReadThreadReadsShareOnePort) {
  DsuSimulator sim(dsutest::kSimulator, kCom, {"--speed", "4"});
  takeSessionPort(kPort);
  dsu::StopToken& pace = dsu::StopToken::never();
  ASSERT_EQ(dsu::sendStartSignal(kPort, pace), TLV_DSU_OK);

  // The read thread's side: reads all the time, as a session does.
  std::atomic<bool> done {false};
  std::atomic<long> bytesRead {0};
  std::thread reader([&] {
    uint8_t buffer[8192];
    while (!done) {
      const int32_t got = dsu::wire::gets(kPort, buffer, sizeof buffer);
      if (got > 0) bytesRead += got;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  // The caller's side: commands, pause and resume, burst and single-step.
  // (A stop signal empties the transmit queue: a command is let reach the
  // unit before the next stop, as a host that wants it carried out does.)
  std::string expected = kStart;
  for (int i = 0; i < 4; ++i) {
    SerialSendingMode(i % 2);
    EXPECT_EQ(SendCommandToDSU("R9A0", 4), TLV_DSU_OK);
    expected += (i % 2 ? STX : SOH) + "R9A0" + LF;
    EXPECT_TRUE(sim.waitForReceived(expected.size()));
    EXPECT_EQ(dsu::sendStopSignal(kPort, pace), TLV_DSU_OK);
    EXPECT_EQ(dsu::sendStartSignal(kPort, pace), TLV_DSU_OK);
    expected += kStop + kStart;
  }
  EXPECT_TRUE(fixtures::waitFor([&] { return bytesRead > 1400; }, 5000));
  done = true;
  reader.join();
  EXPECT_TRUE(receivedExactly(sim, expected)) << sim.received();
  dsu::sendStopSignal(kPort, pace);
}

}  // namespace
