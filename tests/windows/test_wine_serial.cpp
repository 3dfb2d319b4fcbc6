// The serial layer over the Windows communications functions, on a COM port
// that wine serves over a Linux pseudo-terminal whose far end echoes every
// byte (peers.py echo).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "serial/comports.h"
#include "wine_env.h"

using namespace comports;

namespace {

int echoCom() { return std::atoi(winetest::peer("TLV_TEST_ECHO_COM").c_str()); }

std::string systemText() {
  char text[256];
  PortSystemErrorText(text, sizeof text);
  return text;
}

}  // namespace

TEST(WineSerial, BytesGoOutAndComeBackUnderTheTimeOuts) {
  const int com = echoCom();
  ASSERT_GT(com, 0);
  const int port = com - 1;
  // Opened with share mode 0; wine does not refuse a second opener of a
  // COM port (Windows does), so that is not checked here.
  ASSERT_EQ(PortOpen(port, 4096, 1024), 0) << systemText();

  char buffer[64];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PortGets(port, buffer, sizeof buffer), 0);  // nothing queued: at once
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  EXPECT_NE(PortBaud(port, 9), 0);
  EXPECT_EQ(PortInfo(port, 'B'), 115200);
  EXPECT_EQ(PortParms(port, 0, 0, 8), 0);
  // A pseudo-terminal has no modem lines: the device refuses, the state is kept.
  EXPECT_EQ(PortDTR(port, 'S'), 0);
  EXPECT_EQ(PortDTR(port, 'R'), 1);
  EXPECT_EQ(PortRTS(port, 'X'), kNoSuchCommand);

  const char sent[] = "hello\0\xff";
  EXPECT_EQ(PortSendBytes(port, sent, 7), 7);
  EXPECT_EQ(PortWaitByte(port, 5000), 'h');
  ASSERT_EQ(PortSetTimeOuts(port, 0, 0, 2000, 0, 0), 1);
  size_t got = 0;
  while (got < 6) {
    const int n = PortGets(port, buffer + got, static_cast<int32_t>(6 - got));
    ASSERT_GT(n, 0) << "the echo stopped after " << got << " bytes";
    got += static_cast<size_t>(n);
  }
  EXPECT_EQ(std::memcmp(buffer, sent + 1, 6), 0);

  // A read constant is a real wait when nothing comes.
  ASSERT_EQ(PortSetTimeOuts(port, 0, 0, 300, 0, 0), 1);
  const auto waitStart = std::chrono::steady_clock::now();
  EXPECT_EQ(PortGets(port, buffer, sizeof buffer), 0);
  const auto waited = std::chrono::steady_clock::now() - waitStart;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(10));

  EXPECT_NE(PortClose(port), 0);
  EXPECT_EQ(PortGets(port, buffer, sizeof buffer), kCannotOpen);
}

TEST(WineSerial, AMissingPortGivesTheSystemsTextAndBadIndicesTheirCodes) {
  EXPECT_EQ(PortOpen(255, 4096, 1024), kSystemError);  // COM256: wine has none
  char text[128];
  EXPECT_EQ(PortSystemErrorText(text, sizeof text), ERROR_FILE_NOT_FOUND);
  EXPECT_STREQ(text, "The system cannot find the port specified.\r\n");
  EXPECT_EQ(PortOpen(256, 4096, 1024), kInvalidPort);
  EXPECT_EQ(PortClose(3), kCannotOpen);
}
