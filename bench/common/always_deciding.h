// A telvaris link for benchmarks that always has a decision ready,
// alternately inhibit and reward, so a feedback tick never waits.
#pragma once

#include <cstdint>
#include <string>

#include "link/telvaris_link.h"

namespace benchutil {

class AlwaysDeciding : public lumidrop::TelvarisLink {
 public:
  int32_t ReportVersion(int32_t& a, int32_t& b, int32_t& c) override { return a = b = c = 0; }
  int32_t initialiseMQTTConnection(const std::string&, int32_t, const std::string&, int32_t) override { return 0; }
  int32_t subscribeToMQTTConnection(const std::string&) override { return 0; }
  int32_t unsubscribeFromMQTTConnection(const std::string&) override { return 0; }
  int32_t terminateMQTTConnection() override { return 0; }
  int32_t tlMQTTRetrieveFeedbackInformation() override { return next_ ^= 1; }

 private:
  int32_t next_ = 0;
};

}  // namespace benchutil
