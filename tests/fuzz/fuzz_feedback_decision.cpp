// The feedback payload decision: a message off the relay service's topic,
// taken as tlMQTTRetrieveFeedbackInformation takes it (2047 bytes at most,
// read as text up to its first zero byte). Delimiters only separate tokens,
// so more of them around the text never change the decision.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "net/feedback_decision.h"
#include "net/mqtt_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char text[net::mqtt::kFeedbackBufferSize];
  const size_t kept = size < sizeof text - 1 ? size : sizeof text - 1;
  for (size_t i = 0; i < kept; ++i) text[i] = static_cast<char>(data[i]);
  text[kept] = '\0';

  const int32_t decision = net::decideFeedback(text);
  fuzzsupport::require(decision == net::kInhibit || decision == net::kReward || decision == net::kNoDecision,
                       "a decision is inhibit, reward or none");
  const std::string plain(text);
  fuzzsupport::require(net::decideFeedback("{\" " + plain + "\" ,}") == decision,
                       "delimiters around the text change nothing");
  return 0;
}
