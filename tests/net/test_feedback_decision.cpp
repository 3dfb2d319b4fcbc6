// How the text of a feedback message becomes a decision.
#include <gtest/gtest.h>

#include <string>

#include "net/feedback_decision.h"

namespace {

using net::decideFeedback;

TEST(FeedbackDecision, TheSecondTokenOfAnObjectDecides) {
  EXPECT_EQ(decideFeedback(R"({"feedback":"inhibit"})"), 0);
  EXPECT_EQ(decideFeedback(R"({"feedback":"reward"})"), 1);
  // Seven characters are compared, so a longer word that begins with them counts.
  EXPECT_EQ(decideFeedback(R"({"feedback":"inhibited"})"), 0);
  // Any other word is a reward.
  EXPECT_EQ(decideFeedback(R"({"feedback":"neutral"})"), 1);
  EXPECT_EQ(decideFeedback(R"({"feedback":"inhibi"})"), 1);
  EXPECT_EQ(decideFeedback(R"({"feedback":"Inhibit"})"), 1);
}

TEST(FeedbackDecision, TheKeyIsNotExaminedAndLaterTokensDoNotCount) {
  EXPECT_EQ(decideFeedback(R"({"inhibit":"reward"})"), 1);
  EXPECT_EQ(decideFeedback(R"({"x":"inhibit","y":"reward"})"), 0);
  EXPECT_EQ(decideFeedback(R"({"x":"reward","y":"inhibit"})"), 1);
}

TEST(FeedbackDecision, RunsOfDelimitersMakeNoEmptyTokens) {
  EXPECT_EQ(decideFeedback(R"({ "feedback" : "inhibit" })"), 0);
  EXPECT_EQ(decideFeedback(",,:: {{ key ,,\" inhibit"), 0);
  EXPECT_EQ(decideFeedback("key inhibit"), 0);
  EXPECT_EQ(decideFeedback("{key:inhibit}"), 0);
  // Tab and line end are not delimiters: they stay inside a token.
  EXPECT_EQ(decideFeedback("key\tinhibit"), -1);
  EXPECT_EQ(decideFeedback("key \ninhibit"), 1);
}

TEST(FeedbackDecision, ALongTokenStillDecidesByItsStart) {
  EXPECT_EQ(decideFeedback("k inhibit" + std::string(100, 'x')), 0);
  EXPECT_EQ(decideFeedback(std::string(100, 'k') + " inhibit"), 0);
}

TEST(FeedbackDecision, ASingleTokenDecidesByItself) {
  // The bare words a main application publishes.
  EXPECT_EQ(decideFeedback("inhibit"), 0);
  EXPECT_EQ(decideFeedback("reward"), 1);
  EXPECT_EQ(decideFeedback(R"({"inhibited"})"), 0);
  EXPECT_EQ(decideFeedback("rewarded"), 1);
  EXPECT_EQ(decideFeedback("start"), -1);
  EXPECT_EQ(decideFeedback(R"({"feedback"})"), -1);
}

TEST(FeedbackDecision, NoTokenGivesNoDecision) {
  EXPECT_EQ(decideFeedback(""), -1);
  EXPECT_EQ(decideFeedback("{}"), -1);
  EXPECT_EQ(decideFeedback(R"({"":""})"), -1);
  EXPECT_EQ(decideFeedback("   ,,,"), -1);
}

}  // namespace
