// The main-application stand-in publishes its decisions through the real
// library's MQTT mode; an outside subscriber sees them on the publish topic.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "fixtures/child_process.h"
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
