// The DSU simulator: its frame parser and unit answered directly, its
// stream's signals and faults read back by the packet layout, and the
// program as a user runs it (help, a pseudo-terminal COM port that the
// library and telvaris-info see, a replay over TCP, a cut line).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/child_process.h"
#include "fixtures/dsu_simulator.h"
#include "fixtures/temp_root.h"
#include "p3_packet.h"
#include "serial/comports.h"
#include "sim_protocol.h"
#include "sim_stream.h"
#include "telvaris.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> framesOf(dsusim::FrameParser& parser, const std::string& bytes) {
  std::vector<std::string> frames;
  parser.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), frames);
  return frames;
}

// Channels 0 and 1 of a packet, read the way a receiver reads them.
std::pair<int, int> firstPair(const std::string& p) {
  const auto b = [&](size_t i) { return static_cast<uint8_t>(p[i]); };
  int high = b(4);
  if (p.size() == 5) high &= 0x7F;
  return {((high >> 4) & 7) * 128 + b(2), (high & 0x0F) * 128 + b(3)};
}

TEST(DsuSimProtocol, FramesInAnyPiecesAndTheUnitsAnswers) {
  dsusim::FrameParser parser;
  EXPECT_EQ(framesOf(parser, "\x02W97"), std::vector<std::string> {});
  EXPECT_EQ(framesOf(parser, "102\n\x01R971\n"), (std::vector<std::string> {"W97102", "R971"}));
  // An early version 3 signal, noise before a start byte, an over-long frame.
  EXPECT_EQ(framesOf(parser, "\nNO C\n\nRING\n"), (std::vector<std::string> {"NO C", "RING"}));
  EXPECT_EQ(framesOf(parser, "zz\x02IDENT\n" + std::string(70, 'x') + "\n\x02R9A0\n"),
            (std::vector<std::string> {"IDENT", "R9A0"}));

  dsusim::Unit unit(14, 256, "unit 9");
  EXPECT_EQ(unit.handle("R971").reply,
            "\x02"
            "A97103\n");
  EXPECT_EQ(unit.handle("RA00").reply,
            "\x02"
            "AA0008\n");
  EXPECT_EQ(unit.handle("W97102").action, dsusim::Action::kReconfigured);
  EXPECT_EQ(unit.packetLength(), 11);
  EXPECT_EQ(unit.handle("W97107").action, dsusim::Action::kNone);  // refused
  EXPECT_EQ(unit.packetLength(), 11);
  EXPECT_EQ(unit.handle("W9A004").action, dsusim::Action::kReconfigured);
  EXPECT_EQ(unit.sampleRate(), 512);
  EXPECT_EQ(unit.handle("R9A0").reply,
            "\x02"
            "A9A004\n");
  EXPECT_EQ(unit.handle("WA0009").reply, "");  // writes are not answered
  EXPECT_EQ(unit.handle("RA00").reply,
            "\x02"
            "AA0009\n");
  EXPECT_EQ(unit.handle("IDENT").reply, "unit 9");
  EXPECT_EQ(unit.handle("RING").action, dsusim::Action::kStartStream);
  EXPECT_EQ(unit.handle("NO CARRIER").action, dsusim::Action::kStopStream);
  EXPECT_EQ(unit.handle("HELLO").note, "unknown command 'HELLO'");
}

TEST(DsuSimStream, SignalsPaceAndFaults) {
  std::vector<std::optional<p3synth::Signal>> signals(2);
  std::string error;
  signals[0].emplace();
  signals[1].emplace();
  ASSERT_TRUE(p3synth::parseSignal("flat:700", *signals[0], error));
  ASSERT_TRUE(p3synth::parseSignal("burst:32:300:1", *signals[1], error));
  EXPECT_FALSE(p3synth::parseSignal("sine:10", *signals[0], error));
  EXPECT_FALSE(p3synth::parseSignal("wobble:1:2", *signals[0], error));

  // Two seconds at 256 a second, 4 times as fast: due within half a second.
  dsusim::Stream stream(signals, 1, 4.0, {});
  const auto t0 = Clock::now();
  stream.start(t0, 8, 256);
  std::string bytes;
  stream.pump(t0 + std::chrono::milliseconds(500), bytes);
  ASSERT_EQ(bytes.size(), 8u * 513);  // packets 0..512 are due at 0.5 s
  int lowOn = 2047, highOn = 0, lowOff = 2047, highOff = 0;
  for (size_t k = 0; k < 512; ++k) {
    const std::string p = bytes.substr(8 * k, 8);
    EXPECT_EQ(static_cast<uint8_t>(p[7]) & 0x80, 0x80);
    EXPECT_EQ(static_cast<uint8_t>(p[0]) >> 1, static_cast<int>(k % 64));
    const auto [flat, burst] = firstPair(p);
    EXPECT_EQ(flat, 700);
    // The burst's band is on in the first second and off in the next.
    (k < 256 ? lowOn : lowOff) = std::min(k < 256 ? lowOn : lowOff, burst);
    (k < 256 ? highOn : highOff) = std::max(k < 256 ? highOn : highOff, burst);
  }
  EXPECT_GT(highOn - lowOn, 500);
  EXPECT_EQ(highOff, 512);
  EXPECT_EQ(lowOff, 512);

  // Faults: every 3rd packet loses its frame marker, every 4th a byte; a
  // cut after 10 packets.
  dsusim::Faults faults;
  faults.framingErrorEvery = 3;
  faults.dropByteEvery = 4;
  faults.cutAfter = 10;
  dsusim::Stream faulty(signals, 1, 1.0, faults);
  faulty.start(t0, 14, 256);
  bytes.clear();
  faulty.pump(t0 + std::chrono::seconds(5), bytes);
  EXPECT_TRUE(faulty.cutDue());
  EXPECT_FALSE(faulty.running());
  EXPECT_EQ(bytes.size(), 14u * 10 - 2);
  size_t markers = 0;
  for (unsigned char c : bytes) markers += (c & 0x80) ? 1 : 0;
  EXPECT_EQ(markers, 10u - 3);  // packets 3, 6 and 9 have none

  // An answer of exactly so many bytes, then silence.
  faults = {};
  faults.answerBytes = 20;
  dsusim::Stream answer(signals, 1, 1.0, faults);
  answer.start(t0, 14, 256);
  bytes.clear();
  answer.pump(t0 + std::chrono::seconds(5), bytes);
  EXPECT_EQ(bytes.size(), 20u);
  EXPECT_FALSE(answer.running());
}

class DsuSimProgram : public fixtures::RootedTest {};

TEST_F(DsuSimProgram, HelpNamesEveryOptionAndBadArgumentsAreRefused) {
  const std::string out = root.file("help.txt");
  fixtures::ChildProcess help;
  help.start({DSU_SIM_PATH, "--help"}, {}, out);
  int status = 0;
  ASSERT_TRUE(help.waitExit(10000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string text = fixtures::readFile(out);
  for (const char* option : {"--com",
                             "--tcp",
                             "--mqtt",
                             "--listen",
                             "--stream",
                             "--packets",
                             "--length",
                             "--rate",
                             "--channel",
                             "sine:",
                             "noise:",
                             "pulse:",
                             "square:",
                             "burst:",
                             "flat:",
                             "--replay",
                             "--speed",
                             "--record",
                             "--framing-error-every",
                             "--drop-byte-every",
                             "--stall-ms",
                             "--cut-after",
                             "--hangup-after-bytes",
                             "--answer-bytes",
                             "IDENT",
                             "RA00"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }
  fixtures::ChildProcess bad;
  bad.start({DSU_SIM_PATH, "--com", "3", "--channel", "0=wobble:1"}, {}, root.file("bad.txt"));
  ASSERT_TRUE(bad.waitExit(10000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
  EXPECT_NE(fixtures::readFile(root.file("bad.txt")).find("unknown signal kind 'wobble'"), std::string::npos);
}

TEST_F(DsuSimProgram, OnAComPortItIsListedAnswersAndStreamsAMinuteInSeconds) {
  auto sim = std::make_unique<fixtures::DsuSimulator>(DSU_SIM_PATH, 4, std::vector<std::string> {"--speed", "60"});
  // The library and telvaris-info both see COM4.
  int32_t ports[256];
  const int32_t listed = ListActiveCOMPorts(ports);
  ASSERT_GE(listed, 2);
  EXPECT_NE(std::find(ports, ports + listed - 1, 4), ports + listed - 1);
  fixtures::ChildProcess info;
  info.start({TELVARIS_INFO_PATH}, {}, root.file("info.txt"));
  ASSERT_TRUE(info.waitExit(10000));
  EXPECT_NE(fixtures::readFile(root.file("info.txt")).find(" COM4"), std::string::npos);

  const int port = 3;
  ASSERT_EQ(comports::PortOpen(port, 430080, 1024), 0);
  comports::PortBaud(port, 9);
  const std::string query = "\x02R971\n\x02RING\n";
  ASSERT_EQ(comports::PortSendBytes(port, query.data(), static_cast<int32_t>(query.size())), 9 + 0 + 3);
  // A minute at 256 packets a second, sixty times as fast.
  const size_t minute = 14 * 256 * 60;
  std::string got;
  const auto start = Clock::now();
  ASSERT_TRUE(fixtures::waitFor(
      [&] {
        char buffer[65536];
        const int32_t n = comports::PortGets(port, buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<size_t>(n));
        return got.size() >= 8 + minute;
      },
      30000))
      << got.size();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(got.substr(0, 8),
            "\x02"
            "A97103\n");
  size_t misframed = 0;
  for (size_t k = 0; k < minute / 14; ++k) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(got[8 + 14 * k + i]); };
    misframed += (byte(13) & 0x80) == 0 || (byte(0) >> 1) != k % 64;
  }
  EXPECT_EQ(misframed, 0u);
  comports::PortClose(port);
  EXPECT_EQ(sim->received(), query);

  const std::string link = root.file("dosdevices/com4");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  const int status = sim->process().stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sim->output();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_NE(sim->output().find("dsu-sim: stopped"), std::string::npos);
}

TEST_F(DsuSimProgram, ReplaysASessionOverTcpAndCutsALine) {
  // A recorded session: 100 packets of 11 bytes and a partial one.
  std::string session;
  for (int k = 0; k < 100; ++k) {
    const int32_t values[6] = {k, 2 * k, 3 * k, 4 * k, 5 * k, 6 * k};
    uint8_t packet[11];
    p3synth::encodePacket(packet, 11, k, 0, values);
    session.append(reinterpret_cast<char*>(packet), sizeof packet);
  }
  session += "\x01\x02\x03";
  fixtures::writeFile(root.file("session.bin"), session);
  fixtures::DsuSimulator sim(DSU_SIM_PATH, fixtures::DsuSimulator::Tcp {},
                             {"--replay", root.file("session.bin"), "--length", "11", "--speed", "20"});
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(sim.tcpPort()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::string got;
  while (got.size() < session.size() + 11) {
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  ASSERT_GE(got.size(), session.size() + 11);
  EXPECT_EQ(got.substr(0, session.size()), session);
  // Round again: the piece after the end begins with the file's start.
  EXPECT_EQ(got.substr(session.size(), 8), session.substr(0, 8));
  EXPECT_TRUE(sim.waitForOutput("client left"));

  // A line cut after 10 packets: nothing more comes, and a write fails.
  fixtures::DsuSimulator cut(DSU_SIM_PATH, 6, {"--cut-after", "10"});
  const int port = 5;
  ASSERT_EQ(comports::PortOpen(port, 430080, 1024), 0);
  ASSERT_EQ(comports::PortSendBytes(port, "\x02RING\n", 6), 6);
  std::string stream;
  ASSERT_TRUE(fixtures::waitFor(
      [&] {
        char buffer[4096];
        const int32_t n = comports::PortGets(port, buffer, sizeof buffer);
        if (n > 0) stream.append(buffer, static_cast<size_t>(n));
        return cut.output().find("line hung up") != std::string::npos;
      },
      10000));
  EXPECT_EQ(stream.size(), 140u);
  EXPECT_LT(comports::PortSendBytes(port, "\x02R971\n", 6), 0);
  comports::PortClose(port);
  EXPECT_TRUE(cut.waitForOutput("cutting the line after 10 packets"));
}

}  // namespace
