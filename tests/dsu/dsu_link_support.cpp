#include "dsu_link_support.h"

#include <filesystem>
#include <regex>
#include <sstream>

#include "dsu/link_settings.h"
#include "dsu/port_scan.h"
#include "dsu/serial_wire.h"
#include "dsu/stop_token.h"
#include "platform/pseudo_terminal.h"
#include "platform/serial_device.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace dsutest {

void resetLink() {
  dsu::LinkSettings& s = dsu::linkSettings();
  s.hintPort = 0;
  s.scanOverride = 0;
  s.baudCode = 9;
  s.packetLength = 14;
  s.scanDelayMs = 200;
  s.scanPortWaitMs = 2000;
  s.sendingMode = 1;
  s.earlyV3 = 0;
  s.rate512Requested = 0;
  s.firstPort = 1;
  s.lastPort = 50;
  s.readDelayMs = 100;
  s.activeComPort = 0;
  SetDataTransferMode(0, "", 0, "", "", "", "", "", "");
  dsu::sessionStop().reset();
  dsu::clearCandidates();
  for (int32_t port = 0; port < comports::kPortCount; ++port) {
    if (dsu::wire::isOpen(port)) dsu::wire::close(port);
  }
}

void hideMachinePorts(const std::string& root) {
  for (int com : platform::listComPorts()) {
    const std::filesystem::path link = platform::comLinkPath(root, com);
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(root + "/no-such-device", link);
  }
}

std::vector<std::string> logMessages(const std::string& path) {
  static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] - )");
  std::vector<std::string> out;
  std::istringstream in(fixtures::readFile(path));
  for (std::string line; std::getline(in, line);) out.push_back(std::regex_replace(line, stamp, ""));
  return out;
}

std::vector<std::string> messagesFrom(const std::vector<std::string>& all, const std::string& from) {
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i] == from) return {all.begin() + static_cast<long>(i), all.end()};
  }
  return all;
}

size_t countMatching(const std::vector<std::string>& messages, const std::string& pattern) {
  const std::regex re(pattern);
  size_t n = 0;
  for (const auto& m : messages) n += std::regex_match(m, re) ? 1 : 0;
  return n;
}

void DsuLinkTest::SetUp() {
  resetLink();
  hideMachinePorts(root.path());
  SaveVersionInfo(0, 0, 0);
  ASSERT_EQ(SetDebugMode(0, 1, logPath().c_str()), 0);
}

void DsuLinkTest::TearDown() {
  SetDebugMode(0, 0, nullptr);
  resetLink();
}

}  // namespace dsutest
