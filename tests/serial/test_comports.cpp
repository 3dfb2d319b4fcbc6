// The serial port module over real pseudo-terminal pairs: the module opens
// the far end as a COM port, the test talks on the near end.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/child_process.h"
#include "fixtures/pty_pair.h"
#include "fixtures/temp_root.h"
#include "serial/comports.h"

extern "C" int tl_serial_get_any_baud(int fd, unsigned* rate);

using namespace comports;

namespace {

constexpr int kCom = 5;
constexpr int kPort = kCom - 1;

// Milliseconds taken by f().
template <typename F>
long long timed(F f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

class SerialPort : public fixtures::RootedTest {
 protected:
  void SetUp() override { wire.linkAsCom(kCom); }
  void TearDown() override {
    for (int p = 0; p < kPortCount; ++p) PortClose(p);
    // Module defaults are process-wide: put back what a fresh process has.
    PortOpen(-1, 0, 0);
    PortBaud(-1, 6);
    PortParms(-1, 0, 0, 8);
  }

  // The line settings as the kernel holds them for the far end.
  termios farEndSettings() const {
    int fd = open(wire.devicePath().c_str(), O_RDWR | O_NOCTTY);
    termios tio {};
    tcgetattr(fd, &tio);
    close(fd);
    return tio;
  }
  speed_t farEndSpeed() const {
    const termios tio = farEndSettings();
    return cfgetospeed(&tio);
  }
  unsigned farEndBaud() const {
    int fd = open(wire.devicePath().c_str(), O_RDWR | O_NOCTTY);
    unsigned rate = 0;
    tl_serial_get_any_baud(fd, &rate);
    close(fd);
    return rate;
  }

  fixtures::PtyPair wire;
};

TEST_F(SerialPort, BytesCrossTheWireBothWays) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);

  char buffer[64] = {};
  EXPECT_EQ(PortGets(kPort, buffer, sizeof buffer), 0) << "nothing queued yet";

  const std::string frame("\x02P3\x00\xff\x80\n", 8);
  wire.send(frame);
  ASSERT_TRUE(fixtures::waitFor([] { return PortRxCount(kPort) == 8; }, 2000));
  EXPECT_EQ(PortGets(kPort, buffer, sizeof buffer), 8);
  EXPECT_EQ(std::string(buffer, 8), frame);
  EXPECT_EQ(PortInfo(kPort, 'R'), 8);

  wire.send(std::string("\xA5Z", 2));
  EXPECT_EQ(PortWaitByte(kPort, 1000), 0xA5);
  EXPECT_EQ(PortWaitByte(kPort, 1000), 'Z');
  EXPECT_EQ(PortReadByte(kPort), kBusy) << "queue is empty";

  const std::string command("\x02RING\n");
  EXPECT_EQ(PortSendBytes(kPort, command.data(), 6), 6);
  EXPECT_EQ(wire.receive(6, 2000), command);
  EXPECT_EQ(PortPutByte(kPort, 0x0A), 1);
  EXPECT_EQ(wire.receive(1, 2000), "\n");
}

TEST_F(SerialPort, ReadsReturnAtOnceWithTheImmediateTimeOuts) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  ASSERT_EQ(PortSetTimeOuts(kPort, 0xFFFFFFFF, 0, 0, 0, 50), 1);
  char buffer[16];
  // A blocking read would sit here for good; "at once" only has to beat that.
  EXPECT_LT(timed([&] { EXPECT_EQ(PortGets(kPort, buffer, sizeof buffer), 0); }), 500);
  EXPECT_LT(timed([&] { EXPECT_EQ(PortReadByte(kPort), kBusy); }), 500);
  // One read takes all that is queued, more than a terminal hands out at
  // once (4 KB), as a Windows read takes its whole receive queue.
  const std::string sent(12000, 'x');
  wire.send(sent);
  std::vector<char> all(430080);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(PortGets(kPort, all.data(), static_cast<int32_t>(all.size())), 12000);
}

TEST_F(SerialPort, WaitByteKeepsItsBudgetThenTimesOut) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  // The tick counts whole milliseconds, so the budget may end a fraction early.
  EXPECT_GE(timed([] { EXPECT_EQ(PortWaitByte(kPort, 120), kTimedOut); }), 118);

  std::thread late([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    wire.send("K");
  });
  EXPECT_EQ(PortWaitByte(kPort, 3000), 'K');
  late.join();
}

TEST_F(SerialPort, TotalReadTimeOutEndsAShortRead) {
  ASSERT_EQ(PortOpen(kPort, 4096, 1024), 0);
  ASSERT_EQ(PortSetTimeOuts(kPort, 0, 0, 150, 0, 0), 1);
  wire.send("abc");
  char buffer[10];
  int32_t got = -999;
  const auto spent = timed([&] { got = PortGets(kPort, buffer, sizeof buffer); });
  EXPECT_EQ(got, 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_GE(spent, 140);

  // Wait for the first byte, then take what is queued.
  ASSERT_EQ(PortSetTimeOuts(kPort, 0xFFFFFFFF, 0xFFFFFFFF, 2000, 0, 0), 1);
  std::thread late([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    wire.send("xy");
  });
  got = PortGets(kPort, buffer, sizeof buffer);
  late.join();
  EXPECT_GE(got, 1);
  EXPECT_EQ(buffer[0], 'x');
}

TEST_F(SerialPort, BaudCodesAndLiteralRatesReachTheDevice) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  EXPECT_EQ(farEndSpeed(), static_cast<speed_t>(B19200)) << "the module default";

  EXPECT_NE(PortBaud(kPort, 9), 0);
  EXPECT_EQ(farEndSpeed(), static_cast<speed_t>(B115200));
  EXPECT_EQ(PortInfo(kPort, 'B'), 115200);

  EXPECT_NE(PortBaud(kPort, 0), 0);
  EXPECT_EQ(farEndSpeed(), static_cast<speed_t>(B110));

  EXPECT_NE(PortBaud(kPort, 250000), 0);
  EXPECT_EQ(farEndBaud(), 250000u);

  EXPECT_NE(PortBaud(kPort, 57600), 0);
  EXPECT_EQ(farEndSpeed(), static_cast<speed_t>(B57600));

  EXPECT_EQ(PortBaud(kPort, -5), kBadBaud);
}

// A pseudo-terminal keeps 8 data bits and no parity whatever it is told, so
// only the stop bits show there; the data mask shows in single-byte reads.
TEST_F(SerialPort, FramingReachesTheDeviceAndMasksSingleReads) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  termios tio = farEndSettings();
  EXPECT_FALSE(tio.c_cflag & CSTOPB);
  EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF));
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));
  EXPECT_FALSE(tio.c_oflag & OPOST);

  EXPECT_EQ(PortParms(kPort, 2, 2, 7), 0);
  EXPECT_TRUE(farEndSettings().c_cflag & CSTOPB);
  EXPECT_EQ(PortInfo(kPort, 'P'), 2);
  wire.send("\xff");
  EXPECT_EQ(PortWaitByte(kPort, 1000), 0x7F) << "7 data bits keep the low seven";

  EXPECT_EQ(PortParms(kPort, 1, 0, 5), 0);
  EXPECT_FALSE(farEndSettings().c_cflag & CSTOPB);
  wire.send("\xff");
  EXPECT_EQ(PortWaitByte(kPort, 1000), 0x1F) << "5 data bits keep the low five";

  char buffer[4];
  wire.send("\xff");
  ASSERT_TRUE(fixtures::waitFor([] { return PortRxCount(kPort) == 1; }, 2000));
  EXPECT_EQ(PortGets(kPort, buffer, sizeof buffer), 1);
  EXPECT_EQ(static_cast<uint8_t>(buffer[0]), 0xFF) << "block reads are not masked";
}

TEST_F(SerialPort, ParameterErrorsComeInOrderBeforeThePort) {
  EXPECT_EQ(PortParms(kPort, 5, 9, 9), kBadParity);
  EXPECT_EQ(PortParms(kPort, -1, 0, 8), kBadParity);
  EXPECT_EQ(PortParms(kPort, 0, 3, 9), kBadStopBits);
  EXPECT_EQ(PortParms(kPort, 0, 0, 4), kBadWordLength);
  EXPECT_EQ(PortParms(kPort, 0, 0, 9), kBadWordLength);
  EXPECT_EQ(PortParms(300, 0, 0, 8), kInvalidPort);
  EXPECT_EQ(PortParms(kPort, 0, 0, 8), kCannotOpen);

  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  char buffer[4];
  EXPECT_EQ(PortSendBytes(kPort, buffer, 0), kBadLength);
  EXPECT_EQ(PortSendBytes(kPort, buffer, -3), kBadLength);
  EXPECT_EQ(PortSendBytes(kPort, nullptr, 4), kBadBuffer);
  EXPECT_EQ(PortGets(kPort, nullptr, 4), kBadBuffer);
  EXPECT_EQ(PortGets(kPort, buffer, -1), kBadLength);

  // Commands and switches are the upper-case letters they are defined with;
  // any other value, lower case included, is refused and changes nothing.
  const int32_t others[] = {'s', 'c', 'r', 'n', 'h', 'a', 'd', 'b', 'o', 'p', 'w', 'm', 'X', 0, 'S' + 0x100};
  for (int32_t other : others) {
    EXPECT_EQ(PortDTR(kPort, other), kNoSuchCommand) << other;
    EXPECT_EQ(PortRTS(kPort, other), kNoSuchCommand) << other;
    EXPECT_EQ(PortFlow(kPort, other), kNoSuchCommand) << other;
    EXPECT_EQ(PortBreak(kPort, other), kNoSuchCommand) << other;
    EXPECT_EQ(PortInfo(kPort, other), kNoSuchCommand) << other;
    EXPECT_EQ(PortOption(other, 0), kNoSuchCommand) << other;
  }
  EXPECT_EQ(PortDTR(kPort, 'R'), 0);
  EXPECT_EQ(PortRTS(kPort, 'R'), 0);
  EXPECT_FALSE(farEndSettings().c_cflag & CRTSCTS);
}

TEST_F(SerialPort, EveryOperationChecksTheIndexThenThatThePortIsOpen) {
  char buffer[8] = {};
  for (int32_t bad : {-2, 256, 1000}) {
    EXPECT_EQ(PortOpen(bad, 100, 100), kInvalidPort) << bad;
    EXPECT_EQ(PortClose(bad), kInvalidPort);
    EXPECT_EQ(PortBaud(bad, 6), kInvalidPort);
    EXPECT_EQ(PortDTR(bad, 'X'), kInvalidPort) << "index first, then the command";
    EXPECT_EQ(PortGets(bad, nullptr, 0), kInvalidPort);
    EXPECT_EQ(PortSendBytes(bad, nullptr, 0), kInvalidPort);
  }
  // A closed port: -3 from every operation, whatever else is wrong.
  EXPECT_EQ(PortClose(kPort), kCannotOpen);
  EXPECT_EQ(PortBaud(kPort, 9), kCannotOpen);
  EXPECT_EQ(PortDTR(kPort, 'X'), kCannotOpen);
  EXPECT_EQ(PortRTS(kPort, 'S'), kCannotOpen);
  EXPECT_EQ(PortSetTimeOuts(kPort, 0, 0, 0, 0, 0), kCannotOpen);
  EXPECT_EQ(PortGets(kPort, buffer, sizeof buffer), kCannotOpen);
  EXPECT_EQ(PortReadByte(kPort), kCannotOpen);
  EXPECT_EQ(PortWaitByte(kPort, 10), kCannotOpen);
  EXPECT_EQ(PortSendBytes(kPort, nullptr, 0), kCannotOpen);
  EXPECT_EQ(PortFlushRx(kPort), kCannotOpen);
  EXPECT_EQ(PortFlushTx(kPort), kCannotOpen);
  EXPECT_EQ(PortRxCount(kPort), kCannotOpen);
  EXPECT_EQ(PortCTS(kPort), kCannotOpen);
  EXPECT_EQ(PortWatch(kPort, nullptr, nullptr, 0, 1), kCannotOpen);
}

TEST_F(SerialPort, AMissingDeviceIsASystemErrorWithThePortWording) {
  // COM 201 has no device on any machine; COM 6 leads to a link whose target is gone.
  EXPECT_EQ(PortOpen(200, 430080, 1024), kSystemError);
  char text[128];
  const int32_t error = PortSystemErrorText(text, sizeof text);
  EXPECT_NE(error, 0);
  EXPECT_STREQ(text, "The system cannot find the port specified.\r\n");
  EXPECT_EQ(PortErrorText(kSystemError, text, sizeof text), 44);
  EXPECT_STREQ(text, "The system cannot find the port specified.\r\n");

  fixtures::writeFile(root.file("gone"), "");
  symlink(root.file("gone").c_str(), root.file("dosdevices/com6").c_str());
  unlink(root.file("gone").c_str());
  EXPECT_EQ(PortOpen(5, 430080, 1024), kSystemError);
  PortSystemErrorText(text, sizeof text);
  EXPECT_STREQ(text, "The system cannot find the port specified.\r\n");

  // Without a buffer the text goes nowhere, the number still comes back.
  EXPECT_EQ(PortSystemErrorText(nullptr, 0), error);
}

TEST_F(SerialPort, APortIsOpenedOnceAtATime) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  EXPECT_EQ(PortOpen(kPort, 430080, 1024), kAlreadyOpen);
  // Another index leading to the same device is refused by the device lock.
  wire.linkAsCom(kCom + 1);
  EXPECT_EQ(PortOpen(kPort + 1, 430080, 1024), kSystemError);
  EXPECT_NE(PortClose(kPort), 0);
  EXPECT_EQ(PortOpen(kPort + 1, 430080, 1024), 0);
  EXPECT_NE(PortClose(kPort + 1), 0);
  EXPECT_EQ(PortOpen(kPort, 430080, 1024), 0);
}

TEST_F(SerialPort, PseudoTerminalsHaveNoModemLinesButSetUpGoesOn) {
  // The set-up sequence a DSU scan runs stops only on a negative result.
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  EXPECT_EQ(PortSetTimeOuts(kPort, 0xFFFFFFFF, 0, 0, 0, 50), 1);
  EXPECT_EQ(PortParms(kPort, 0, 0, 8), 0);
  EXPECT_GT(PortBaud(kPort, 9), 0);
  const int32_t dtr = PortDTR(kPort, 'S');
  const int32_t rts = PortRTS(kPort, 'S');
  EXPECT_GE(dtr, 0);
  EXPECT_GE(rts, 0);
  EXPECT_EQ(PortDTR(kPort, 'R'), 1) << "the recorded state";
  EXPECT_EQ(PortRTS(kPort, 'R'), 2);
  EXPECT_GE(PortDTR(kPort, 'C'), 0);
  EXPECT_EQ(PortDTR(kPort, 'R'), 0);
  EXPECT_EQ(PortRTS(kPort, 'R'), 2);
  EXPECT_EQ(PortCTS(kPort), kSystemError) << "no modem status on a pty";
}

TEST_F(SerialPort, DefaultsSetWithPortMinusOneApplyToLaterOpens) {
  EXPECT_EQ(PortOpen(-1, 1, 1), 0);
  EXPECT_EQ(PortBaud(-1, 5), 0);
  EXPECT_EQ(PortParms(-1, 2, 2, 7), 0);
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  EXPECT_EQ(PortDTR(kPort, 'R'), 1);
  EXPECT_EQ(PortRTS(kPort, 'R'), 2);
  const termios tio = farEndSettings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  wire.send("\xff");
  EXPECT_EQ(PortWaitByte(kPort, 1000), 0x7F);
}

TEST_F(SerialPort, FlowControlAndQueues) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  EXPECT_EQ(PortFlow(kPort, 'H'), 1);
  EXPECT_TRUE(farEndSettings().c_cflag & CRTSCTS);
  EXPECT_EQ(PortFlow(kPort, 'S'), 1);
  termios tio = farEndSettings();
  EXPECT_FALSE(tio.c_cflag & CRTSCTS);
  EXPECT_TRUE(tio.c_iflag & IXON);
  EXPECT_EQ(tio.c_cc[VSTART], 0x11);
  EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
  EXPECT_EQ(PortFlow(kPort, 'N'), 1);
  EXPECT_FALSE(farEndSettings().c_iflag & IXON);

  wire.send("0123456789");
  EXPECT_EQ(PortWaitRx(kPort, 10, 2000), 10);
  EXPECT_EQ(PortWaitRx(kPort, 11, 50), kTimedOut);
  EXPECT_EQ(PortFlushRx(kPort), 0);
  EXPECT_EQ(PortRxCount(kPort), 0);
  char buffer[16];
  EXPECT_EQ(PortGets(kPort, buffer, sizeof buffer), 0);
  EXPECT_EQ(PortFlushTx(kPort), 0);
  EXPECT_EQ(PortLineError(kPort, 0xFF), 0);
}

TEST_F(SerialPort, ReadUntilTerminatorCountOrTime) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  wire.send("OK\rREST");
  char buffer[32] = {};
  EXPECT_EQ(PortGetsUntil(kPort, buffer, sizeof buffer, '\r', 1000), 3);
  EXPECT_EQ(std::string(buffer, 3), "OK\r");
  EXPECT_EQ(PortGetsUntil(kPort, buffer, 2, '\r', 1000), 2);
  EXPECT_EQ(std::string(buffer, 2), "RE");
  EXPECT_EQ(PortGetsUntil(kPort, buffer, sizeof buffer, -1, 100), 2) << "the rest, then the time ran out";
  EXPECT_EQ(PortGetsUntil(kPort, buffer, sizeof buffer, -1, 50), kTimedOut);
}

TEST_F(SerialPort, WaitForAQuietLineEmptiesTheQueue) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  wire.send("noise");
  EXPECT_EQ(PortWaitQuiet(kPort, 50, 2000), 0);
  EXPECT_EQ(PortRxCount(kPort), 0);

  std::atomic<bool> chatter {true};
  std::thread talker([&] {
    while (chatter) {
      wire.send("x");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  EXPECT_EQ(PortWaitQuiet(kPort, 200, 150), kTimedOut);
  chatter = false;
  talker.join();
}

TEST_F(SerialPort, WatcherReportsAReceivedByteOnce) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  struct Seen {
    std::atomic<int> calls {0};
    std::atomic<int32_t> port {-1};
    std::atomic<uint32_t> message {0};
  } seen;
  auto notify = [](void* window, uint32_t message, int32_t port) {
    auto* s = static_cast<Seen*>(window);
    s->port = port;
    s->message = message;
    ++s->calls;
  };
  EXPECT_EQ(PortWatch(kPort, notify, &seen, 0x8001, 1), 0);
  EXPECT_EQ(PortWatch(kPort, notify, &seen, 0x8001, 1), 1) << "one watcher at a time";
  wire.send("!");
  ASSERT_TRUE(fixtures::waitFor([&] { return seen.calls == 1; }, 2000));
  EXPECT_EQ(seen.port, kPort);
  EXPECT_EQ(seen.message, 0x8001u);

  // A mask of 0 wakes a watcher that is still waiting; nothing is reported.
  PortFlushRx(kPort);
  EXPECT_EQ(PortWatch(kPort, notify, &seen, 0x8002, 256), 0);
  EXPECT_EQ(PortWatch(kPort, notify, &seen, 0, 0), 1);
  EXPECT_EQ(seen.calls, 1);

  // A notify may close its own port: the watcher cannot wait for itself.
  std::atomic<int32_t> closed {-1};
  auto closeOwnPort = [](void* result, uint32_t, int32_t port) {
    *static_cast<std::atomic<int32_t>*>(result) = PortClose(port);
  };
  EXPECT_EQ(PortWatch(kPort, closeOwnPort, &closed, 0x8003, 1), 0);
  wire.send("!");
  EXPECT_TRUE(fixtures::waitFor([&] { return closed == 1; }, 2000));
  EXPECT_EQ(PortInfo(kPort, 'O'), 0);
}

// A host loads the serial layer (in a shared object of its own), starts a
// watcher, unloads the layer and ends: it must end normally, neither through
// std::terminate on a thread left joinable nor through a watcher that wakes
// in unloaded code when a byte comes.
TEST_F(SerialPort, UnloadingWithAWatcherRunningLeavesTheHostWhole) {
  fixtures::ChildProcess host;
  const std::string log = root.file("host.log");
  host.start({SERIAL_UNLOAD_HOST, SERIAL_UNLOAD_PROBE, std::to_string(kPort)}, {}, log);
  fixtures::waitFor([&] { return fixtures::readFile(log).find("unloaded") != std::string::npos || !host.running(); },
                    20000);
  wire.send("!");
  fixtures::writeFile(root.file("sent"), "");
  int status = -1;
  ASSERT_TRUE(host.waitExit(20000, &status)) << fixtures::readFile(log);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "status " << status << ", host said: " << fixtures::readFile(log);
}

TEST_F(SerialPort, ACutWireIsADeviceError) {
  ASSERT_EQ(PortOpen(kPort, 430080, 1024), 0);
  ASSERT_EQ(PortSetTimeOuts(kPort, 0, 0, 500, 0, 0), 1);
  char buffer[8];
  wire.send("abc");
  EXPECT_EQ(PortGets(kPort, buffer, 3), 3);
  wire.hangUp();
  EXPECT_EQ(PortGets(kPort, buffer, sizeof buffer), kEventIo);
  // With the time-outs that return at once (the DSU's) a cut line reads as
  // an error too, not as a line with nothing queued, for whole reads and
  // single bytes alike.
  ASSERT_EQ(PortSetTimeOuts(kPort, 0xFFFFFFFF, 0, 0, 0, 50), 1);
  EXPECT_EQ(PortGets(kPort, buffer, sizeof buffer), kEventIo);
  EXPECT_EQ(PortReadByte(kPort), kEventIo);
}

TEST(SerialErrorText, TableTextsCutToTheBuffer) {
  char text[64];
  EXPECT_EQ(PortErrorText(kInvalidPort, text, sizeof text), 16);
  EXPECT_STREQ(text, "Invalid COM port");
  EXPECT_EQ(PortErrorText(kCannotOpen, text, sizeof text), 20);
  EXPECT_STREQ(text, "Cannot open COM port");
  PortErrorText(kBusy, text, sizeof text);
  EXPECT_STREQ(text, "Port is busy (try again later)");
  PortErrorText(kOutOfRange, text, sizeof text);
  EXPECT_STREQ(text, "Parameter out of range ");
  PortErrorText(kTimedOut, text, sizeof text);
  EXPECT_STREQ(text, "Operation timed out");
  PortErrorText(kBadWordLength, text, sizeof text);
  EXPECT_STREQ(text, "Bad word length parameter");
  PortErrorText(kEventIo, text, sizeof text);
  EXPECT_STREQ(text, "Event I/O error (virtual port not ready?)");

  char small[8];
  EXPECT_EQ(PortErrorText(kCannotOpen, small, sizeof small), 7);
  EXPECT_STREQ(small, "Cannot ");

  std::strcpy(text, "stale");
  EXPECT_EQ(PortErrorText(-104, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(PortErrorText(kInvalidPort, nullptr, 10), kBadBuffer);
  EXPECT_EQ(PortErrorText(kInvalidPort, text, 0), 0);
}

}  // namespace
