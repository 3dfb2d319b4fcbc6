// The library's network links and fixed files under wine, against peers on
// the Linux side: mosquitto for the MQTT link, a UDP receiver for the
// datagrams. The runner checks on its side what arrived there and what was
// written to drive C: inside the prefix.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/dynlib.h"
#include "telvaris.h"
#include "wine_env.h"

namespace {

// The first decision within `ms`, or TLV_FEEDBACK_NONE.
int32_t nextDecision(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int32_t d = TLV_FEEDBACK_NONE;
  while (d == TLV_FEEDBACK_NONE && std::chrono::steady_clock::now() < end) d = tlMQTTRetrieveFeedbackInformation();
  return d;
}

std::string readText(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

uint16_t* g_received = nullptr;
void TLV_CALL onCallback(uint16_t* text) { g_received = text; }

}  // namespace

TEST(WineMqtt, DecisionsFromTheLinuxBrokerAndAPublishBack) {
  const int port = std::atoi(winetest::peer("TLV_TEST_BROKER_PORT").c_str());
  ASSERT_GT(port, 0);
  CreateDirectoryA("c:\\telvaris", nullptr);
  ASSERT_EQ(initialiseMQTTConnection("tcp://127.0.0.1", port, "telvaris-under-wine", 1), TLV_MQTT_OK);
  // The runner left "reward" retained on this topic.
  ASSERT_EQ(subscribeToMQTTConnection("telvaris/wine/decision"), TLV_MQTT_OK);
  EXPECT_EQ(nextDecision(10000), TLV_FEEDBACK_REWARD);
  // Out to the broker and back.
  ASSERT_EQ(subscribeToMQTTConnection("telvaris/wine/loop"), TLV_MQTT_OK);
  ASSERT_EQ(publishToMQTTConnection("telvaris/wine/loop", "{\"feedback\":\"inhibit\"}"), TLV_MQTT_OK);
  EXPECT_EQ(nextDecision(10000), TLV_FEEDBACK_INHIBIT);
  // For the runner's subscriber: a zero byte inside, sent as it is.
  ASSERT_EQ(publishToMQTTConnectionWithLength("telvaris/wine/out", "from wine\0!", 11), TLV_MQTT_OK);
  EXPECT_EQ(terminateMQTTConnection(), TLV_MQTT_OK);
  EXPECT_NE(readText("c:\\telvaris\\MQTT.log"), "");
}

TEST(WineDatagrams, OscAndJsonToTheLinuxReceiverAndTheCaptureFile) {
  const int port = std::atoi(winetest::peer("TLV_TEST_UDP_PORT").c_str());
  ASSERT_GT(port, 0);
  CreateDirectoryA("c:\\telvaris", nullptr);
  ASSERT_EQ(InitialiseCloudClient("127.0.0.1", port, 1, "c:\\telvaris\\datagrams.bin"), 0);
  const uint32_t floats[5] = {0x3F800000, 0xC0490FDB, 0, 0x7F7FFFFF, 0x00000001};  // 1, -pi, 0, max, tiny
  EXPECT_EQ(SendOSCPacket("/telvaris/wine", floats), 0);
  const int32_t values[8] = {7, -12, 3, 4, 5, 123456, 0, 0};
  EXPECT_EQ(SendJSONPacket("/lumi", values, 4), 0);
  EXPECT_EQ(TerminateCloudClient(), 0);
  EXPECT_EQ(readText("c:\\telvaris\\datagrams.bin").size(), 72u + std::strlen("{address:\"/lumi\",args:[-12,123456,1023,1023]},"));
}

TEST(WineFixedFiles, LogsCallbackAndExportLandOnDriveC) {
  CreateDirectoryA("c:\\telvaris", nullptr);
  CreateDirectoryA("c:\\telvaris\\export", nullptr);
  ASSERT_EQ(SetDebugMode(0, 1, "c:\\telvaris.log"), TLV_LOG_OK);
  EXPECT_EQ(InsertLogMessage("wine", "a line from wine"), TLV_LOG_OK);
  EXPECT_EQ(SetDebugMode(0, 0, "c:\\telvaris.log"), TLV_LOG_OK);

  DeleteFileA("c:\\telvaris\\callback.txt");
  EXPECT_EQ(tlAPIStartRecording(), -1);  // nothing registered: nothing logged
  EXPECT_EQ(tlAPISetupCallback(0, onCallback), 0);
  EXPECT_EQ(tlAPIStartRecording(), 0);
  // A real OLE Automation string: the system knows its length.
  ASSERT_NE(g_received, nullptr);
  EXPECT_EQ(SysStringLen(reinterpret_cast<BSTR>(g_received)), 17u);
  EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(g_received)), L"Callback from DLL");
  // Written in text mode: each line ends in CR LF on Windows.
  EXPECT_EQ(readText("c:\\telvaris\\callback.txt"), "TlAPISetupCallBack\r\nCALLBACK!\r\n");

  double amplitudes[256] = {}, thresholds[256] = {};
  int32_t modalities[256] = {};
  amplitudes[1] = 1.5;
  amplitudes[2] = 2.25;
  amplitudes[3] = -3;
  amplitudes[4] = 100000;
  ASSERT_EQ(tlAPISetFeedbackValues(amplitudes, thresholds, modalities), 0);
  ASSERT_EQ(tlAPIWriteValues(5), 0);
  EXPECT_EQ(readText("c:\\telvaris\\export\\datachan.txt"), "    1.5000    2.2500   -3.0000100000.0000");
}

// telvaris.dll as its callers see it: loaded by file name, every name of the
// export list bound, undecorated; a decorated name is not there.
TEST(WineExports, EveryListedNameResolvesInTheDll) {
  platform::DynamicLibrary lib;
  ASSERT_TRUE(lib.open("telvaris.dll")) << lib.error();
  std::ifstream def(winetest::peer("TLV_TEST_DEF"));
  ASSERT_TRUE(def) << "cannot read the export list";
  int names = 0;
  bool inExports = false;
  for (std::string line; std::getline(def, line);) {
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == ';') continue;
    const std::string word = line.substr(start, line.find_first_of(" \t\r", start) - start);
    if (word == "EXPORTS") {
      inExports = true;
    } else if (inExports) {
      EXPECT_NE(lib.symbol(word.c_str()), nullptr) << word;
      ++names;
    }
  }
  EXPECT_GT(names, 60);
  EXPECT_EQ(lib.symbol("ReportVersion@12"), nullptr);
  auto reportVersion = lib.function<decltype(&::ReportVersion)>("ReportVersion");
  ASSERT_NE(reportVersion, nullptr);
  int32_t major = -1, minor = -1, build = -1;
  EXPECT_EQ(reportVersion(&major, &minor, &build), 0);
  EXPECT_EQ(major, TELVARIS_VERSION_MAJOR);
  EXPECT_EQ(minor, TELVARIS_VERSION_MINOR);
}
