// What the DSU link's tests share: the link's settings back at their
// defaults, the machine's own serial ports kept out of a test's root, and
// the debug log read as messages.
#pragma once

#include <string>
#include <vector>

#include "fixtures/temp_root.h"

namespace dsutest {

constexpr const char* kSimulator = DSU_SIM_PATH;

// Defaults of every setting, serial road, nothing held open.
void resetLink();

// Every COM number that exists on this machine becomes, under the test's
// root, a link to nothing: scans and listings see only the test's ports.
void hideMachinePorts(const std::string& root);

// The log's lines without their time stamps (a line without one is kept
// whole).
std::vector<std::string> logMessages(const std::string& path);
// The messages from the first that equals `from` on (all when absent).
std::vector<std::string> messagesFrom(const std::vector<std::string>& all, const std::string& from);
// How many messages match the regular expression.
size_t countMatching(const std::vector<std::string>& messages, const std::string& pattern);

// A test with its own root, the machine's ports hidden, the link reset and
// the debug log on (logPath()).
class DsuLinkTest : public fixtures::RootedTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string logPath() const { return root.file("dsu.log"); }
  std::vector<std::string> log() const { return logMessages(logPath()); }
};

}  // namespace dsutest
