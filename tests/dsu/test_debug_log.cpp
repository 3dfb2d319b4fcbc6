#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dsu/debug_log.h"
#include "fixtures/temp_root.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace {

const std::string kStamp = R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] - )";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool stamped(const std::string& line, const std::string& message) {
  return std::regex_match(line, std::regex(kStamp + message));
}

class DebugLog : public fixtures::RootedTest {
 protected:
  void SetUp() override { SaveVersionInfo(0, 0, 0); }
  void TearDown() override { SetDebugMode(0, 0, nullptr); }
  std::string path() const { return root.file("debug.log"); }
};

TEST_F(DebugLog, ModeOneWritesTheHeaderIntoAnEmptiedFile) {
  fixtures::writeFile(path(), "old content\n");
  SaveVersionInfo(3, 2, 17);
  ASSERT_EQ(SetDebugMode(0, 1, path().c_str()), 0);
  EXPECT_TRUE(dsu::loggingOn());
  const auto text = lines(fixtures::readFile(path()));
  ASSERT_EQ(text.size(), 2u);
  EXPECT_TRUE(stamped(text[0], R"(Telvaris DLL v5\.0\.1 Debug Listing)")) << text[0];
  EXPECT_TRUE(stamped(text[1], R"(Using Telvaris version 3\.2\.17)")) << text[1];
  EXPECT_EQ(text[0].find("] - "), 20u) << "a 24-character prefix";
}

TEST_F(DebugLog, ModeTwoAppendsAfterTheOldContent) {
  fixtures::writeFile(path(), "kept line\n");
  ASSERT_EQ(SetDebugMode(0, 2, path().c_str()), 0);
  ASSERT_EQ(InsertLogMessage("Tag", "text"), 0);
  const auto text = lines(fixtures::readFile(path()));
  ASSERT_EQ(text.size(), 4u);
  EXPECT_EQ(text[0], "kept line");
  EXPECT_TRUE(stamped(text[1], "Telvaris DLL v5\\.0\\.1 Debug Listing"));
  EXPECT_TRUE(stamped(text[3], "Tag: text"));
}

TEST_F(DebugLog, ASecondOpenKeepsTheFirstFile) {
  ASSERT_EQ(SetDebugMode(0, 1, path().c_str()), 0);
  const std::string other = root.file("other.log");
  EXPECT_EQ(SetDebugMode(0, 1, other.c_str()), 0);
  EXPECT_FALSE(fixtures::pathExists(other));
  InsertLogMessage("A", "still here");
  EXPECT_TRUE(stamped(lines(fixtures::readFile(path())).back(), "A: still here"));
}

TEST_F(DebugLog, InsertLogMessageWithLoggingOffWritesNothing) {
  EXPECT_EQ(InsertLogMessage("Tag", "lost"), 1);
  ASSERT_EQ(SetDebugMode(0, 1, path().c_str()), 0);
  EXPECT_EQ(InsertLogMessage("Tag", "%s and %d stay as typed"), 0);
  EXPECT_EQ(InsertLogMessage(nullptr, nullptr), 0);
  ASSERT_EQ(SetDebugMode(0, 0, nullptr), 0);
  EXPECT_FALSE(dsu::loggingOn());
  EXPECT_EQ(InsertLogMessage("Tag", "after close"), 1);
  const std::string text = fixtures::readFile(path());
  EXPECT_EQ(text.find("lost"), std::string::npos);
  EXPECT_EQ(text.find("after close"), std::string::npos);
  const auto all = lines(text);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_TRUE(stamped(all[2], "Tag: %s and %d stay as typed"));
  EXPECT_TRUE(stamped(all[3], ": "));
}

TEST_F(DebugLog, AFileThatCannotBeOpenedLeavesLoggingOff) {
  EXPECT_EQ(SetDebugMode(0, 1, root.file("no/such/folder/x.log").c_str()), -1);
  EXPECT_EQ(SetDebugMode(0, 1, nullptr), -1);
  EXPECT_FALSE(dsu::loggingOn());
  EXPECT_EQ(InsertLogMessage("T", "m"), 1);
}

TEST_F(DebugLog, DriveLetterPathsAreMapped) {
  ASSERT_EQ(SetDebugMode(0, 1, "C:\\mapped.log"), 0);
  InsertLogMessage("Where", "root");
  EXPECT_NE(fixtures::readFile(root.file("mapped.log")).find("Where: root"), std::string::npos);
}

TEST_F(DebugLog, SessionStartSwitchesOnWhenTheFixedFileExists) {
  dsu::startLogIfPresent();
  EXPECT_FALSE(dsu::loggingOn()) << "no c:\\telvaris.log";

  fixtures::writeFile(root.file("telvaris.log"), "previous session\n");
  SaveVersionInfo(1, 4, 2);
  dsu::startLogIfPresent();
  EXPECT_TRUE(dsu::loggingOn());
  dsu::log("Sending 'RING'\n");
  dsu::log("DSU reports protocol is set to ");
  dsu::logMore("IBVA\n");
  const auto text = lines(fixtures::readFile(root.file("telvaris.log")));
  ASSERT_EQ(text.size(), 4u);
  EXPECT_TRUE(stamped(text[1], R"(Using Telvaris version 1\.4\.2)"));
  EXPECT_TRUE(stamped(text[2], "Sending 'RING'"));
  EXPECT_TRUE(stamped(text[3], "DSU reports protocol is set to IBVA")) << text[3];
}

TEST_F(DebugLog, ErrorReportNamesTheSystemErrorOrTheCode) {
  ASSERT_EQ(SetDebugMode(0, 1, path().c_str()), 0);
  EXPECT_EQ(dsu::reportError(5), 5);
  EXPECT_EQ(dsu::reportError(-111), -111);
  ASSERT_EQ(comports::PortOpen(220, 100, 100), comports::kSystemError);
  EXPECT_EQ(dsu::reportError(comports::kSystemError), comports::kSystemError);
  const auto text = lines(fixtures::readFile(path()));
  ASSERT_GE(text.size(), 4u);
  EXPECT_TRUE(stamped(text[2], "Errorcheck code=-111"));
  EXPECT_TRUE(stamped(text[3], R"(Windows Error \d+: The system cannot find the port specified\.\r)")) << text[3];
}

TEST_F(DebugLog, LinesFromTwoThreadsStayWhole) {
  ASSERT_EQ(SetDebugMode(0, 1, path().c_str()), 0);
  auto writer = [](const char* tag) {
    for (int i = 0; i < 200; ++i) InsertLogMessage(tag, "a message of some length to interleave");
  };
  std::thread a(writer, "reader"), b(writer, "caller");
  a.join();
  b.join();
  const auto text = lines(fixtures::readFile(path()));
  ASSERT_EQ(text.size(), 402u);
  for (size_t i = 2; i < text.size(); ++i)
    EXPECT_TRUE(stamped(text[i], "(reader|caller): a message of some length to interleave")) << text[i];
}

TEST(Version, AlwaysFiveZeroOne) {
  int32_t major = 0, minor = 9, build = 9;
  EXPECT_EQ(ReportVersion(&major, &minor, &build), 0);
  EXPECT_EQ(major, 5);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(build, 1);
  EXPECT_EQ(SaveVersionInfo(7, 7, 7), 0);
  EXPECT_EQ(ReportVersion(&major, nullptr, nullptr), 0);
  EXPECT_EQ(major, 5);
  EXPECT_EQ(SetDebugLevel(0, 3), 0);
  EXPECT_EQ(dsu::debugLevel(), 3);
  SetDebugLevel(0, 1);
}

}  // namespace
