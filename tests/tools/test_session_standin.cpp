// The main-application stand-in publishes its decisions through the real
// library's MQTT mode; an outside subscriber sees them on the publish topic.
// With a DSU (the simulator on a pseudo-terminal) the decisions follow the
// amplitude of one band of one channel.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "fixtures/child_process.h"
#include "fixtures/dsu_simulator.h"
#include "fixtures/mosquitto_broker.h"
#include "fixtures/temp_root.h"

namespace {

TEST(SessionStandin, PublishesOneDecisionPerPeriodThenEnds) {
  fixtures::TempRoot root;
  fixtures::MosquittoBroker broker;
  fixtures::OutsideSubscriber listener(broker, "lab/decisions", 12);
  fixtures::ChildProcess standin;
  standin.start({SESSION_STANDIN_PATH, "--port", std::to_string(broker.port()), "--topic", "lab/decisions",
                 "--count", "12", "--period", "20", "--cycle", "1", "--quiet"},
                {{"TELVARIS_ROOT", root.path()}}, root.file("standin.log"));
  int status = -1;
  ASSERT_TRUE(standin.waitExit(20000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << fixtures::readFile(root.file("standin.log"));
  const std::string payloads = listener.payloads();
  // Twelve bare words, no separators; over a whole cycle both kinds occur.
  EXPECT_TRUE(std::regex_match(payloads, std::regex("((inhibit)|(reward)){12}"))) << payloads;
  EXPECT_NE(payloads.find("inhibit"), std::string::npos);
  EXPECT_NE(payloads.find("reward"), std::string::npos);
}

// The decisions as a string of R (reward) and I (inhibit).
std::string decisions(const std::string& payloads) {
  std::string out;
  const std::regex word("inhibit|reward");
  for (auto it = std::sregex_iterator(payloads.begin(), payloads.end(), word); it != std::sregex_iterator(); ++it)
    out += (*it)[0].str() == "reward" ? 'R' : 'I';
  return out;
}

TEST(SessionStandin, DecidesFromTheAlphaBandOfTheChannelItAcquires) {
  fixtures::TempRoot root;
  fixtures::MosquittoBroker broker;
  // Channel 0: 10 Hz for a second, then a second of nothing, and so on;
  // channel 1: as strong, but at 30 Hz, outside the alpha band.
  fixtures::DsuSimulator dsu(DSU_SIM_PATH, 6, {"--channel", "0=burst:10:200:1", "--channel", "1=sine:30:200"});
  std::string seen[2];
  for (int run = 0; run < 2; ++run) {
    const int count = run == 0 ? 40 : 10;
    fixtures::OutsideSubscriber listener(broker, "lab/decisions", count);
    fixtures::ChildProcess standin;
    const std::string log = root.file("standin-" + std::to_string(run) + ".log");
    standin.start({SESSION_STANDIN_PATH, "--port", std::to_string(broker.port()), "--topic", "lab/decisions",
                   "--com", "6", "--channel", std::to_string(run), "--count", std::to_string(count), "--period",
                   "100", "--threshold", "50"},
                  {}, log);
    int status = -1;
    ASSERT_TRUE(standin.waitExit(40000, &status)) << fixtures::readFile(log);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << fixtures::readFile(log);
    seen[run] = decisions(listener.payloads());
    ASSERT_EQ(seen[run].size(), static_cast<size_t>(count)) << fixtures::readFile(log);
    const std::string text = fixtures::readFile(log);
    const std::regex ended(R"(ended after (\d+) decisions \(\d+ rewards\) made from (\d+) packets acquired on COM6)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, ended)) << text;
    EXPECT_EQ(std::stoi(m[1]), count);
    // A decision a tenth of a second, from 256 packets a second.
    EXPECT_GT(std::stoi(m[2]), count * 10) << text;
  }
  // The bursts: runs of rewards and of inhibits about a second long (a
  // decision a tenth of a second), not a coin toss.
  const std::string& bursts = seen[0];
  EXPECT_NE(bursts.find("RRRRR"), std::string::npos) << bursts;
  EXPECT_NE(bursts.find("IIIII"), std::string::npos) << bursts;
  int switches = 0;
  for (size_t i = 1; i < bursts.size(); ++i) switches += bursts[i] != bursts[i - 1];
  EXPECT_GE(switches, 2) << bursts;
  EXPECT_LE(switches, 6) << bursts;
  // The band-pass keeps 30 Hz out, however strong.
  EXPECT_EQ(seen[1], std::string(10, 'I'));
  // Each session stopped the stream twice on the serial line: once as the
  // port scan found the unit, once at its end (while the decisions went by
  // MQTT).
  const std::string said = dsu.output();
  int stopped = 0;
  for (size_t at = said.find("stream stopped after"); at != std::string::npos; at = said.find("stream stopped after", at + 1))
    ++stopped;
  EXPECT_EQ(stopped, 4) << said;
}

TEST(SessionStandin, RefusesBadArgumentsAndAMissingBroker) {
  fixtures::TempRoot root;
  fixtures::ChildProcess standin;
  int status = -1;
  standin.start({SESSION_STANDIN_PATH, "--port", "99999", "--topic", "t"});
  ASSERT_TRUE(standin.waitExit(5000, &status));
  EXPECT_EQ(WEXITSTATUS(status), 2);

  const int unused = fixtures::freeLoopbackPort();
  standin.start({SESSION_STANDIN_PATH, "--port", std::to_string(unused), "--topic", "t"},
                {{"TELVARIS_ROOT", root.path()}});
  ASSERT_TRUE(standin.waitExit(40000, &status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "no broker answers";
}

}  // namespace
