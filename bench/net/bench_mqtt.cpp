// How fast a feedback decision travels over the MQTT link and a loopback
// mosquitto: from publishToMQTTConnection to tlMQTTRetrieveFeedbackInformation
// returning it (median and 99th percentile), how many decisions a second
// the link sustains, and the same trip through the relay service stand-in.
#include <benchmark/benchmark.h>

#include "common/percentiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/mosquitto_broker.h"
#include "fixtures/relay_service.h"
#include "telvaris.h"

namespace {

using Clock = std::chrono::steady_clock;

fixtures::MosquittoBroker& broker() {
  static fixtures::MosquittoBroker b;
  return b;
}

bool connectLink(const char* clientId, const std::string& topic) {
  return initialiseMQTTConnection(fixtures::MosquittoBroker::kAddress, broker().port(), clientId, 0) == 0 &&
         subscribeToMQTTConnection(topic.c_str()) == 0;
}

// Waits for the next decision; -1 only when nothing came for a second.
int32_t awaitDecision() {
  for (int i = 0; i < 20; ++i) {
    const int32_t decision = tlMQTTRetrieveFeedbackInformation();
    if (decision >= 0) return decision;
  }
  return -1;
}

// Times each trip from `publish(decision)` (inhibit and reward in turn) to
// tlMQTTRetrieveFeedbackInformation returning that decision; reports the
// median, 99th percentile and worst trip.
template <typename Publish>
void timeDecisionTrips(benchmark::State& state, Publish publish) {
  benchutil::Latencies latencies;
  latencies.reserve(static_cast<size_t>(state.max_iterations));
  int n = 0;
  for (auto _ : state) {
    const int expected = n++ % 2;
    const auto start = Clock::now();
    publish(expected);
    const int32_t decision = awaitDecision();
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    state.SetIterationTime(us / 1e6);
    latencies.addMicroseconds(us);
    if (decision != expected) {
      state.SkipWithError("wrong or missing decision");
      break;
    }
  }
  latencies.report(state);
}

// Publish a feedback object, take it back as a decision: one trip through the broker.
void BM_PublishToDecision(benchmark::State& state) {
  const std::string topic = "/pelorvantis/bench@example.org/feedback";
  if (!connectLink("C1-bench@example.org", topic)) {
    state.SkipWithError("no connection to the broker");
    return;
  }
  const char* payloads[2] = {R"({"feedback":"inhibit"})", R"({"feedback":"reward"})"};
  timeDecisionTrips(state, [&](int decision) { publishToMQTTConnection(topic.c_str(), payloads[decision]); });
  terminateMQTTConnection();
}
BENCHMARK(BM_PublishToDecision)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);

// One thread publishes decisions as fast as the receiver keeps up (at most
// `window` under way), the other takes them: decisions a second sustained.
void BM_SustainedDecisions(benchmark::State& state) {
  const std::string topic = "bench/sustained";
  const int window = static_cast<int>(state.range(0));
  if (!connectLink("sustained", topic)) {
    state.SkipWithError("no connection to the broker");
    return;
  }
  constexpr int kDecisions = 20000;
  int64_t total = 0;
  for (auto _ : state) {
    std::atomic<int> taken {0};
    std::thread publisher([&] {
      for (int sent = 0; sent < kDecisions; ++sent) {
        while (sent - taken.load(std::memory_order_acquire) >= window) std::this_thread::yield();
        publishToMQTTConnection(topic.c_str(), sent % 2 ? "reward" : "inhibit");
      }
    });
    int missing = 0;
    while (taken < kDecisions && missing < 20) {
      if (tlMQTTRetrieveFeedbackInformation() >= 0) {
        taken.fetch_add(1, std::memory_order_release);
        missing = 0;
      } else {
        ++missing;
      }
    }
    if (taken < kDecisions) taken = kDecisions;  // let the publisher finish
    publisher.join();
    total += kDecisions;
  }
  state.SetItemsProcessed(total);
  terminateMQTTConnection();
}
BENCHMARK(BM_SustainedDecisions)
    ->Arg(1)
    ->Arg(16)
    ->Arg(256)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The main application's "inhibit" through the relay service stand-in to the
// fading program's decision: two trips through the broker and one process.
void BM_ThroughTheRelayService(benchmark::State& state) {
  const std::string email = "relay-bench@example.org";
  const std::string feedback = "/pelorvantis/" + email + "/feedback";
  const std::string appTopic = "bench/app/publish";
  fixtures::RelayService relay(RELAY_SERVICE_PATH, broker(), email, appTopic);
  if (!connectLink("C1-relay-bench", feedback)) {
    state.SkipWithError("no connection to the broker");
    return;
  }
  // As the shared block publishes a decision in MQTT mode.
  timeDecisionTrips(state, [&](int decision) {
    publishToMQTTConnectionWithLength(appTopic.c_str(), decision ? "reward" : "inhibit", decision ? 6 : 7);
  });
  terminateMQTTConnection();
}
BENCHMARK(BM_ThroughTheRelayService)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
